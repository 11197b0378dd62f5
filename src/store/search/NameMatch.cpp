// Patterns matched against the names: the previous keystroke's hits, the byte search and
// the letters' bits decide which names the matcher sees.
#include "store/search/FoldedNames.h"

#include "store/search/NameBlock.h"

#include "store/text/KeyedChars.h"
#include "store/text/LikePattern.h"

#include <algorithm>
#include <iterator>
#include <numeric>

namespace tarvik {

namespace {

// The letters' bits of the characters one may be, where they answer for it exactly: in a key
// in the program's own form the bytes of such a letter are that letter and nothing else, but
// for е, whose bytes also begin an ё.
std::optional<Letters> lettersFor(const KeySegments::OneOf& one)
{
    Letters mask;
    for (const char32_t c : one.chars) {
        int slot = kNoSlot;
        if (c < 0x80)
            slot = asciiSlot(static_cast<unsigned char>(c));
        else if (c >= 0x430 && c < 0x460 && c != 0x435 && c != 0x451)
            slot = c < 0x440 ? pairSlot(0xD0, static_cast<unsigned char>(0xB0 + (c - 0x430)))
                             : pairSlot(0xD1, static_cast<unsigned char>(0x80 + (c - 0x440)));
        if (slot == kNoSlot)
            return std::nullopt;
        mask.bits[slot >> 6] |= std::uint64_t(1) << (slot & 63);
    }
    return mask;
}

} // namespace

std::optional<QVector<qint64>> FoldedNames::match(const KeyPattern& pattern,
                                                  const std::atomic<bool>* cancel,
                                                  const Places* among, Places* places,
                                                  Part part) const
{
    // A name costs at most pattern length x name length steps, so a few dozen names
    // between looks keep a cancel prompt whatever the pattern.
    constexpr std::size_t kNamesPerLook = 32;
    // Places are kept while the rows are at most this share of the names: beyond it, the
    // byte search finds the next keystroke's candidates as quickly.
    constexpr qsizetype kKeptShare = 4;
    const std::size_t firstBlock = m_blocks.size() * part.index / part.of;
    const std::size_t endBlock = m_blocks.size() * (part.index + 1) / part.of;
    QVector<qint64> rows;
    if (places)
        places->clear();
    if (!pattern.isValid())
        return rows;
    if (!among)
        rows.reserve(m_size / qsizetype(part.of) + 1); // see find()
    if (pattern.matchesEveryKey() && !among) {
        for (std::size_t b = firstBlock; b < endBlock; ++b)
            rows.append(QVector<qint64>(m_blocks[b]->ids.begin(), m_blocks[b]->ids.end()));
        return rows;
    }
    const auto take = [&](std::size_t b, const std::vector<std::uint32_t>& hits) {
        const Block& block = *m_blocks[b];
        const qsizetype first = rows.size();
        rows.resize(first + qsizetype(hits.size()));
        qint64* out = rows.data() + first;
        for (const std::uint32_t i : hits)
            *out++ = block.ids[i];
        if (places && rows.size() > m_size / kKeptShare / qsizetype(part.of)) {
            places->clear();
            places = nullptr;
        }
        for (const std::uint32_t i : hits) {
            if (places)
                places->push_back(std::uint64_t(b) << 32 | i);
        }
    };
    std::vector<std::uint32_t> hits;
    std::u32string buffer;
    if (!among && !pattern.containedBytes().empty()) {
        // Plain text between stars: what the plain search finds, in keys of every form.
        for (std::size_t b = firstBlock; b < endBlock; ++b) {
            if (cancel && cancel->load(std::memory_order_relaxed))
                return std::nullopt;
            hits.clear();
            m_blocks[b]->findText(pattern.containedBytes(), byteSearch::best(), hits);
            take(b, hits);
        }
        return rows;
    }
    const auto one = pattern.oneCharacter();
    const auto mask = one && !one->any ? lettersFor(*one) : std::nullopt;
    if (!among && one && (one->any || mask)) {
        // One character between stars: in a key of the program's own form, any character is
        // any key that is not empty, and a letter the bits record is its bit.
        for (std::size_t b = firstBlock; b < endBlock; ++b) {
            if (cancel && cancel->load(std::memory_order_relaxed))
                return std::nullopt;
            const Block& block = *m_blocks[b];
            hits.clear();
            for (std::uint32_t i = 0; i < block.count(); ++i) {
                const Letters& letters = block.letters[i];
                const bool hit = isOdd(letters) ? pattern.matches(block.key(i), buffer)
                                 : one->any     ? block.ends[i] > block.begin(i)
                                                : ((letters.bits[0] & mask->bits[0]) |
                                               (letters.bits[1] & mask->bits[1])) != 0;
                if (hit)
                    hits.push_back(i);
            }
            take(b, hits);
        }
        return rows;
    }
    // Only names that hold the bytes of every plain run of the pattern are matched, found
    // by the byte search or the letters' bits, as a plain search finds them; names in
    // another form than the program writes are always matched.
    const std::vector<std::string>& required = pattern.requiredBytes();
    std::vector<int> letterOf;
    for (const std::string& bytes : required)
        letterOf.push_back(slotOf(bytes));
    std::size_t tried = 0;
    bool cancelled = false;
    const auto tryName = [&](std::size_t b, std::size_t i, std::size_t fromRun) {
        if (cancel && ++tried % kNamesPerLook == 0 && cancel->load(std::memory_order_relaxed))
            cancelled = true;
        const Block& block = *m_blocks[b];
        const std::string_view key = block.key(i);
        const Letters& letters = block.letters[i];
        bool found;
        if (isOdd(letters)) {
            found = pattern.matches(key, buffer);
        } else {
            found = true;
            for (std::size_t r = fromRun; found && r < required.size(); ++r) {
                found = letterOf[r] != kNoSlot
                            ? ((letters.bits[letterOf[r] >> 6] >> (letterOf[r] & 63)) & 1)
                            : keyed::find(key, required[r], 0) != key.npos;
            }
            found = found && pattern.matchesKeyedForm(key);
        }
        return found;
    };
    // The previous keystroke's hits are tried alone while they are few; else they only thin
    // out what the byte search finds, which is fewer when a run of the pattern is rare.
    const bool amongAlone = among && (required.empty() || among->size() < std::size_t(m_size) / 16);
    std::vector<std::uint32_t> earlier, both;
    std::size_t next = 0; // into among
    if (among)
        next = std::size_t(
            std::lower_bound(among->begin(), among->end(), std::uint64_t(firstBlock) << 32) -
            among->begin());
    for (std::size_t b = firstBlock; b < endBlock && !cancelled; ++b) {
        const Block& block = *m_blocks[b];
        hits.clear();
        earlier.clear();
        for (; among && next < among->size() && ((*among)[next] >> 32) == b; ++next)
            earlier.push_back(std::uint32_t((*among)[next]));
        std::size_t fromRun = 0;
        if (amongAlone) {
            hits.swap(earlier);
        } else if (!required.empty()) {
            if (letterOf.front() != kNoSlot)
                block.findLetter(letterOf.front(), hits);
            else
                byteSearch::find(byteSearch::best(), block.bytes.data(), block.ends.data(),
                                 block.count(), required.front(), hits);
            fromRun = 1;
            if (among) {
                both.clear();
                std::set_intersection(hits.begin(), hits.end(), earlier.begin(), earlier.end(),
                                      std::back_inserter(both));
                hits.swap(both);
            }
        } else {
            hits.resize(block.count());
            std::iota(hits.begin(), hits.end(), 0u);
        }
        // Names not in the program's own form are tried whatever the bytes say, and whatever
        // the previous keystroke found.
        if (block.odd > 0) {
            const std::size_t found = hits.size();
            for (std::uint32_t i = 0; i < block.count(); ++i) {
                if (isOdd(block.letters[i]))
                    hits.push_back(i);
            }
            std::inplace_merge(hits.begin(), hits.begin() + std::ptrdiff_t(found), hits.end());
            hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
        }
        both.clear();
        for (std::size_t h = 0; h < hits.size() && !cancelled; ++h) {
            if (tryName(b, hits[h], isOdd(block.letters[hits[h]]) ? 0 : fromRun))
                both.push_back(hits[h]);
        }
        take(b, both);
    }
    if (cancelled)
        return std::nullopt;
    return rows;
}

} // namespace tarvik
