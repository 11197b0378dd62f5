#include "store/search/NameCopy.h"

#include "store/records/Statements.h"
#include "store/register/Register.h"
#include "store/text/RawStatement.h"
#include "store/text/SqlFunctions.h"
#include "store/text/TextFold.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace tarvik {
namespace {

// Own writes remembered while a load runs; more than this and the load is simply redone.
constexpr std::size_t kMaxPending = 10000;
// A load that keeps failing is not retried on every keystroke, but neither given up: a lock
// or a passing fault clears, and the engine alone is slow at a million parts.
constexpr int kMaxFailures = 3;
constexpr int kMaxLoadAttempts = 5;

const QString kCounterSql = QStringLiteral("SELECT n FROM clientNameChanges");

std::optional<qint64> readCounter(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(kCounterSql) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

// Follows one own write in `names`, which reflect the counter value `count`. False when the
// write cannot be placed: someone else changed names in between, or what it stored is not
// known well enough.
bool followChange(FoldedNames& names, qint64& count, const NameChange& change)
{
    if (change.before < 0 || change.after < 0 || change.op == NameChange::Op::Unknown)
        return false;
    if (change.after == change.before || change.after <= count)
        return true; // no name changed, or the copy was read after this write
    if (change.before != count)
        return false;
    if (change.op != NameChange::Op::Removed) {
        // A number key sorts among numbers by value: rare enough to read everything again.
        if (!change.keyKnown || (change.hasKey && change.kind == FoldedNames::Kind::Number))
            return false;
    }
    if (change.op != NameChange::Op::Added)
        names.remove(change.id);
    if (change.op != NameChange::Op::Removed && change.hasKey)
        names.insert(change.id, change.kind,
                     {change.key.constData(), std::size_t(change.key.size())});
    count = change.after;
    return true;
}

bool sameWord(const char* a, const char* b)
{
    return a && sqlite3_stricmp(a, b) == 0;
}

// The engine's affinity rules for a declared column type: TEXT, or none (BLOB or no type).
bool textOrUntyped(const char* declared)
{
    const QByteArray type = QByteArray(declared ? declared : "").toUpper();
    if (type.contains("INT"))
        return false;
    if (type.contains("CHAR") || type.contains("CLOB") || type.contains("TEXT"))
        return true;
    return type.isEmpty() || type.contains("BLOB");
}

} // namespace

// The state a load shares with the thread that runs it.
struct NameCopy::Loader {
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> stop{false};
    bool hold = false;
    unsigned holdFrom = 0; // the hold applies before this slice and every later one
    unsigned rowsPerSlice = 32768;
    sqlite3* handle = nullptr; // set while the engine may be working for the load
    std::atomic<bool> finished{false};

    // The result, read once `finished` is set.
    std::unique_ptr<FoldedNames> names;
    qint64 count = -1;
    bool counted = false;
    bool unusable = false;

    enum class Outcome { Done, Overtaken, Failed };

    void run(Register& reg);
    bool read(sqlite3* db);
    Outcome readAll(sqlite3* db);
    // Whether the file keeps order and text the way the copy mirrors them.
    static bool mirrorable(sqlite3* db);
    void waitWhileHeld(unsigned slice)
    {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this, slice] { return !hold || slice < holdFrom || stop; });
    }
};

void NameCopy::Loader::run(Register& reg)
{
    Connection db;
    const OpenResult opened = reg.connect(db);
    // The engine's own interface: Qt turns text into QString (which replaces bytes that are
    // not UTF-8, where the search must see them unchanged) and cannot stop a running
    // statement from another thread.
    sqlite3* handle = db.isOpen() && opened.problem != OpenProblem::EngineMismatch
                          ? sqliteHandle(db.connection())
                          : nullptr;
    if (handle) {
        {
            std::lock_guard lock(mutex);
            this->handle = stop ? nullptr : handle;
        }
        if (this->handle && !read(handle))
            names.reset();
        std::lock_guard lock(mutex);
        this->handle = nullptr;
    }
    db.close();
    finished = true;
}

