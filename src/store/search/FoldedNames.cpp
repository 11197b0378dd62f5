#include "store/search/FoldedNames.h"

#include "store/text/LikePattern.h"
#include "store/text/TextFold.h"

#include <algorithm>
#include <cstring>

namespace tarvik {
namespace {

// Hits of the previous search are kept for the next one while they are at most this share
// of all names; beyond it a full pass is as quick.
constexpr qsizetype kNarrowingShare = 4;

// Large enough that a million parts make a few hundred blocks, small enough that an
// insertion moves little: a block of short names is about a hundred kilobytes.
constexpr std::size_t kBlockNames = 2048;

// Which of the one-letter texts people type first a name contains, one bit each: the
// printable ASCII characters other than capitals (keys are folded) and the folded Cyrillic
// letters (UTF-8 D0 B0..BF, D1 80..9F). A one-letter search then reads sixteen bytes a
// name instead of the whole name. The bits record byte sequences, exactly what the byte
// search looks for, so they answer such a search exactly, whatever the bytes are.
struct Letters {
    std::uint64_t bits[2] = {0, 0};
};

constexpr int kNoSlot = -1;

int asciiSlot(unsigned char c)
{
    if (c < 0x20 || c > 0x7E || (c >= 'A' && c <= 'Z'))
        return kNoSlot;
    return c < 'A' ? c - 0x20 : c <= 'Z' ? kNoSlot : c - 0x20 - 26; // 0..68
}

int pairSlot(unsigned char lead, unsigned char next)
{
    if (lead == 0xD0 && next >= 0xB0 && next <= 0xBF)
        return 69 + (next - 0xB0); // а..п
    if (lead == 0xD1 && next >= 0x80 && next <= 0x9F)
        return 85 + (next - 0x80); // р..я, ѐ..џ
    return kNoSlot;
}

// The slot of a needle that is one such letter, else kNoSlot.
int slotOf(std::string_view needle)
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
constexpr int kOddKeySlot = 127;

bool isOdd(const Letters& letters)
{
    return (letters.bits[1] >> (kOddKeySlot - 64)) & 1;
}

Letters lettersOf(std::string_view key)
{
    Letters letters;
    thread_local std::u32string buffer;
    if (!isKeyedForm(key, buffer))
        letters.bits[kOddKeySlot >> 6] |= std::uint64_t(1) << (kOddKeySlot & 63);
    const auto mark = [&](int slot) {
        if (slot != kNoSlot)
            letters.bits[slot >> 6] |= std::uint64_t(1) << (slot & 63);
    };
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto c = static_cast<unsigned char>(key[i]);
        if (c < 0x80)
            mark(asciiSlot(c));
        else if (i + 1 < key.size())
            mark(pairSlot(c, static_cast<unsigned char>(key[i + 1])));
    }
    return letters;
}

} // namespace

