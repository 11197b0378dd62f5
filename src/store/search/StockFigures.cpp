#include "store/search/StockFigures.h"

#include "store/search/StockLoad.h"

#include "store/records/Minimums.h"
#include "store/register/Dialect.h"
#include "store/register/Register.h"

#include <QSqlQuery>

namespace tarvik {
namespace {

// Another program's commit on the file is noticed this often; a look costs a few microseconds.
constexpr int kPollMs = 1000;
// After a failed load (a lock held long), the next try.
constexpr int kRetryMs = 5000;
// More parts changed since the last look than this: the copy is read afresh instead.
constexpr int kMostRereads = 2000;

} // namespace

StockFigures::StockFigures(Register& reg, QObject* parent)
    : QObject(parent),
      m_register(reg),
      // A load reads in short slices: own writes are not held up, and are followed after it.
      m_reader(reg, BackgroundReader::Writes::LetRun)
{
    connect(&reg, &Register::partChanged, this, &StockFigures::noteOwnChange);
    connect(&reg, &Register::partsChangedElsewhere, this, &StockFigures::followChangesElsewhere);
    connect(&m_reader, &BackgroundReader::ended, this, &StockFigures::onLoadEnded);
    connect(&reg, &Register::aboutToClose, this, [this] {
        m_reader.stop();
        m_load.reset();
        drop();
        m_check.close();
        m_retry.start();
    });
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &StockFigures::checkNow);
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &StockFigures::startLoading);
}

StockFigures::~StockFigures()
{
    m_reader.stop();
}

void StockFigures::startLoading()
{
    if (m_reader.isRunning() || m_table)
        return;
    if (m_register.isClosed()) {
        m_retry.start(); // compaction: read again once the register is open again
        return;
    }
    if (!m_check.isOpen() && !m_register.connect(m_check).ok()) {
        m_retry.start();
        return;
    }
    // Read before the load's snapshot: a commit after it shows at the next look.
    const auto version = dataVersion();
    if (!version) {
        m_retry.start();
        return;
    }
    m_version = *version;
    m_pending.clear();
    m_reloadAfterLoad = false;
    m_load = std::make_shared<StockLoad>();
    m_load->rowsPerSlice = m_sliceRows;
    m_reader.start([load = m_load](BackgroundReader::Run& run) { return readStock(run, *load); },
                   QThread::LowPriority);
}

bool StockFigures::isLoading()
{
    m_reader.takeEnded();
    return m_reader.isRunning();
}

void StockFigures::onLoadEnded(BackgroundReader::Outcome outcome)
{
    const std::shared_ptr<StockLoad> load = std::exchange(m_load, nullptr);
    if (outcome != BackgroundReader::Outcome::Finished || !load || !load->table) {
        ++m_failures;
        m_retry.start();
        return;
    }
    m_failures = 0;
    m_table = std::move(load->table);
    m_journal = load->journal;
    m_entry = load->entry;
    ++m_loads;
    if (!m_check.onServer())
        m_poll.start();
    const QVector<qint64> pending = std::exchange(m_pending, {});
    // On the file with the journal, the look below follows what came meanwhile.
    if (std::exchange(m_reloadAfterLoad, false) && (m_check.onServer() || !m_journal)) {
        reload();
        return;
    }
    if (m_check.onServer()) {
        for (const qint64 id : pending) {
            if (!reread(id)) {
                reload();
                return;
            }
        }
    }
    emit changed();
    checkNow(); // what was committed while it read
}

void StockFigures::drop()
{
    m_poll.stop();
    if (m_table) {
        m_table.reset();
        emit changed();
    }
}

void StockFigures::reload()
{
    if (m_reader.isRunning()) {
        m_reloadAfterLoad = true;
        return;
    }
    drop();
    startLoading();
}

