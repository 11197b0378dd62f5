#include "store/records/RecordSource.h"

#include "store/records/ServerKeys.h"
#include "store/register/Dialect.h"
#include "store/register/NameKeys.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>

#include <algorithm>
#include <cstring>

namespace tarvik {
namespace {

constexpr int kPageRows = 64;
constexpr int kMaxShownRows = 4096;

} // namespace

RecordSource::RecordSource(QObject* parent) : QAbstractTableModel(parent) {}

RecordSource::~RecordSource()
{
    close();
}

OpenResult RecordSource::open(Register& reg)
{
    close();
    connect(&reg, &Register::aboutToClose, this, &RecordSource::savePending, Qt::UniqueConnection);
    if (!m_restReader || &m_restReader->owner() != &reg) {
        // A change of this program waits for no read of the list: it interrupts the read,
        // which starts again after it.
        m_restReader = std::make_unique<BackgroundReader>(reg, BackgroundReader::Writes::Interrupt);
        connect(m_restReader.get(), &BackgroundReader::ended, this, &RecordSource::onRestEnded);
        // The reader stops itself; the list stays as far as it came.
        connect(&reg, &Register::aboutToClose, this, [this] { m_rest.reset(); });
    }
    return reg.connect(m_db);
}

OpenResult RecordSource::open(const QString& databasePath)
{
    return m_db.open(databasePath);
}

void RecordSource::close()
{
    cancelLoadingRest();
    savePending();
    m_db.close();
}

bool RecordSource::fail(const QSqlQuery& query)
{
    return fail(query.lastError());
}

bool RecordSource::fail(const QSqlError& error)
{
    m_lastBusy = isBusyError(error);
    m_lastError = describeFailure(error);
    m_db.noteError(error);
    return false;
}

bool RecordSource::isParts() const
{
    return m_statement.table.compare(QLatin1String("client"), Qt::CaseInsensitive) == 0;
}

void RecordSource::loadFields()
{
    if (m_fieldsTable != m_statement.table || m_fields.isEmpty()) {
        m_fields = tableRecord(m_db.connection(), m_statement.table);
        m_fieldsTable = m_statement.table;
    }
}

void RecordSource::forgetRows()
{
    m_shown.clear();
}

bool RecordSource::prepareRefresh()
{
    cancelLoadingRest();
    m_lastBusy = false;
    if (!savePending() && m_lastBusy)
        return false; // locked by another program: the list and the edit stay
    m_lastError.clear();
    m_lastBusy = false;
    m_shownStatement = m_statement;

    if (!m_db.isOpen()) {
        m_lastError = QStringLiteral("database not open");
        return true; // an empty list, as before the source was opened
    }
    if (isParts() && !m_db.writesRefused()) {
        // Keys cleared by other tools' changes are filled before the list is sorted by them.
        const NameKeyHealing healed =
            healNameKeys(m_db.connection(), [this] { m_db.aboutToWrite(); });
        if (!healed.ok && (isBusyError(healed.error) || isDamageError(healed.error)))
            return fail(healed.error);
    }
    loadFields();
    return true;
}

std::optional<QVector<qint64>> RecordSource::copiedKeys()
{
    // A search for plain text is answered from memory when the copy can.
    if (!m_db.isOpen() || !m_nameCopy)
        return std::nullopt;
    const auto text = Statements::nameLikeText(m_statement);
    return text ? m_nameCopy->find(*text) : std::nullopt;
}

std::optional<QVector<qint64>> RecordSource::readKeys(const Connection& db,
                                                      const Statement& statement, int limit,
                                                      QSqlError& error)
{
    if (db.onServer())
        return readServerKeys(db.connection(), statement, limit, error);
    QSqlQuery query(db.connection());
    query.setForwardOnly(true);
    bool ok = query.prepare(statement.keysSql(limit));
    for (const QVariant& value : statement.binds)
        query.addBindValue(value);
    ok = ok && query.exec() && query.next();
    if (!ok) {
        error = query.lastError();
        return std::nullopt;
    }
    const QByteArray bytes = query.value(0).toByteArray();
    QVector<qint64> keys(bytes.size() / qsizetype(sizeof(qint64)));
    if (!keys.isEmpty()) // an empty list has no buffer to copy into
        std::memcpy(keys.data(), bytes.constData(), keys.size() * sizeof(qint64));
    return keys;
}

bool RecordSource::refresh()
{
    if (!prepareRefresh())
        return false;
    bool ok = m_db.isOpen();
    std::optional<QVector<qint64>> keys = copiedKeys();
    if (!keys && ok) {
        QSqlError error;
        keys = readKeys(m_db, m_statement, 0, error);
        if (!keys) {
            ok = fail(error);
            // A lock or a damaged file says nothing about the rows: the list shown stays,
            // rather than an empty one that would pass for an empty register.
            if (m_lastBusy || isDamageError(error))
                return false;
        }
    }
    showKeys(keys.value_or(QVector<qint64>()));
    return ok;
}

void RecordSource::showKeys(QVector<qint64> keys, qint64 kept)
{
    beginResetModel();
    m_keys = std::move(keys);
    m_currentRow = -1;
    m_current = QSqlRecord();
    forgetRows();
    // Current before the views hear of the reset, so what they show of it is already read.
    const qsizetype row = kept >= 0 ? m_keys.indexOf(kept) : -1;
    if (!m_keys.isEmpty())
        setCurrentRow(int(std::max<qsizetype>(row, 0)));
    endResetModel();
}

bool RecordSource::setCurrentRow(int row)
{
    m_lastBusy = false;
    if (row != m_currentRow && !savePending() && m_lastBusy)
        return false; // the row stays; the edit is saved at the next try
    const int previousRow = m_currentRow;
    const QSqlRecord previous = m_current;
    m_current = QSqlRecord();
    m_currentRow = (row >= 0 && row < m_keys.size()) ? row : -1;
    if (m_currentRow < 0 || !m_db.isOpen())
        return false;

    QSqlQuery query(m_db.connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT * FROM %1 WHERE %2 = ?")
                      .arg(m_statement.table, keyColumn(m_statement.table, m_db.connection())));
    query.addBindValue(m_keys.at(m_currentRow));
    if (!query.exec()) {
        fail(query);
        if (m_lastBusy) { // nothing was read: the row shown stays current
            m_currentRow = previousRow;
            m_current = previous;
        }
        return false;
    }
    if (!query.next()) {
        m_db.noteError(query.lastError());
        return false; // deleted through another view since the refresh
    }
    m_current = query.record();
    return true;
}

QVariant RecordSource::field(const QString& name) const
{
    return m_current.value(name);
}

PartRow RecordSource::currentPart() const
{
    return PartRow::read([this](const QString& name) { return field(name); });
}

int RecordSource::columnOf(const QString& field) const
{
    return m_fields.indexOf(field);
}

void RecordSource::setCaption(const QString& field, const QString& caption)
{
    m_captions.insert(field.toLower(), caption);
}

int RecordSource::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_keys.size());
}