struct FoldedNames::Block {
    std::vector<char> bytes; // the names back to back, then byteSearch::kPadding spare bytes
    std::vector<std::uint32_t> ends;
    std::vector<qint64> ids;
    std::vector<Kind> kinds;
    std::vector<Letters> letters;

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
        letters.erase(letters.begin() + std::ptrdiff_t(i));
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

FoldedNames::FoldedNames() = default;
FoldedNames::~FoldedNames() = default;
FoldedNames::FoldedNames(FoldedNames&&) noexcept = default;
FoldedNames& FoldedNames::operator=(FoldedNames&&) noexcept = default;

FoldedNames::Block& FoldedNames::blockForAppend()
{
    if (m_blocks.empty() || m_blocks.back()->count() >= kBlockNames) {
        if (!m_blocks.empty())
            squeeze();
        m_blocks.push_back(std::make_unique<Block>());
        Block& block = *m_blocks.back();
        block.ends.reserve(kBlockNames);
        block.ids.reserve(kBlockNames);
        block.kinds.reserve(kBlockNames);
        block.letters.reserve(kBlockNames);
        block.bytes.reserve(kBlockNames * 48);
    }
    return *m_blocks.back();
}

void FoldedNames::append(qint64 id, Kind kind, std::string_view key)
{
    Block& block = blockForAppend();
    block.insertAt(block.count(), id, kind, key);
    ++m_size;
    changed();
}

void FoldedNames::squeeze()
{
    if (m_blocks.empty())
        return;
    Block& block = *m_blocks.back();
    block.bytes.shrink_to_fit();
    block.ends.shrink_to_fit();
    block.ids.shrink_to_fit();
    block.kinds.shrink_to_fit();
    block.letters.shrink_to_fit();
}

void FoldedNames::insert(qint64 id, Kind kind, std::string_view key)
{
    if (m_blocks.empty())
        m_blocks.push_back(std::make_unique<Block>());
    // The first block whose last row sorts after the new one takes it; else the last block.
    const auto blockIt = std::partition_point(
        m_blocks.begin(), m_blocks.end() - 1, [&](const std::unique_ptr<Block>& b) {
            return b->count() == 0 || b->before(b->count() - 1, kind, key, id);
        });
    Block& block = **blockIt;
    std::size_t low = 0, high = block.count();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (block.before(mid, kind, key, id))
            low = mid + 1;
        else
            high = mid;
    }
    block.insertAt(low, id, kind, key);
    ++m_size;
    changed();
    if (block.count() > 2 * kBlockNames)
        split(std::size_t(blockIt - m_blocks.begin()));
}

void FoldedNames::split(std::size_t blockIndex)
{
    Block& full = *m_blocks[blockIndex];
    auto second = std::make_unique<Block>();
    const std::size_t half = full.count() / 2;
    for (std::size_t i = half; i < full.count(); ++i)
        second->insertAt(second->count(), full.ids[i], full.kinds[i], full.key(i));
    const std::uint32_t keep = full.begin(half);
    full.bytes.resize(keep);
    full.bytes.resize(keep + byteSearch::kPadding);
    full.ends.resize(half);
    full.ids.resize(half);
    full.kinds.resize(half);
    full.letters.resize(half);
    m_blocks.insert(m_blocks.begin() + std::ptrdiff_t(blockIndex) + 1, std::move(second));
}

bool FoldedNames::remove(qint64 id)
{
    for (auto it = m_blocks.begin(); it != m_blocks.end(); ++it) {
        Block& block = **it;
        const auto found = std::find(block.ids.begin(), block.ids.end(), id);
        if (found == block.ids.end())
            continue;
        block.removeAt(std::size_t(found - block.ids.begin()));
        --m_size;
        changed();
        if (block.count() == 0)
            m_blocks.erase(it);
        return true;
    }
    return false;
}

QVector<qint64> FoldedNames::find(std::string_view needle, byteSearch::Kernel kernel) const
{
    if (m_last.valid && m_last.generation == m_generation && keyContains(needle, m_last.needle))
        return findAmong(needle);

    QVector<qint64> rows;
    std::vector<std::uint32_t> hits;
    hits.reserve(2 * kBlockNames + 1);
    m_last.valid = false;
    m_last.hits.clear();
    bool keep = true;
    const int slot = slotOf(needle);
    const bool endsInIe = needle.size() >= 2 && needle.substr(needle.size() - 2) == "\xD0\xB5";
    for (std::size_t b = 0; b < m_blocks.size(); ++b) {
        const Block& block = *m_blocks[b];
        hits.clear();
        if (slot != kNoSlot)
            block.findLetter(slot, hits);
        else
            byteSearch::find(kernel, block.bytes.data(), block.ends.data(), block.count(), needle,
                             hits);
        if (endsInIe) // the bytes also matched the е of an ё
            hits.erase(std::remove_if(
                           hits.begin(), hits.end(),
                           [&](std::uint32_t hit) { return !keyContains(block.key(hit), needle); }),
                       hits.end());
        const qsizetype first = rows.size();
        rows.resize(first + qsizetype(hits.size()));
        qint64* out = rows.data() + first;
        for (const std::uint32_t hit : hits)
            *out++ = block.ids[hit];
        keep = keep && rows.size() <= m_size / kNarrowingShare;
        if (keep) {
            for (const std::uint32_t hit : hits)
                m_last.hits.push_back(std::uint64_t(b) << 32 | hit);
        }
    }
    if (keep) {
        m_last.valid = true;
        m_last.generation = m_generation;
        m_last.needle.assign(needle);
    } else {
        m_last.hits = {};
    }
    return rows;
}

