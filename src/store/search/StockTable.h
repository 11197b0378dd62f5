#pragma once

#include <QVector>
#include <QtGlobal>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace tarvik {

// What the stock figures add up, whole or for a list of parts.
struct StockSums {
    double value = 0;        // Σ price × quantity over parts where both are numbers
    qint64 belowMinimum = 0; // parts whose quantity is at or below their minimum
    qint64 parts = 0;        // parts counted
};

// Each part's price, quantity and minimum as numbers, and the register's sums kept running:
// a change to one part costs the same at a million parts as at ten. Part numbers up to a few
// times the number of parts are kept in a plain array (a shown list of a million is summed
// in about ten milliseconds); larger ones, which a register rarely has, in a hash.
class StockTable {
public:
    struct Part {
        std::optional<double> price;
        std::optional<double> quantity;
        std::optional<qint64> minimum;
    };

    // Ids below `denseIds` go to the array.
    explicit StockTable(qint64 denseIds = 0);

    void set(qint64 id, const Part& part);
    void remove(qint64 id);
    std::optional<Part> find(qint64 id) const;

    StockSums sums() const;
    StockSums sumsOf(const QVector<qint64>& ids) const;

    // The sums of a list taken a piece at a time, so that a long list can be summed between
    // the window's events. Valid while the table's version() stays the same.
    class Summing {
    public:
        void add(const StockTable& table, const qint64* ids, qsizetype count);
        StockSums result() const;

    private:
        long double m_value = 0;
        qint64 m_plusInfinite = 0, m_minusInfinite = 0, m_below = 0, m_parts = 0;
    };
    // Changes with every set() and remove().
    quint64 version() const { return m_version; }
    // The part's minimum when its quantity is at or below it.
    std::optional<qint64> belowMinimum(qint64 id) const;

    static bool isBelow(const Part& part);
    std::size_t memoryBytes() const;

private:
    struct Slot {
        double price;
        double quantity;
        qint64 minimum;
        std::uint8_t flags;
    };
    static Slot slotOf(const Part& part);
    static Part partOf(const Slot& slot);
    void add(const Slot& slot, int sign);
    const Slot* slot(qint64 id) const;

    qint64 m_denseIds;
    std::vector<Slot> m_dense;
    std::unordered_map<qint64, Slot> m_sparse;
    // Running sums: finite products in extended precision, infinite ones counted, so that
    // taking a part out gives back what was there before it.
    long double m_value = 0;
    qint64 m_plusInfinite = 0;
    qint64 m_minusInfinite = 0;
    qint64 m_below = 0;
    qint64 m_parts = 0;
    quint64 m_version = 0;
};

} // namespace tarvik
