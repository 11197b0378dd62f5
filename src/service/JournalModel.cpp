#include "service/JournalModel.h"

#include "store/register/Connection.h"
#include "store/register/Register.h"

#include <QDateTime>
#include <QHash>

namespace tarvik {

// What one read is given and gives back; shared with its job.
struct JournalModel::Read {
    JournalFilter filter;
    qint64 before = 0; // 0: the filter's first page, which replaces the rows
    JournalPage page;
};

JournalModel::JournalModel(Register& reg, QObject* parent)
    : QAbstractTableModel(parent),
      m_reader(reg, BackgroundReader::Writes::Interrupt)
{
    connect(&m_reader, &BackgroundReader::ended, this, &JournalModel::onReadEnded);
    // The reader stops itself when the register closes; nothing will come of its read.
    connect(&reg, &Register::aboutToClose, this, &JournalModel::stopReading, Qt::DirectConnection);
}

JournalModel::~JournalModel() = default;

void JournalModel::setFilter(const JournalFilter& filter)
{
    m_filter = filter;
    m_atEnd = true; // the rows shown are the old filter's: no more of them are asked for
    m_lastError.clear();
    startRead(0);
}

void JournalModel::stopReading()
{
    m_reader.stop();
    if (m_read) {
        m_read.reset();
        emit readingChanged(false);
    }
}

void JournalModel::startRead(qint64 before)
{
    // Interrupted, a read on the file ends within milliseconds; one on a server at its next
    // row, or at the statement's limit.
    m_reader.stop();
    auto read = std::make_shared<Read>();
    read->filter = m_filter;
    read->before = before;
    const bool wasReading = isReading();
    m_read = read;
    const bool started = m_reader.start([read](BackgroundReader::Run& run) {
        if (!run.proceed(0))
            return false;
        read->page = Journal(run.db).page(read->filter, read->before, kPageSize,
                                          [&run] { return run.stopping(); });
        return read->page.ok;
    });
    if (!started) { // the register is closed: what is shown stays
        m_read.reset();
        if (wasReading)
            emit readingChanged(false);
        return;
    }
    if (!wasReading)
        emit readingChanged(true);
}

void JournalModel::onReadEnded(BackgroundReader::Outcome outcome)
{
    const std::shared_ptr<Read> read = std::exchange(m_read, nullptr);
    if (!read)
        return;
    if (outcome == BackgroundReader::Outcome::InterruptedByWrite) {
        // A change of this program's went first; the same page read again shows it.
        m_read = read;
        startRead(read->before);
        return;
    }
    emit readingChanged(false);
    if (outcome == BackgroundReader::Outcome::Failed) {
        m_atEnd = true;
        m_lastError = read->page.error.isValid() ? describeFailure(read->page.error)
                                                 : QStringLiteral("нет соединения с базой данных");
        emit readFailed(m_lastError);
        return;
    }
    const QVector<JournalEntry>& entries = read->page.entries;
    if (read->before == 0) {
        beginResetModel();
        m_entries = entries;
        m_atEnd = entries.size() < kPageSize;
        endResetModel();
        return;
    }
    m_atEnd = entries.size() < kPageSize;
    if (entries.isEmpty())
        return;
    beginInsertRows({}, int(m_entries.size()), int(m_entries.size() + entries.size() - 1));
    m_entries += entries;
    endInsertRows();
}

const JournalEntry* JournalModel::entryAt(int row) const
{
    return row >= 0 && row < m_entries.size() ? &m_entries[row] : nullptr;
}

bool JournalModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && !m_atEnd;
}

void JournalModel::fetchMore(const QModelIndex& parent)
{
    // The grid asks again when the page in reading has come and it still wants rows.
    if (!canFetchMore(parent) || isReading())
        return;
    startRead(m_entries.last().entry);
}

int JournalModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int JournalModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString JournalModel::fieldName(const QString& field)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("idFam"), QStringLiteral("Название")},
        {QStringLiteral("kont"), QStringLiteral("Ключ")},
        {QStringLiteral("pol"), QStringLiteral("Цена")},
        {QStringLiteral("datebir"), QStringLiteral("Корпус")},
        {QStringLiteral("phone"), QStringLiteral("Количество")},
        {QStringLiteral("sorp"), QStringLiteral("Примечание")},
        {QStringLiteral("PhotoN"), QStringLiteral("Рисунок корпуса")},
        {QStringLiteral("minimum"), QStringLiteral("Минимум")},
    };
    return names.value(field, field);
}

QString JournalModel::actionName(const JournalEntry& entry)
{
    if (entry.outside)
        return QStringLiteral("другая программа");
    static const QHash<QString, QString> names{
        {QStringLiteral("add"), QStringLiteral("добавление")},
        {QStringLiteral("edit"), QStringLiteral("изменение")},
        {QStringLiteral("plus"), QStringLiteral("+1")},
        {QStringLiteral("minus"), QStringLiteral("−1")},
        {QStringLiteral("notes"), QStringLiteral("примечание")},
        {QStringLiteral("delete"), QStringLiteral("удаление")},
        {QStringLiteral("undo"), QStringLiteral("отмена")},
        {QStringLiteral("minimum"), QStringLiteral("минимум")},
        {QStringLiteral("import"), QStringLiteral("импорт")},
    };
    return names.value(entry.action, entry.action);
}

QVariant JournalModel::data(const QModelIndex& index, int role) const
{
    const JournalEntry* entry = entryAt(index.row());
    if (!entry || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    switch (index.column()) {
    case Time: {
        QDateTime at = QDateTime::fromString(entry->changedAt, Qt::ISODateWithMs);
        return at.isValid() ? at.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))
                            : entry->changedAt;
    }
    case Computer:
        return entry->computer;
    case User:
        return entry->login;
    case Part:
        return entry->name;
    case Field:
        return fieldName(entry->field);
    case Was:
        return entry->was.toString();
    case Became:
        return entry->became.toString();
    case Action:
        return actionName(*entry);
    default:
        return {};
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const kCaptions[ColumnCount] = {
        "Время", "Компьютер", "Пользователь", "Деталь", "Поле", "Было", "Стало", "Действие"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(kCaptions[section])
                                                 : QVariant();
}

} // namespace tarvik
