#pragma once

// What FoldedNames keeps of a block of names, shared by its files.
#include "store/search/FoldedNames.h"

#include "store/text/TextFold.h"

#include <algorithm>
#include <string_view>

namespace tarvik {

// Which of the one-letter texts people type first a name contains, one bit each: the
// printable ASCII characters other than capitals (keys are folded) and the folded Cyrillic
// letters (UTF-8 D0 B0..BF, D1 80..9F). A one-letter search then reads sixteen bytes a
// name instead of the whole name. The bits record byte sequences, exactly what the byte
// search looks for, so they answer such a search exactly, whatever the bytes are.
struct Letters {
    std::uint64_t bits[2] = {0, 0};
};

inline constexpr int kNoSlot = -1;

inline int asciiSlot(unsigned char c)
{
    if (c < 0x20 || c > 0x7E || (c >= 'A' && c <= 'Z'))
        return kNoSlot;
    return c < 'A' ? c - 0x20 : c <= 'Z' ? kNoSlot : c - 0x20 - 26; // 0..68
}

inline int pairSlot(unsigned char lead, unsigned char next)
{
    if (lead == 0xD0 && next >= 0xB0 && next <= 0xBF)
        return 69 + (next - 0xB0); // а..п
    if (lead == 0xD1 && next >= 0x80 && next <= 0x9F)
        return 85 + (next - 0x80); // р..я, ѐ..џ
    return kNoSlot;
}

// The slot of a needle that is one such letter, else kNoSlot.
inline int slotOf(std::string_view needle)
{
    if (needle.size() == 1)
        return asciiSlot(static_cast<unsigned char>(needle[0]));
    if (needle.size() == 2)
        return pairSlot(static_cast<unsigned char>(needle[0]),
                        static_cast<unsigned char>(needle[1]));
    return kNoSlot;
}

// Above the letters' slots: the key is not in the form nameKeyOf() writes, so a pattern's
// plain runs say nothing about its bytes.
inline constexpr int kOddKeySlot = 127;

inline bool isOdd(const Letters& letters)
{
    return (letters.bits[1] >> (kOddKeySlot - 64)) & 1;
}

// The letters of a key, and whether it is in the program's own form.
Letters lettersOf(std::string_view key);

struct FoldedNames::Block {
    std::vector<char> bytes; // the names back to back, then byteSearch::kPadding spare bytes
    std::vector<std::uint32_t> ends;
    std::vector<qint64> ids;
    std::vector<Kind> kinds;
    std::vector<Letters> letters;
    std::uint32_t odd = 0; // names not in the program's own form

    Block() { bytes.resize(byteSearch::kPadding); }

    std::size_t count() const { return ids.size(); }
    std::size_t used() const { return bytes.size() - byteSearch::kPadding; }
    std::uint32_t begin(std::size_t i) const { return i ? ends[i - 1] : 0; }
    std::string_view key(std::size_t i) const
    {
        return {bytes.data() + begin(i), ends[i] - begin(i)};
    }

    // Whether row i sorts before (kind, key, id), the engine's order for the key column
    // and then the row id.
    bool before(std::size_t i, Kind kind, std::string_view key_, qint64 id) const
    {
        if (kinds[i] != kind)
            return kinds[i] < kind;
        const int c = key(i).compare(key_);
        return c != 0 ? c < 0 : ids[i] < id;
    }

    void insertAt(std::size_t i, qint64 id, Kind kind, std::string_view key_)
    {
        const std::uint32_t at = begin(i);
        bytes.insert(bytes.begin() + at, key_.begin(), key_.end());
        ends.insert(ends.begin() + std::ptrdiff_t(i), at);
        for (std::size_t k = i; k < ends.size(); ++k)
            ends[k] += std::uint32_t(key_.size());
        ids.insert(ids.begin() + std::ptrdiff_t(i), id);
        kinds.insert(kinds.begin() + std::ptrdiff_t(i), kind);
        letters.insert(letters.begin() + std::ptrdiff_t(i), lettersOf(key_));
        odd += isOdd(letters[i]) ? 1 : 0;
    }

    void removeAt(std::size_t i)
    {
        const std::uint32_t from = begin(i), length = ends[i] - from;
        bytes.erase(bytes.begin() + from, bytes.begin() + from + length);
        ends.erase(ends.begin() + std::ptrdiff_t(i));
        for (std::size_t k = i; k < ends.size(); ++k)
            ends[k] -= length;
        ids.erase(ids.begin() + std::ptrdiff_t(i));
        kinds.erase(kinds.begin() + std::ptrdiff_t(i));
        odd -= isOdd(letters[i]) ? 1 : 0;
        letters.erase(letters.begin() + std::ptrdiff_t(i));
    }

    // Names whose key holds the keyed text `needle` (keyContains), by the letters' bits
    // when it is one letter, else by the byte search.
    void findText(std::string_view needle, byteSearch::Kernel kernel,
                  std::vector<std::uint32_t>& hits) const
    {
        const int slot = slotOf(needle);
        if (slot != kNoSlot)
            findLetter(slot, hits);
        else
            byteSearch::find(kernel, bytes.data(), ends.data(), count(), needle, hits);
        if (needle.size() >= 2 && needle.substr(needle.size() - 2) == "\xD0\xB5")
            // the bytes also matched the е of an ё
            hits.erase(
                std::remove_if(hits.begin(), hits.end(),
                               [&](std::uint32_t hit) { return !keyContains(key(hit), needle); }),
                hits.end());
    }

    // Names that contain the letter of `slot`.
    void findLetter(int slot, std::vector<std::uint32_t>& hits) const
    {
        const std::size_t word = std::size_t(slot) >> 6;
        const std::uint64_t bit = std::uint64_t(1) << (slot & 63);
        const std::size_t n = count();
        for (std::size_t i = 0; i < n; ++i) {
            if (letters[i].bits[word] & bit)
                hits.push_back(std::uint32_t(i));
        }
    }
};

} // namespace tarvik
