#include "store/search/NameCopy.h"

#include "store/search/NameLoad.h"

#include "store/records/Statements.h"
#include "store/register/Register.h"
#include "store/text/RawStatement.h"
#include "store/text/TextFold.h"

#include <QSqlQuery>

#include <sqlite3.h>

namespace tarvik {

namespace {

// Own writes remembered while a load runs; more than this and the load is
// simply redone.
constexpr std::size_t kMaxPending = 10000;
// A load that keeps failing is not retried on every keystroke, but neither
// given up: a lock or a passing fault clears, and the engine alone is slow at a
// million parts.
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

// Follows one own write in `names`, which reflect the counter value `count`.
// False when the write cannot be placed: someone else changed names in between,
// or what it stored is not known well enough.
bool followChange(FoldedNames& names, qint64& count, const NameChange& change)
{
    if (change.before < 0 || change.after < 0 || change.op == NameChange::Op::Unknown)
        return false;
    if (change.after == change.before || change.after <= count)
        return true; // no name changed, or the copy was read after this write
    if (change.before != count)
        return false;
    if (change.op != NameChange::Op::Removed) {
        // A number key sorts among numbers by value: rare enough to read everything
        // again.
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

// The engine's affinity rules for a declared column type: TEXT, or none (BLOB
// or no type).
bool textOrUntyped(const char* declared)
{
    const QByteArray type = QByteArray(declared ? declared : "").toUpper();
    if (type.contains("INT"))
        return false;
    if (type.contains("CHAR") || type.contains("CLOB") || type.contains("TEXT"))
        return true;
    return type.isEmpty() || type.contains("BLOB");
}

enum class Outcome { Done, Overtaken, Failed };

// Whether the file keeps order and text the way the copy mirrors them.
bool mirrorable(sqlite3* db)
{
    RawStatement encoding(db, "PRAGMA encoding");
    const bool utf8 =
        encoding.statement && sqlite3_step(encoding.statement) == SQLITE_ROW &&
        sameWord(reinterpret_cast<const char*>(sqlite3_column_text(encoding.statement, 0)),
                 "UTF-8");

    const char* type = nullptr;
    const char* collation = nullptr;
    int notNull = 0, primaryKey = 0, autoIncrement = 0;
    // Slices continue after a key bound as it was read: only a text or untyped
    // column compares such a value unchanged.
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

std::optional<qint64> singleNumber(sqlite3_stmt* statement)
{
    std::optional<qint64> value;
    if (statement && sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_reset(statement);
    return value;
}

// Reads the names in slices of their order, each slice in a read transaction of
// its own: in the rollback journal a reader holds off every writer's commit for
// as long as it reads, so no write of the program (or of anyone) waits longer
// than one slice. The slices form one snapshot as long as the names did not
// change between them.
Outcome readAll(BackgroundReader::Run& run, NameLoad& load)
{
    sqlite3* db = run.handle;
    const QByteArray order = Statements::partsByName().orderBy.toUtf8();
    const QByteArray columns = QByteArrayLiteral("SELECT rowid, idFamKey FROM client WHERE ");
    RawStatement firstSlice(db, columns + "idFamKey IS NOT NULL ORDER BY " + order + " LIMIT ?");
    RawStatement nextSlice(db,
                           columns + "(idFamKey, idnom) > (?, ?) ORDER BY " + order + " LIMIT ?");
    RawStatement counter(db, kCounterSql.toUtf8());
    RawStatement version(db, "PRAGMA data_version");
    if (!firstSlice.statement || !nextSlice.statement || !version.statement)
        return Outcome::Failed;
    load.counted = counter.statement != nullptr;

    sqlite3_value* lastKey = nullptr;
    qint64 lastId = 0;
    std::optional<qint64> firstCount, firstVersion;
    Outcome outcome = Outcome::Failed;
    unsigned rows = 0;
    unsigned slices = 0;
    for (;;) {
        // Held (a seam for tests) between slices, where it holds no lock.
        if (!run.proceed(slices++) ||
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            break;
        const auto nowCount = load.counted ? singleNumber(counter.statement) : std::nullopt;
        const auto nowVersion = singleNumber(version.statement);
        bool sliceOk = (!load.counted || nowCount) && nowVersion;
        if (sliceOk && rows == 0) {
            firstCount = nowCount;
            firstVersion = nowVersion;
        } else if (sliceOk &&
                   (load.counted ? nowCount != firstCount : nowVersion != firstVersion)) {
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
        sqlite3_bind_int(slice, parameter, int(load.rowsPerSlice));
        unsigned sliceRows = 0;
        int step = SQLITE_ROW;
        while (sliceOk && !run.stopping() && (step = sqlite3_step(slice)) == SQLITE_ROW) {
            const int type = sqlite3_column_type(slice, 1);
            const FoldedNames::Kind kind = type == SQLITE_TEXT   ? FoldedNames::Kind::Text
                                           : type == SQLITE_BLOB ? FoldedNames::Kind::Blob
                                                                 : FoldedNames::Kind::Number;
            lastId = sqlite3_column_int64(slice, 0);
            if (++sliceRows == load.rowsPerSlice) {
                // Where the next slice starts: the last key with its type, exactly
                // (taken before reading it as text converts it).
                sqlite3_value_free(lastKey);
                lastKey = sqlite3_value_dup(sqlite3_column_value(slice, 1));
            }
            // The same text of the value that the search function gets from the
            // engine.
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(slice, 1));
            const auto bytes = std::size_t(sqlite3_column_bytes(slice, 1));
            load.names->append(lastId, kind, {text ? text : "", text ? bytes : 0});
            ++rows;
        }
        sliceOk = sliceOk && !run.stopping() && step == SQLITE_DONE &&
                  (sliceRows < load.rowsPerSlice || lastKey);
        sqlite3_reset(slice);
        sqlite3_clear_bindings(slice);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (!sliceOk)
            break;
        if (sliceRows < load.rowsPerSlice) {
            outcome = Outcome::Done;
            break;
        }
    }
    sqlite3_value_free(lastKey);
    if (outcome == Outcome::Done)
        load.count = load.counted ? firstCount.value_or(-1) : -1;
    return outcome;
}

// On the engine's own interface: Qt turns text into QString, which replaces
// bytes that are not UTF-8, where the search must see them unchanged.
bool readNames(BackgroundReader::Run& run, NameLoad& load)
{
    if (run.db.onServer())
        return readServerNames(run, load);
    if (!mirrorable(run.handle)) {
        load.unusable = true;
        return false;
    }
    // A load that other writers keep overtaking is left for later.
    for (int attempt = 0; attempt < kMaxLoadAttempts && !run.stopping(); ++attempt) {
        load.names = std::make_unique<FoldedNames>();
        const Outcome outcome = readAll(run, load);
        if (outcome == Outcome::Done) {
            load.names->squeeze();
            return true;
        }
        if (outcome == Outcome::Failed)
            break;
    }
    load.names.reset();
    return false;
}

} // namespace

NameCopy::NameCopy(Register& reg, QObject* parent)
    : QObject(parent),
      m_register(reg),
      // Own writes are not held up by a load, which reads in short slices; they
      // are followed once it ends.
      m_reader(reg, BackgroundReader::Writes::LetRun)
{
    connect(&reg, &Register::partChanged, this, &NameCopy::noteOwnChange);
    connect(&reg, &Register::partsChangedElsewhere, this, &NameCopy::followChangesElsewhere);
    connect(&m_reader, &BackgroundReader::ended, this, &NameCopy::onLoadEnded);
    // Compaction and shutdown close every connection: the load stops first,
    // promptly.
    connect(&reg, &Register::aboutToClose, this, [this] {
        stopLoading();
        dropCopy();
        closeConnection();
    });
}

NameCopy::~NameCopy()
{
    cancelPatternSearch();
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
    if (m_reader.isRunning() || m_names || m_unusable || m_register.isClosed())
        return;
    if (m_failures >= kMaxFailures) {
        if (m_sinceFailure.isValid() && m_sinceFailure.elapsed() < m_retryDelayMs)
            return;
        m_failures = kMaxFailures - 1; // one more try now, then wait again
    }
    if (!m_check.isOpen())
        m_register.connect(m_check);
    // Read before the load's snapshot: any commit after it shows at the next
    // check.
    const auto version = dataVersion();
    if (!version) {
        noteFailure();
        return;
    }
    m_version = *version;
    m_pending.clear();
    m_pendingLost = false;

    m_load = std::make_shared<NameLoad>();
    m_load->rowsPerSlice = m_sliceRows;
    m_reader.start([load = m_load](BackgroundReader::Run& run) { return readNames(run, *load); });
}

void NameCopy::onLoadEnded(BackgroundReader::Outcome outcome)
{
    const std::shared_ptr<NameLoad> load = std::exchange(m_load, nullptr);
    if (outcome != BackgroundReader::Outcome::Finished) {
        if (load->unusable)
            m_unusable = true;
        else
            noteFailure();
        return;
    }
    qint64 count = load->count;
    bool placed = !m_pendingLost;
    for (const NameChange& change : m_pending)
        placed = placed && load->counted && followChange(*load->names, count, change);
    m_pending.clear();
    if (!placed) {
        startLoading(); // an own write fell between: read again
        return;
    }
    cancelPatternSearch(); // it may still read the names this replaces
    m_names = std::move(load->names);
    ++m_epoch;
    m_count = count;
    m_counted = load->counted;
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
    m_reader.takeEnded();
    return m_names != nullptr;
}

bool NameCopy::isLoading()
{
    m_reader.takeEnded();
    return m_reader.isRunning();
}

void NameCopy::stopLoading()
{
    m_reader.stop();
    m_load.reset();
    m_pending.clear();
}

void NameCopy::dropCopy()
{
    cancelPatternSearch();
    m_names.reset();
    ++m_epoch;
}

void NameCopy::closeConnection()
{
    m_check.close();
}

std::optional<qint64> NameCopy::dataVersion()
{
    if (!m_check.isOpen())
        return std::nullopt;
    // A server has no version of its data: the name-change counter alone tells.
    if (m_check.onServer()) {
        QSqlQuery query(m_check.connection());
        query.setForwardOnly(true);
        if (query.exec(kCounterSql) && query.next())
            return query.value(0).toLongLong();
        m_check.noteError(query.lastError()); // a lost connection is opened again next time
        return std::nullopt;
    }
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
    // Someone committed: fine as long as no name changed but those the copy
    // followed. The version is read first, so a commit between the two reads
    // shows at the next check.
    if (!m_counted || readCounter(m_check.connection()) != m_count)
        return false;
    m_version = *version;
    return true;
}

std::optional<QVector<qint64>> NameCopy::find(const QString& text)
{
    // Text the engine gets through a conversion of its own: left to it.
    if (!text.isValidUtf16())
        return std::nullopt;
    m_reader.takeEnded();
    if (m_names && !confirmUnchanged())
        dropCopy();
    if (!m_names) {
        startLoading();
        return std::nullopt;
    }
    if (!isPlainText(text))
        return findPattern(text);
    // Keyed the way the search function keys the text of its pattern.
    const QByteArray needle = nameKeyOf(text).toUtf8();
    return m_names->find({needle.constData(), std::size_t(needle.size())}, m_kernel);
}

void NameCopy::noteOwnChange(const NameChange& change)
{
    if (m_reader.isRunning()) {
        if (m_pending.size() < kMaxPending)
            m_pending.push_back(change);
        else
            m_pendingLost = true;
        return;
    }
    if (m_names)
        cancelPatternSearch(); // the names must hold still while it reads them
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
