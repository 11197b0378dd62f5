#include "store/search/StockTable.h"

#include <cmath>
#include <limits>

#if defined(_MSC_VER)
#include <xmmintrin.h>
#endif

namespace tarvik {
namespace {

enum Flag : std::uint8_t { Present = 1, HasPrice = 2, HasQuantity = 4, HasMinimum = 8 };

double finalValue(long double value, qint64 plusInfinite, qint64 minusInfinite)
{
    if (plusInfinite && minusInfinite)
        return std::numeric_limits<double>::quiet_NaN();
    if (plusInfinite)
        return std::numeric_limits<double>::infinity();
    if (minusInfinite)
        return -std::numeric_limits<double>::infinity();
    return double(value);
}

} // namespace

StockTable::StockTable(qint64 denseIds) : m_denseIds(std::max<qint64>(denseIds, 0)) {}

StockTable::Slot StockTable::slotOf(const Part& part)
{
    Slot slot{part.price.value_or(0), part.quantity.value_or(0), part.minimum.value_or(0), Present};
    slot.flags |= part.price ? HasPrice : 0;
    slot.flags |= part.quantity ? HasQuantity : 0;
    slot.flags |= part.minimum ? HasMinimum : 0;
    return slot;
}

StockTable::Part StockTable::partOf(const Slot& slot)
{
    Part part;
    if (slot.flags & HasPrice)
        part.price = slot.price;
    if (slot.flags & HasQuantity)
        part.quantity = slot.quantity;
    if (slot.flags & HasMinimum)
        part.minimum = slot.minimum;
    return part;
}

bool StockTable::isBelow(const Part& part)
{
    return part.quantity && part.minimum && *part.quantity <= double(*part.minimum);
}

void StockTable::add(const Slot& slot, int sign)
{
    m_parts += sign;
    if ((slot.flags & HasQuantity) && (slot.flags & HasMinimum) &&
        slot.quantity <= double(slot.minimum))
        m_below += sign;
    if (!(slot.flags & HasPrice) || !(slot.flags & HasQuantity))
        return;
    const double product = slot.price * slot.quantity;
    if (product == std::numeric_limits<double>::infinity())
        m_plusInfinite += sign;
    else if (product == -std::numeric_limits<double>::infinity())
        m_minusInfinite += sign;
    else if (!std::isnan(product))
        m_value += sign * static_cast<long double>(product);
}

const StockTable::Slot* StockTable::slot(qint64 id) const
{
    if (id >= 0 && id < qint64(m_dense.size()))
        return (m_dense[std::size_t(id)].flags & Present) ? &m_dense[std::size_t(id)] : nullptr;
    if (id >= 0 && id < m_denseIds)
        return nullptr;
    const auto it = m_sparse.find(id);
    return it == m_sparse.end() ? nullptr : &it->second;
}

void StockTable::set(qint64 id, const Part& part)
{
    remove(id); // moves the version on
    const Slot slot = slotOf(part);
    if (id >= 0 && id < m_denseIds) {
        if (id >= qint64(m_dense.size()))
            m_dense.resize(std::size_t(id) + 1, Slot{0, 0, 0, 0});
        m_dense[std::size_t(id)] = slot;
    } else {
        m_sparse[id] = slot;
    }
    add(slot, +1);
}

void StockTable::remove(qint64 id)
{
    ++m_version;
    const Slot* found = slot(id);
    if (!found)
        return;
    add(*found, -1);
    if (id >= 0 && id < m_denseIds)
        m_dense[std::size_t(id)].flags = 0;
    else
        m_sparse.erase(id);
    if (m_parts == 0)
        m_value = 0; // nothing left to carry a rounding remainder
}

std::optional<StockTable::Part> StockTable::find(qint64 id) const
{
    const Slot* found = slot(id);
    return found ? std::optional<Part>(partOf(*found)) : std::nullopt;
}

StockSums StockTable::sums() const
{
    return {finalValue(m_value, m_plusInfinite, m_minusInfinite), m_below, m_parts};
}

namespace {

// A hint that the memory at `address` is wanted soon; it changes no result.
inline void prefetch(const void* address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#elif defined(_MSC_VER)
    _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
    (void)address;
#endif
}

} // namespace

StockSums StockTable::sumsOf(const QVector<qint64>& ids) const
{
    Summing summing;
    summing.add(*this, ids.constData(), ids.size());
    return summing.result();
}

void StockTable::Summing::add(const StockTable& table, const qint64* ids, qsizetype count)
{
    // A shown list is in name order, so its parts lie all over the array: each one is a
    // wait for memory. Asking for the slots a few parts ahead lets those waits overlap,
    // several times faster at half a million parts, where the window waits for the sum.
    constexpr qsizetype kAhead = 16;
    const auto dense = qint64(table.m_dense.size());
    for (qsizetype i = 0; i < count; ++i) {
        if (i + kAhead < count) {
            const qint64 ahead = ids[i + kAhead];
            if (ahead >= 0 && ahead < dense)
                prefetch(&table.m_dense[std::size_t(ahead)]);
        }
        const Slot* found = table.slot(ids[i]);
        if (!found)
            continue;
        ++m_parts;
        if (!(found->flags & HasQuantity))
            continue;
        if ((found->flags & HasMinimum) && found->quantity <= double(found->minimum))
            ++m_below;
        if (!(found->flags & HasPrice))
            continue;
        const double product = found->price * found->quantity;
        if (product == std::numeric_limits<double>::infinity())
            ++m_plusInfinite;
        else if (product == -std::numeric_limits<double>::infinity())
            ++m_minusInfinite;
        else if (!std::isnan(product))
            m_value += product;
    }
}

StockSums StockTable::Summing::result() const
{
    return {finalValue(m_value, m_plusInfinite, m_minusInfinite), m_below, m_parts};
}

std::optional<qint64> StockTable::belowMinimum(qint64 id) const
{
    const Slot* found = slot(id);
    if (!found || !(found->flags & HasQuantity) || !(found->flags & HasMinimum) ||
        found->quantity > double(found->minimum))
        return std::nullopt;
    return found->minimum;
}

std::size_t StockTable::memoryBytes() const
{
    return m_dense.capacity() * sizeof(Slot) +
           m_sparse.size() * (sizeof(Slot) + sizeof(qint64) + 2 * sizeof(void*));
}

} // namespace tarvik
