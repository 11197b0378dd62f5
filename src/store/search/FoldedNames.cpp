#include "store/search/FoldedNames.h"

#include "store/search/NameBlock.h"

#include "store/text/LikePattern.h"
#include "store/text/TextFold.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <numeric>

namespace tarvik {
namespace {

// Hits of the previous search are kept for the next one while they are at most this share
// of all names; beyond it a full pass is as quick.
constexpr qsizetype kNarrowingShare = 4;

// Large enough that a million parts make a few hundred blocks, small enough that an
// insertion moves little: a block of short names is about a hundred kilobytes.
constexpr std::size_t kBlockNames = 2048;

} // namespace

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
    full.odd -= second->odd;
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
    // Room for every name at once: only the pages the hits fill are ever touched, where a
    // list grown as it fills is copied and touched afresh at each step (a stall of tens of
    // milliseconds for the first listing of most of a million names).
    rows.reserve(m_size);
    std::vector<std::uint32_t> hits;
    hits.reserve(2 * kBlockNames + 1);
    m_last.valid = false;
    m_last.hits.clear();
    bool keep = true;
    for (std::size_t b = 0; b < m_blocks.size(); ++b) {
        const Block& block = *m_blocks[b];
        hits.clear();
        block.findText(needle, kernel, hits);
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