std::optional<qint64> StockFigures::dataVersion()
{
    if (!m_check.isOpen())
        return std::nullopt;
    if (m_check.onServer())
        return 0; // a server tells of its changes itself
    QSqlQuery query(m_check.connection());
    query.setForwardOnly(true);
    // These looks run on the window's thread, unasked, every second: while another program
    // holds the file locked they give up at once and look again later, rather than wait for
    // the lock with the window frozen.
    query.exec(QStringLiteral("PRAGMA busy_timeout = 0"));
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

std::optional<qint64> StockFigures::newestEntry(bool* busy)
{
    QSqlQuery query(m_check.connection());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT coalesce(max(entry), 0) FROM partJournal")) ||
        !query.next()) {
        *busy = isBusyError(query.lastError());
        return std::nullopt;
    }
    *busy = false;
    return query.value(0).toLongLong();
}

void StockFigures::checkNow()
{
    m_reader.takeEnded();
    if (!m_table || m_check.onServer())
        return;
    const auto version = dataVersion();
    if (!version || *version == m_version)
        return;
    if (!m_journal) {
        reload();
        return;
    }
    bool busy = false;
    const auto newest = newestEntry(&busy);
    if (!newest) {
        // Locked by another program: look again next time; any other failure reads afresh.
        if (!busy)
            reload();
        return;
    }
    // The version is taken before the newest entry: a commit between the two reads shows at
    // the next look.
    m_version = *version;
    if (*newest == m_entry)
        return; // nothing committed to the parts (a package type, say)
    QSqlQuery query(m_check.connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT DISTINCT part FROM partJournal WHERE entry > ? AND "
                                 "entry <= ? LIMIT %1")
                      .arg(kMostRereads + 1));
    query.addBindValue(m_entry);
    query.addBindValue(*newest);
    QVector<qint64> parts;
    if (query.exec()) {
        while (query.next())
            parts << query.value(0).toLongLong();
    }
    if (query.lastError().isValid() || parts.size() > kMostRereads) {
        reload();
        return;
    }
    query.finish();
    for (const qint64 id : parts) {
        if (!reread(id)) {
            reload();
            return;
        }
    }
    m_entry = *newest;
    emit changed();
}

bool StockFigures::reread(qint64 id)
{
    const QSqlDatabase db = m_check.connection();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT pol, phone FROM client WHERE %1 = ?")
                      .arg(keyColumn(QStringLiteral("client"), db)));
    query.addBindValue(id);
    if (!query.exec()) {
        m_check.noteError(query.lastError());
        return false;
    }
    if (!query.next()) {
        m_table->remove(id);
        return true;
    }
    const QString price = query.value(0).toString();
    const QString quantity = query.value(1).toString();
    query.finish();
    const MinimumsRead minimum = Minimums::of(m_check, id);
    if (!minimum.ok)
        return false;
    const auto it = minimum.minimums.constFind(id);
    m_table->set(id, stockPart(price, quantity,
                               it == minimum.minimums.constEnd() ? std::nullopt
                                                                 : std::optional<qint64>(*it)));
    return true;
}

void StockFigures::noteOwnChange(const NameChange& change)
{
    if (m_reader.isRunning()) {
        // On the file the journal tells once the load is in; a server's own writes are kept.
        if (change.id < 0)
            m_reloadAfterLoad = true;
        else
            m_pending << change.id;
        return;
    }
    if (!m_table)
        return;
    if (!m_check.onServer()) {
        checkNow();
        return;
    }
    if (change.id < 0 || !reread(change.id)) {
        reload();
        return;
    }
    emit changed();
}

void StockFigures::followChangesElsewhere()
{
    // Which parts another computer changed is not told: the copy is read afresh.
    if (m_reader.isRunning())
        m_reloadAfterLoad = true;
    else if (m_table)
        reload();
}

std::optional<StockSums> StockFigures::total() const
{
    return m_table ? std::optional<StockSums>(m_table->sums()) : std::nullopt;
}

std::optional<StockSums> StockFigures::of(const QVector<qint64>& ids) const
{
    return m_table ? std::optional<StockSums>(m_table->sumsOf(ids)) : std::nullopt;
}

std::optional<qint64> StockFigures::belowMinimum(qint64 id) const
{
    return m_table ? m_table->belowMinimum(id) : std::nullopt;
}

} // namespace tarvik