QVector<qint64> FoldedNames::findAmong(std::string_view needle) const
{
    QVector<qint64> rows;
    std::size_t kept = 0;
    for (const std::uint64_t hit : m_last.hits) {
        const Block& block = *m_blocks[hit >> 32];
        const std::size_t name = std::uint32_t(hit);
        if (keyContains(block.key(name), needle)) {
            rows.append(block.ids[name]);
            m_last.hits[kept++] = hit;
        }
    }
    m_last.hits.resize(kept);
    m_last.needle.assign(needle);
    return rows;
}

std::optional<QVector<qint64>> FoldedNames::match(const KeyPattern& pattern,
                                                  const std::atomic<bool>* cancel) const
{
    // A name costs at most pattern length x name length steps, so a few dozen names
    // between looks keep a cancel prompt whatever the pattern.
    constexpr std::size_t kNamesPerLook = 32;
    QVector<qint64> rows;
    if (pattern.matchesEveryKey()) {
        rows.reserve(m_size);
        for (const auto& block : m_blocks)
            rows.append(QVector<qint64>(block->ids.begin(), block->ids.end()));
        return rows;
    }
    // Only names that hold the bytes of every plain run of the pattern are matched, found
    // by the byte search or the letters' bits, as a plain search finds them; names in
    // another form than the program writes are always matched.
    const std::vector<std::string>& required = pattern.requiredBytes();
    std::vector<int> letterOf;
    for (const std::string& bytes : required)
        letterOf.push_back(slotOf(bytes));
    std::vector<std::uint32_t> hits;
    std::u32string buffer;
    for (const auto& block : m_blocks) {
        hits.clear();
        if (!required.empty()) {
            if (letterOf.front() != kNoSlot)
                block->findLetter(letterOf.front(), hits);
            else
                byteSearch::find(byteSearch::best(), block->bytes.data(), block->ends.data(),
                                 block->count(), required.front(), hits);
        }
        std::size_t nextHit = 0;
        for (std::size_t i = 0; i < block->count(); ++i) {
            if (cancel && i % kNamesPerLook == 0 && cancel->load(std::memory_order_relaxed))
                return std::nullopt;
            const bool hit = nextHit < hits.size() && hits[nextHit] == i;
            nextHit += hit ? 1 : 0;
            if (!required.empty() && !hit && !isOdd(block->letters[i]))
                continue;
            const std::string_view key = block->key(i);
            bool holdsAll = true;
            for (std::size_t r = 1; holdsAll && r < required.size() && !isOdd(block->letters[i]);
                 ++r) {
                holdsAll =
                    letterOf[r] != kNoSlot
                        ? ((block->letters[i].bits[letterOf[r] >> 6] >> (letterOf[r] & 63)) & 1)
                        : key.find(required[r]) != key.npos;
            }
            if (holdsAll && (isOdd(block->letters[i]) ? pattern.matches(key, buffer)
                                                      : pattern.matchesKeyedForm(key)))
                rows.append(block->ids[i]);
        }
    }
    return rows;
}

std::size_t FoldedNames::memoryBytes() const
{
    std::size_t bytes = m_blocks.capacity() * sizeof(void*) + m_last.hits.capacity() * 8;
    for (const auto& block : m_blocks) {
        bytes += sizeof(Block) + block->bytes.capacity() + block->ends.capacity() * 4 +
                 block->ids.capacity() * 8 + block->kinds.capacity() +
                 block->letters.capacity() * sizeof(Letters);
    }
    return bytes;
}

} // namespace tarvik
