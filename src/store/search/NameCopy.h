#pragma once

#include "store/records/NameLookup.h"
#include "store/register/BackgroundReader.h"
#include "store/register/Connection.h"
#include "store/register/PartChange.h"
#include "store/search/ByteSearch.h"
#include "store/search/FoldedNames.h"

#include <QElapsedTimer>
#include <QObject>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace tarvik {

class Register;
struct NameLoad;

// The parts' folded names held in memory, so that a search for plain text (no * ? # [)
// is a byte search of a few milliseconds instead of a pass of the engine over every row.
// It answers exactly what Statements::partsWithNameLike(text) gives: the same rows in the
// same order, or nothing when it cannot (not loaded yet, a pattern, a file it cannot
// mirror); the caller then asks the engine.
//
// Never stale: before every answer it asks the engine whether anything was committed since
// it last looked (PRAGMA data_version, on a connection of its own) and, if so, whether the
// names changed since the copy was read (the name-change counter kept by the file's own
// triggers). The program's own writes to the parts are announced by their write path
// (Register::partChanged) with the counter read in the same transaction, so the copy follows
// them in place; anything else drops the copy, the engine answers, and the copy is read
// afresh in the background.
class NameCopy : public QObject, public NameLookup {
    Q_OBJECT

public:
    explicit NameCopy(Register& reg, QObject* parent = nullptr);
    ~NameCopy() override;

    // Reads the names on a background thread of their own, on a connection of its own; the
    // caller never waits. Nothing happens while a load runs or the copy is ready.
    void startLoading();
    // Whether a search can be answered from memory now (takes in a finished load).
    bool isReady();
    // Whether a load is still reading (takes in a finished load).
    bool isLoading();

    // The rows of Statements::partsWithNameLike(text), in its order; nothing when the
    // engine must answer. A pattern's rows come from the search started for it, when that
    // one found them on the names as they are now.
    std::optional<QVector<qint64>> find(const QString& text) override;

    // Matches a pattern (text that is not plain) against the names on a thread of its own,
    // and cancels the search before it; false when the copy cannot answer it now. Its rows
    // are announced by patternFound, unless another search started or the names changed
    // first.
    bool startPatternSearch(const QString& text);
    void cancelPatternSearch();
    bool isSearching() const;

    // Another computer changed parts (a server's announcement): a copy whose names are no
    // longer those on the server is dropped and read again as soon as the other listeners of
    // the announcement are done, so that the next keystroke is answered from memory with the
    // new names.
    void followChangesElsewhere();

    // Text without the pattern characters * ? # [ and without broken UTF-16.
    static bool isPlainText(const QString& text);

    // For tests and the benchmark.
    int loadsCompleted() const { return m_loads; }
    std::size_t memoryBytes() const;
    qsizetype size() const;
    void setKernel(byteSearch::Kernel kernel) { m_kernel = kernel; }
    // While held, a load waits before slice `fromSlice` (0: the first) and each later one
    // until released.
    void holdLoading(bool hold, unsigned fromSlice = 0) { m_reader.holdSteps(hold, fromSlice); }
    // Rows a load reads in one read transaction: a few tens of milliseconds' worth, so that
    // no writer waits longer for its commit.
    void setSliceRows(unsigned rows) { m_sliceRows = std::max(rows, 1u); }
    // After a few failed loads in a row, how long the engine answers alone before the next
    // try.
    void setRetryDelay(int ms) { m_retryDelayMs = ms; }
    // While held, a pattern search waits before it starts matching.
    void holdSearches(bool hold) { m_holdSearches->store(hold); }
    // Until the running pattern search ended, without delivering its rows.
    void waitForSearch();
    // Pattern searches that stopped part way, cancelled.
    int searchesCancelled() const { return m_searchesCancelled.load(); }
    // Pattern searches that tried only the previous keystroke's hits.
    int searchesNarrowed() const { return m_searchesNarrowed; }

signals:
    void ready();
    void patternFound(const QString& text);

private:
    void onLoadEnded(BackgroundReader::Outcome outcome);
    void noteOwnChange(const NameChange& change);
    void readAgainIfChanged();
    // Whether the names are still as the copy holds them; remembers the engine's data version
    // it found, so that the next check is one pragma.
    bool confirmUnchanged();
    void dropCopy();
    void noteFailure();
    void stopLoading();
    void closeConnection();
    std::optional<qint64> dataVersion();
    struct PatternSearch;
    void takePatternResult(const std::shared_ptr<PatternSearch>& search);
    std::optional<QVector<qint64>> findPattern(const QString& text);

    Register& m_register;
    BackgroundReader m_reader;
    std::shared_ptr<NameLoad> m_load; // what the running load reads into
    Connection m_check;               // this thread's connection for the freshness checks
    std::unique_ptr<FoldedNames> m_names;
    qint64 m_count = -1;               // the name-change counter the copy reflects
    bool m_counted = false;            // the file has the counter
    qint64 m_version = -1;             // PRAGMA data_version at the last check
    std::vector<NameChange> m_pending; // own writes while a load runs
    bool m_pendingLost = false;
    bool m_unusable = false; // a file whose order or text the copy cannot mirror
    unsigned m_sliceRows = 32768;
    int m_failures = 0;
    QElapsedTimer m_sinceFailure;
    int m_retryDelayMs = 30000;
    int m_loads = 0;
    byteSearch::Kernel m_kernel = byteSearch::best();

    // Counts replacements of m_names: with its generation, which names a result was made on.
    std::uint64_t m_epoch = 0;
    std::shared_ptr<PatternSearch> m_search; // the latest pattern search
    std::thread m_searcher;
    std::atomic<int> m_searchesCancelled{0};
    int m_searchesNarrowed = 0;
    std::shared_ptr<PatternSearch> m_found; // its result, while it holds for the names
    std::shared_ptr<std::atomic<bool>> m_holdSearches = std::make_shared<std::atomic<bool>>();
};

} // namespace tarvik
