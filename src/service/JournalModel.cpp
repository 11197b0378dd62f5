#include "service/JournalModel.h"

#include "store/register/Connection.h"

#include <QDateTime>
#include <QHash>

namespace tarvik {

JournalModel::JournalModel(const Journal& journal, QObject* parent)
    : QAbstractTableModel(parent),
      m_journal(journal)
{
}

bool JournalModel::setFilter(const JournalFilter& filter)
{
    beginResetModel();
    m_filter = filter;
    m_entries.clear();
    m_atEnd = false;
    m_lastError.clear();
    const JournalPage page = m_journal.page(m_filter, 0, kPageSize);
    if (page.ok) {
        m_entries = page.entries;
        m_atEnd = page.entries.size() < kPageSize;
    } else {
        m_atEnd = true;
        m_lastError = describeFailure(page.error);
    }
    endResetModel();
    return page.ok;
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
    if (!canFetchMore(parent))
        return;
    const JournalPage page = m_journal.page(m_filter, m_entries.last().entry, kPageSize);
    if (!page.ok) {
        m_atEnd = true;
        m_lastError = describeFailure(page.error);
        return;
    }
    m_atEnd = page.entries.size() < kPageSize;
    if (page.entries.isEmpty())
        return;
    beginInsertRows({}, int(m_entries.size()), int(m_entries.size() + page.entries.size() - 1));
    m_entries += page.entries;
    endInsertRows();
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
