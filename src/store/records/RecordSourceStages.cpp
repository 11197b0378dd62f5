#include "store/records/RecordSource.h"

#include <QTimer>

#include <algorithm>

namespace tarvik {
namespace {

// Another program's lock on the file: the rows are asked for again this much later.
constexpr int kBusyRetryMs = 100;
// A rest to be read when asked is read after this long, even if nobody asks.
constexpr int kRestAtTheLatestMs = 200;
// Rows that join the list in one turn of the event loop: a view takes tens of nanoseconds
// for each row it is told of, and the window must stay answering while a million arrive.
constexpr qsizetype kRowsPerTurn = 1 << 16;

} // namespace

// What a refreshInStages() still has to read, shared with the thread that reads it.
struct RecordSource::RestLoad {
    Statement statement;
    bool replaces = false; // nothing of it is shown yet: its rows replace the list
    bool keepsCurrent = false;
    bool started = false;
    // Filled on the reading thread, read on the source's after the job's end.
    QVector<qint64> keys;
    bool busy = false;
    QString error;
};

bool RecordSource::refreshInStages(int firstRows, RestStart start, Current current)
{
    if (!m_restReader || !m_db.isOpen())
        return refresh();
    if (!prepareRefresh())
        return false;
    const bool keep = current == Current::Kept;
    if (keep)
        firstRows = 0;
    if (auto copied = copiedKeys()) {
        showKeys(std::move(*copied), keep ? currentKey() : -1);
        return true;
    }
    if (firstRows > 0) {
        QSqlError error;
        std::optional<QVector<qint64>> first = readKeys(m_db, m_statement, firstRows, error);
        if (!first) {
            fail(error);
            if (m_lastBusy || isDamageError(error))
                return false; // the list shown stays, as a refresh leaves it
            showKeys({});
            return false;
        }
        const bool whole = first->size() < firstRows;
        showKeys(std::move(*first));
        if (whole)
            return true;
    }
    m_rest = std::make_shared<RestLoad>();
    m_rest->statement = m_statement;
    m_rest->replaces = firstRows <= 0;
    m_rest->keepsCurrent = keep;
    if (start == RestStart::Now)
        startLoadingRest();
    else // at the latest, whether asked or not
        QTimer::singleShot(kRestAtTheLatestMs, this, &RecordSource::loadRest);
    return true;
}

std::optional<QVector<qint64>> RecordSource::allKeys(QSqlError& error)
{
    // The rows shown may still be the list before the refresh, or only its first screen.
    if (!m_rest)
        return m_keys;
    return readKeys(m_db, m_shownStatement, 0, error);
}

void RecordSource::loadRest()
{
    if (m_rest && !m_rest->started)
        startLoadingRest();
}

void RecordSource::cancelLoadingRest()
{
    if (!m_rest)
        return;
    m_rest.reset();
    m_restReader->stop();
}

void RecordSource::startLoadingRest()
{
    const std::shared_ptr<RestLoad> load = m_rest;
    load->started = true;
    const bool started = m_restReader->start([load](BackgroundReader::Run& run) {
        if (!run.proceed(0))
            return false;
        QSqlError error;
        std::optional<QVector<qint64>> keys = readKeys(run.db, load->statement, 0, error);
        if (!keys) {
            load->busy = isBusyError(error);
            load->error = describeFailure(error);
            return false;
        }
        load->keys = std::move(*keys);
        return true;
    });
    if (!started) { // the register is closed: what is shown stays as it is
        m_rest.reset();
        emit restLoaded();
    }
}

void RecordSource::onRestEnded(BackgroundReader::Outcome outcome)
{
    if (!m_rest)
        return;
    switch (outcome) {
    case BackgroundReader::Outcome::Finished:
        takeRest(std::move(m_rest->keys));
        return;
    case BackgroundReader::Outcome::InterruptedByWrite:
        // The change this program made is committed by now; the rows read again show it.
        startLoadingRest();
        return;
    case BackgroundReader::Outcome::Failed:
        if (m_rest->busy) {
            m_rest->busy = false;
            QTimer::singleShot(kBusyRetryMs, this, [this, load = m_rest] {
                if (m_rest == load)
                    startLoadingRest();
            });
            return;
        }
        m_lastError = m_rest->error;
        m_rest.reset();
        emit restLoaded();
        return;
    }
}

void RecordSource::takeRest(QVector<qint64> keys)
{
    const std::shared_ptr<RestLoad> load = std::exchange(m_rest, nullptr);
    if (load->replaces) {
        // The part current now, which the user may have moved to while the rows were read.
        showKeys(std::move(keys), load->keepsCurrent ? currentKey() : -1);
    } else if (keys.size() >= m_keys.size() &&
               std::equal(m_keys.cbegin(), m_keys.cend(), keys.cbegin())) {
        load->keys = std::move(keys);
        m_rest = load;
        m_keys.reserve(m_rest->keys.size());
        appendArrived();
        return;
    } else {
        // The file changed between the two reads. The later list stands, and the part the
        // user is on stays current wherever it now is; the first row, if it is gone.
        const qint64 current = currentKey();
        beginResetModel();
        m_keys = std::move(keys);
        forgetRows();
        m_currentRow = current >= 0 ? int(m_keys.indexOf(current)) : -1;
        if (m_currentRow < 0) {
            m_current = QSqlRecord();
            if (!m_keys.isEmpty())
                setCurrentRow(0);
        }
        endResetModel();
    }
    emit restLoaded();
}

void RecordSource::appendArrived()
{
    const QVector<qint64>& arrived = m_rest->keys;
    const qsizetype from = m_keys.size();
    const qsizetype to = std::min(arrived.size(), from + kRowsPerTurn);
    if (to > from) {
        beginInsertRows({}, int(from), int(to - 1));
        m_keys.resize(to);
        std::copy(arrived.cbegin() + from, arrived.cbegin() + to, m_keys.begin() + from);
        endInsertRows();
    }
    if (to < arrived.size()) {
        QTimer::singleShot(0, this, [this, load = m_rest] {
            if (m_rest == load)
                appendArrived();
        });
        return;
    }
    m_rest.reset();
    emit restLoaded();
}

} // namespace tarvik