bool NameCopy::Loader::mirrorable(sqlite3* db)
{
    RawStatement encoding(db, "PRAGMA encoding");
    const bool utf8 =
        encoding.statement && sqlite3_step(encoding.statement) == SQLITE_ROW &&
        sameWord(reinterpret_cast<const char*>(sqlite3_column_text(encoding.statement, 0)),
                 "UTF-8");

    const char* type = nullptr;
    const char* collation = nullptr;
    int notNull = 0, primaryKey = 0, autoIncrement = 0;
    // Slices continue after a key bound as it was read: only a text or untyped column
    // compares such a value unchanged.
    const bool binaryKey =
        sqlite3_table_column_metadata(db, "main", "client", "idFamKey", &type, &collation, &notNull,
                                      &primaryKey, &autoIncrement) == SQLITE_OK &&
        sameWord(collation, "BINARY") && textOrUntyped(type);
    // The tie-break by idnom is the row id's order only when idnom is the row id.
    const bool idIsRowId =
        sqlite3_table_column_metadata(db, "main", "client", "idnom", &type, &collation, &notNull,
                                      &primaryKey, &autoIncrement) == SQLITE_OK &&
        primaryKey && sameWord(type, "INTEGER");
    return utf8 && binaryKey && idIsRowId;
}

bool NameCopy::Loader::read(sqlite3* db)
{
    if (!mirrorable(db)) {
        unusable = true;
        return false;
    }
    // A load that other writers keep overtaking is left for later.
    for (int attempt = 0; attempt < kMaxLoadAttempts && !stop; ++attempt) {
        names = std::make_unique<FoldedNames>();
        switch (readAll(db)) {
        case Outcome::Done:
            names->squeeze();
            return true;
        case Outcome::Overtaken:
            continue;
        case Outcome::Failed:
            return false;
        }
    }
    return false;
}

