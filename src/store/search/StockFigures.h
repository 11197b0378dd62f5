#pragma once

#include "store/register/BackgroundReader.h"
#include "store/register/Connection.h"
#include "store/register/PartChange.h"
#include "store/search/StockTable.h"

#include <QObject>
#include <QTimer>
#include <QVector>

#include <memory>
#include <optional>

namespace tarvik {

class Register;
struct StockLoad;

// Each part's price, quantity (read as the stock value label reads them) and minimum held in
// memory, so that the stock's value and the parts at or below their minimum are known without
// a pass over the register: for the whole register as running sums, for a shown list by a
// pass over its ids in memory.
//
// Never stale. The journal's triggers put down every change to a part or its minimum, whoever
// makes it, so on the file a commit seen by PRAGMA data_version is followed by reading again
// the parts of the journal's entries since the copy's newest (the program's own writes come
// the same way, announced by their write path). On a server the program's own writes are
// followed by reading the written part again, and another computer's change reads the copy
// afresh. Where the journal is missing, any change reads the copy afresh.
class StockFigures : public QObject {
    Q_OBJECT

public:
    explicit StockFigures(Register& reg, QObject* parent = nullptr);
    ~StockFigures() override;

    // Reads the figures on a thread of their own; nothing happens while a load runs or the
    // copy is ready.
    void startLoading();
    bool isReady() const { return m_table != nullptr; }
    bool isLoading();

    // Follows whatever was committed since the last look; then the answers below hold.
    void checkNow();
    // The whole register; nothing while the figures are being read.
    std::optional<StockSums> total() const;
    // The parts of `ids` (those still there).
    std::optional<StockSums> of(const QVector<qint64>& ids) const;
    // The figures themselves, for a sum taken in pieces; null until read. Replaced or changed
    // only on this object's thread, each time followed by changed().
    const StockTable* table() const { return m_table.get(); }
    // The part's minimum when its quantity is at or below it.
    std::optional<qint64> belowMinimum(qint64 id) const;

    // For tests and the benchmark.
    int loadsCompleted() const { return m_loads; }
    std::size_t memoryBytes() const { return m_table ? m_table->memoryBytes() : 0; }
    void setSliceRows(unsigned rows) { m_sliceRows = std::max(rows, 1u); }

signals:
    // The figures changed, were read, or were dropped to be read again.
    void changed();

private:
    void onLoadEnded(BackgroundReader::Outcome outcome);
    void noteOwnChange(const NameChange& change);
    void followChangesElsewhere();
    void reload();
    void drop();
    // Reads the part again into the copy; false when it could not be read.
    bool reread(qint64 id);
    std::optional<qint64> dataVersion();
    // Nothing when it cannot be read; `busy` then says whether another program's lock was why.
    std::optional<qint64> newestEntry(bool* busy);

    Register& m_register;
    BackgroundReader m_reader;
    std::shared_ptr<StockLoad> m_load;
    Connection m_check; // the window's thread's connection for the checks and re-reads
    std::unique_ptr<StockTable> m_table;
    bool m_journal = false;
    qint64 m_version = -1;     // PRAGMA data_version at the last look
    qint64 m_entry = 0;        // the journal's newest entry the copy reflects
    QVector<qint64> m_pending; // own writes on a server while a load runs
    bool m_reloadAfterLoad = false;
    unsigned m_sliceRows = 32768;
    int m_loads = 0;
    int m_failures = 0;
    QTimer m_poll;
    QTimer m_retry;
};

} // namespace tarvik
