#include "store/FoldedNames.h"

#include <algorithm>
#include <cstring>

namespace tarvik {
namespace {

// Large enough that a million parts make a few hundred blocks, small enough that an
// insertion moves little: a block of short names is about a hundred kilobytes.
constexpr std::size_t kBlockNames = 2048;

} // namespace

struct FoldedNames::Block {
    std::vector<char> bytes; // the names back to back, then byteSearch::kPadding spare bytes
    std::vector<std::uint32_t> ends;
    std::vector<qint64> ids;
    std::vector<Kind> kinds;

    Block() { bytes.resize(byteSearch::kPadding); }

    std::size_t count() const { return ids.size(); }
    std::size_t used() const { return bytes.size() - byteSearch::kPadding; }
    std::uint32_t begin(std::size_t i) const { return i ? ends[i - 1] : 0; }
    std::string_view key(std::size_t i) const {
        return {bytes.data() + begin(i), ends[i] - begin(i)};
    }

    // Whether row i sorts before (kind, key, id), the engine's order for the key column
    // and then the row id.
    bool before(std::size_t i, Kind kind, std::string_view key_, qint64 id) const {
        if (kinds[i] != kind)
            return kinds[i] < kind;
        const int c = key(i).compare(key_);
        return c != 0 ? c < 0 : ids[i] < id;
    }

    void insertAt(std::size_t i, qint64 id, Kind kind, std::string_view key_) {
        const std::uint32_t at = begin(i);
        bytes.insert(bytes.begin() + at, key_.begin(), key_.end());
        ends.insert(ends.begin() + std::ptrdiff_t(i), at);
        for (std::size_t k = i; k < ends.size(); ++k)
            ends[k] += std::uint32_t(key_.size());
        ids.insert(ids.begin() + std::ptrdiff_t(i), id);
        kinds.insert(kinds.begin() + std::ptrdiff_t(i), kind);
    }

    void removeAt(std::size_t i) {
        const std::uint32_t from = begin(i), length = ends[i] - from;
        bytes.erase(bytes.begin() + from, bytes.begin() + from + length);
        ends.erase(ends.begin() + std::ptrdiff_t(i));
        for (std::size_t k = i; k < ends.size(); ++k)
            ends[k] -= length;
        ids.erase(ids.begin() + std::ptrdiff_t(i));
        kinds.erase(kinds.begin() + std::ptrdiff_t(i));
    }
};

FoldedNames::FoldedNames() = default;
FoldedNames::~FoldedNames() = default;
FoldedNames::FoldedNames(FoldedNames&&) noexcept = default;
FoldedNames& FoldedNames::operator=(FoldedNames&&) noexcept = default;

FoldedNames::Block& FoldedNames::blockForAppend() {
    if (m_blocks.empty() || m_blocks.back()->count() >= kBlockNames) {
        if (!m_blocks.empty())
            squeeze();
        m_blocks.push_back(std::make_unique<Block>());
        Block& block = *m_blocks.back();
        block.ends.reserve(kBlockNames);
        block.ids.reserve(kBlockNames);
        block.kinds.reserve(kBlockNames);
        block.bytes.reserve(kBlockNames * 48);
    }
    return *m_blocks.back();
}

void FoldedNames::append(qint64 id, Kind kind, std::string_view key) {
    Block& block = blockForAppend();
    block.insertAt(block.count(), id, kind, key);
    ++m_size;
}

void FoldedNames::squeeze() {
    if (m_blocks.empty())
        return;
    Block& block = *m_blocks.back();
    block.bytes.shrink_to_fit();
    block.ends.shrink_to_fit();
    block.ids.shrink_to_fit();
    block.kinds.shrink_to_fit();
}

void FoldedNames::insert(qint64 id, Kind kind, std::string_view key) {
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
    if (block.count() > 2 * kBlockNames)
        split(std::size_t(blockIt - m_blocks.begin()));
}

void FoldedNames::split(std::size_t blockIndex) {
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
    m_blocks.insert(m_blocks.begin() + std::ptrdiff_t(blockIndex) + 1, std::move(second));
}

bool FoldedNames::remove(qint64 id) {
    for (auto it = m_blocks.begin(); it != m_blocks.end(); ++it) {
        Block& block = **it;
        const auto found = std::find(block.ids.begin(), block.ids.end(), id);
        if (found == block.ids.end())
            continue;
        block.removeAt(std::size_t(found - block.ids.begin()));
        --m_size;
        if (block.count() == 0)
            m_blocks.erase(it);
        return true;
    }
    return false;
}

QVector<qint64> FoldedNames::find(std::string_view needle, byteSearch::Kernel kernel) const {
    QVector<qint64> rows;
    std::vector<std::uint32_t> hits;
    hits.reserve(kBlockNames);
    for (const auto& block : m_blocks) {
        hits.clear();
        byteSearch::find(kernel, block->bytes.data(), block->ends.data(), block->count(), needle,
                         hits);
        for (const std::uint32_t hit : hits)
            rows.append(block->ids[hit]);
    }
    return rows;
}

std::size_t FoldedNames::memoryBytes() const {
    std::size_t bytes = m_blocks.capacity() * sizeof(void*);
    for (const auto& block : m_blocks) {
        bytes += sizeof(Block) + block->bytes.capacity() + block->ends.capacity() * 4 +
                 block->ids.capacity() * 8 + block->kinds.capacity();
    }
    return bytes;
}

} // namespace tarvik