int RecordSource::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_fields.count();
}

QVariant RecordSource::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= m_fields.count())
        return QAbstractTableModel::headerData(section, orientation, role);
    const QString name = m_fields.fieldName(section);
    return m_captions.value(name.toLower(), name);
}

QVariant RecordSource::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return m_rowHint && index.row() < m_keys.size() ? m_rowHint(m_keys.at(index.row()), role)
                                                        : QVariant();
    const QVector<QVariant>& values = rowValues(index.row());
    return index.column() < values.size() ? values.at(index.column()) : QVariant();
}

const QVector<QVariant>& RecordSource::rowValues(int row) const
{
    static const QVector<QVariant> none;
    if (row < 0 || row >= m_keys.size())
        return none;
    auto it = m_shown.constFind(m_keys.at(row));
    if (it == m_shown.constEnd()) {
        fetchPage(row - row % kPageRows);
        it = m_shown.constFind(m_keys.at(row));
    }
    return it == m_shown.constEnd() ? none : *it;
}

void RecordSource::hintsChanged()
{
    if (!m_keys.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_keys.size()) - 1, columnCount() - 1));
}

void RecordSource::setShownFields(const QStringList& fields)
{
    m_shownFields = fields;
    forgetRows();
}

QVector<int> RecordSource::shownColumns() const
{
    QVector<int> columns;
    for (const QString& name : m_shownFields) {
        const int column = m_fields.indexOf(name);
        if (column >= 0)
            columns << column;
    }
    if (columns.isEmpty()) {
        for (int column = 0; column < m_fields.count(); ++column)
            columns << column;
    }
    return columns;
}

void RecordSource::fetchPage(int firstRow) const
{
    if (m_shown.size() > kMaxShownRows)
        m_shown.clear();
    const int count = int(std::min<qsizetype>(kPageRows, m_keys.size() - firstRow));
    const int fields = m_fields.count();
    const QVector<int> targets = shownColumns();
    QStringList columns;
    for (int column : targets)
        columns << quotedField(m_db.connection(), m_fields.fieldName(column));
    QSqlQuery query(m_db.connection());
    query.setForwardOnly(true);
    const QString key = keyColumn(m_statement.table, m_db.connection());
    query.prepare(QStringLiteral("SELECT %4, %3 FROM %1 WHERE %4 IN (%2)")
                      .arg(m_statement.table, Statements::placeholders(count),
                           columns.join(QStringLiteral(", ")), key));
    for (int i = 0; i < count; ++i) {
        query.addBindValue(m_keys.at(firstRow + i));
        m_shown.insert(m_keys.at(firstRow + i), {}); // a row gone since the refresh shows blank
    }
    if (!query.exec()) {
        m_db.noteError(query.lastError());
        return;
    }
    while (query.next()) {
        QVector<QVariant> values(fields);
        for (int i = 0; i < targets.size(); ++i)
            values[targets.at(i)] = query.value(i + 1);
        m_shown.insert(query.value(0).toLongLong(), values);
    }
    m_db.noteError(query.lastError());
}

} // namespace tarvik