namespace {

std::optional<qint64> singleNumber(sqlite3_stmt* statement)
{
    std::optional<qint64> value;
    if (statement && sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_reset(statement);
    return value;
}

} // namespace

// Reads the names in slices of their order, each slice in a read transaction of its own: in
// the rollback journal a reader holds off every writer's commit for as long as it reads, so
// no write of the program (or of anyone) waits longer than one slice. The slices form one
// snapshot as long as the names did not change between them.
NameCopy::Loader::Outcome NameCopy::Loader::readAll(sqlite3* db)
{
    const QByteArray order = Statements::partsByName().orderBy.toUtf8();
    const QByteArray columns = QByteArrayLiteral("SELECT rowid, idFamKey FROM client WHERE ");
    RawStatement firstSlice(db, columns + "idFamKey IS NOT NULL ORDER BY " + order + " LIMIT ?");
    RawStatement nextSlice(db,
                           columns + "(idFamKey, idnom) > (?, ?) ORDER BY " + order + " LIMIT ?");
    RawStatement counter(db, kCounterSql.toUtf8());
    RawStatement version(db, "PRAGMA data_version");
    if (!firstSlice.statement || !nextSlice.statement || !version.statement)
        return Outcome::Failed;
    counted = counter.statement != nullptr;

    sqlite3_value* lastKey = nullptr;
    qint64 lastId = 0;
    std::optional<qint64> firstCount, firstVersion;
    Outcome outcome = Outcome::Failed;
    unsigned rows = 0;
    unsigned slices = 0;
    for (;;) {
        waitWhileHeld(slices++); // between slices, where it holds no lock
        if (stop || sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            break;
        const auto nowCount = counted ? singleNumber(counter.statement) : std::nullopt;
        const auto nowVersion = singleNumber(version.statement);
        bool sliceOk = (!counted || nowCount) && nowVersion;
        if (sliceOk && rows == 0) {
            firstCount = nowCount;
            firstVersion = nowVersion;
        } else if (sliceOk && (counted ? nowCount != firstCount : nowVersion != firstVersion)) {
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            outcome = Outcome::Overtaken;
            break;
        }
        sqlite3_stmt* slice = rows ? nextSlice.statement : firstSlice.statement;
        int parameter = 1;
        if (slice == nextSlice.statement) {
            sqlite3_bind_value(slice, parameter++, lastKey);
            sqlite3_bind_int64(slice, parameter++, lastId);
        }
        sqlite3_bind_int(slice, parameter, int(rowsPerSlice));
        unsigned sliceRows = 0;
        int step = SQLITE_ROW;
        while (sliceOk && !stop && (step = sqlite3_step(slice)) == SQLITE_ROW) {
            const int type = sqlite3_column_type(slice, 1);
            const FoldedNames::Kind kind = type == SQLITE_TEXT   ? FoldedNames::Kind::Text
                                           : type == SQLITE_BLOB ? FoldedNames::Kind::Blob
                                                                 : FoldedNames::Kind::Number;
            lastId = sqlite3_column_int64(slice, 0);
            if (++sliceRows == rowsPerSlice) {
                // Where the next slice starts: the last key with its type, exactly (taken
                // before reading it as text converts it).
                sqlite3_value_free(lastKey);
                lastKey = sqlite3_value_dup(sqlite3_column_value(slice, 1));
            }
            // The same text of the value that the search function gets from the engine.
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(slice, 1));
            const auto bytes = std::size_t(sqlite3_column_bytes(slice, 1));
            names->append(lastId, kind, {text ? text : "", text ? bytes : 0});
            ++rows;
        }
        sliceOk = sliceOk && !stop && step == SQLITE_DONE && (sliceRows < rowsPerSlice || lastKey);
        sqlite3_reset(slice);
        sqlite3_clear_bindings(slice);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (!sliceOk)
            break;
        if (sliceRows < rowsPerSlice) {
            outcome = Outcome::Done;
            break;
        }
    }
    sqlite3_value_free(lastKey);
    if (outcome == Outcome::Done)
        count = counted ? firstCount.value_or(-1) : -1;
    return outcome;
}

NameCopy::NameCopy(Register& reg, QObject* parent) : QObject(parent), m_register(reg)
{
    connect(&reg, &Register::partChanged, this, &NameCopy::noteOwnChange);
    // Compaction and shutdown close every connection: the load stops first, promptly.
    connect(&reg, &Register::aboutToClose, this, [this] {
        stopLoading();
        dropCopy();
        closeConnection();
    });
}

NameCopy::~NameCopy()
{
    stopLoading();
}

bool NameCopy::isPlainText(const QString& text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('#') ||
            c == QLatin1Char('['))
            return false;
    }
    return text.isValidUtf16();
}

void NameCopy::startLoading()
{
    if (m_thread || m_names || m_unusable || m_register.isClosed())
        return;
    if (m_failures >= kMaxFailures) {
        if (m_sinceFailure.isValid() && m_sinceFailure.elapsed() < m_retryDelayMs)
            return;
        m_failures = kMaxFailures - 1; // one more try now, then wait again
    }
    if (!m_check.isOpen())
        m_register.connect(m_check);
    // Read before the load's snapshot: any commit after it shows at the next check.
    const auto version = dataVersion();
    if (!version) {
        noteFailure();
        return;
    }
    m_version = *version;
    m_pending.clear();
    m_pendingLost = false;

    m_loader = std::make_shared<Loader>();
    m_loader->hold = m_hold;
    m_loader->holdFrom = m_holdFrom;
    m_loader->rowsPerSlice = m_sliceRows;
    m_thread = QThread::create([loader = m_loader, &reg = m_register, self = this] {
        loader->run(reg);
        QMetaObject::invokeMethod(
            self, [self] { self->takeFinishedLoad(); }, Qt::QueuedConnection);
    });
    m_thread->start();
}

