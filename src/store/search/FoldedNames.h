#pragma once

#include "store/register/PartChange.h"
#include "store/search/ByteSearch.h"

#include <QVector>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace tarvik {

class KeyPattern;

// The folded names of the parts (the key column idFamKey, as the engine's text of it),
// in the order of the parts list: by key, then by row id. Names live in blocks of a few
// thousand, each a single buffer, so a search is one pass over memory and a change moves
// only the bytes of one block.
//
// A key that is not text keeps its place the way the engine sorts it: numbers before
// text, blobs after. A missing key matches no search and is not kept.
class FoldedNames {
public:
    using Kind = KeyKind;

    FoldedNames();
    ~FoldedNames();
    FoldedNames(FoldedNames&&) noexcept;
    FoldedNames& operator=(FoldedNames&&) noexcept;

    // Adds a name after every other one; the caller delivers them in list order.
    void append(qint64 id, Kind kind, std::string_view key);
    // Done appending: gives spare capacity back.
    void squeeze();

    // Adds a name at its place in the order.
    void insert(qint64 id, Kind kind, std::string_view key);
    // Removes the name of row `id`; false when it is not kept.
    bool remove(qint64 id);

    // The rows whose key contains `needle` (bytes), in list order. A needle that contains the
    // previous one (the next keystroke of a word) looks only at the previous hits, when
    // they are few.
    QVector<qint64> find(std::string_view needle,
                         byteSearch::Kernel kernel = byteSearch::best()) const;

    // Where names stand, as (block << 32 | index), in list order: good only for the
    // generation of the names they were taken on.
    using Places = std::vector<std::uint64_t>;

    // Part `index` of `of` of the names, in whole blocks: parts may be matched on threads of
    // their own and their rows joined in order.
    struct Part {
        unsigned index;
        unsigned of;
    };

    // The rows whose key matches `pattern`, in list order; nothing once `cancel` is set. With
    // `among`, only those names are tried (and every name not in the program's own form).
    // `places`, when given, receives where the rows stand, while they are few enough for a
    // narrower search to gain by them; it holds fewer places than rows when they are not. It
    // only reads, so it may run on another thread, as long as no change runs meanwhile.
    std::optional<QVector<qint64>> match(const KeyPattern& pattern,
                                         const std::atomic<bool>* cancel = nullptr,
                                         const Places* among = nullptr, Places* places = nullptr,
                                         Part part = {0, 1}) const;

    qsizetype size() const { return m_size; }
    // Goes up with every change to the names: what was found before a change says nothing
    // about the names after it.
    std::uint64_t generation() const { return m_generation; }
    // Bytes held, buffers and bookkeeping together.
    std::size_t memoryBytes() const;

private:
    struct Block;
    Block& blockForAppend();
    void split(std::size_t blockIndex);

    QVector<qint64> findAmong(std::string_view needle) const;
    void changed() { ++m_generation; }

    std::vector<std::unique_ptr<Block>> m_blocks;
    qsizetype m_size = 0;
    std::uint64_t m_generation = 0;

    // The previous search's hits as (block << 32 | name), good only for the generation of the
    // names it was made on: an insert or removal moves names between and within blocks.
    struct LastSearch {
        bool valid = false;
        std::uint64_t generation = 0;
        std::string needle;
        std::vector<std::uint64_t> hits;
    };
    mutable LastSearch m_last;
};

} // namespace tarvik