void NameCopy::takeFinishedLoad()
{
    if (!m_thread || !m_loader->finished)
        return;
    m_thread->wait();
    delete std::exchange(m_thread, nullptr);
    const std::shared_ptr<Loader> loader = std::exchange(m_loader, nullptr);
    if (!loader->names) {
        if (loader->unusable)
            m_unusable = true;
        else
            noteFailure();
        return;
    }
    qint64 count = loader->count;
    bool placed = !m_pendingLost;
    for (const NameChange& change : m_pending)
        placed = placed && loader->counted && followChange(*loader->names, count, change);
    m_pending.clear();
    if (!placed) {
        startLoading(); // an own write fell between: read again
        return;
    }
    m_names = std::move(loader->names);
    m_count = count;
    m_counted = loader->counted;
    m_failures = 0;
    ++m_loads;
    emit ready();
}

void NameCopy::noteFailure()
{
    ++m_failures;
    m_sinceFailure.start();
}

bool NameCopy::isReady()
{
    takeFinishedLoad();
    return m_names != nullptr;
}

bool NameCopy::isLoading()
{
    takeFinishedLoad();
    return m_thread != nullptr;
}

void NameCopy::stopLoading()
{
    if (!m_thread)
        return;
    {
        std::lock_guard lock(m_loader->mutex);
        m_loader->stop = true;
        if (m_loader->handle)
            sqlite3_interrupt(m_loader->handle);
    }
    m_loader->wake.notify_all();
    m_thread->wait();
    delete std::exchange(m_thread, nullptr);
    m_loader.reset();
    m_pending.clear();
}

void NameCopy::holdLoading(bool hold, unsigned fromSlice)
{
    m_hold = hold;
    m_holdFrom = fromSlice;
    if (!m_loader)
        return;
    {
        std::lock_guard lock(m_loader->mutex);
        m_loader->hold = hold;
        m_loader->holdFrom = fromSlice;
    }
    m_loader->wake.notify_all();
}

void NameCopy::dropCopy()
{
    m_names.reset();
}

void NameCopy::closeConnection()
{
    m_check.close();
}

std::optional<qint64> NameCopy::dataVersion()
{
    if (!m_check.isOpen())
        return std::nullopt;
    QSqlQuery query(m_check.connection());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

bool NameCopy::confirmUnchanged()
{
    const auto version = dataVersion();
    if (!version)
        return false;
    if (*version == m_version)
        return true; // nobody committed anything
    // Someone committed: fine as long as no name changed but those the copy followed. The
    // version is read first, so a commit between the two reads shows at the next check.
    if (!m_counted || readCounter(m_check.connection()) != m_count)
        return false;
    m_version = *version;
    return true;
}

std::optional<QVector<qint64>> NameCopy::find(const QString& text)
{
    if (!isPlainText(text))
        return std::nullopt;
    takeFinishedLoad();
    if (m_names && !confirmUnchanged())
        dropCopy();
    if (!m_names) {
        startLoading();
        return std::nullopt;
    }
    // Folded the way the search function folds the text of its pattern.
    const QByteArray needle = foldCase(text).toUtf8();
    return m_names->find({needle.constData(), std::size_t(needle.size())}, m_kernel);
}

void NameCopy::noteOwnChange(const NameChange& change)
{
    if (m_thread) {
        if (m_pending.size() < kMaxPending)
            m_pending.push_back(change);
        else
            m_pendingLost = true;
        return;
    }
    if (m_names && (!m_counted || !followChange(*m_names, m_count, change))) {
        dropCopy();
        startLoading();
    }
}

std::size_t NameCopy::memoryBytes() const
{
    return m_names ? m_names->memoryBytes() : 0;
}

qsizetype NameCopy::size() const
{
    return m_names ? m_names->size() : 0;
}

} // namespace tarvik
