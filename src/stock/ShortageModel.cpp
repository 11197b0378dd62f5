#include "stock/ShortageModel.h"

#include "store/text/NumberText.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace tarvik {

ShortageModel::ShortageModel(QObject* parent) : QAbstractTableModel(parent) {}

void ShortageModel::setParts(QVector<Shortage> parts)
{
    beginResetModel();
    m_parts = std::move(parts);
    endResetModel();
}

int ShortageModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_parts.size());
}

int ShortageModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QString ShortageModel::text(int row, int column) const
{
    if (row < 0 || row >= m_parts.size())
        return {};
    const Shortage& part = m_parts.at(row);
    switch (column) {
    case Name:
        return part.name;
    case Package:
        return part.package;
    case Quantity:
        return formatNumber(part.quantity);
    case Minimum:
        return QString::number(part.minimum);
    case Shortfall:
        return formatNumber(part.shortfall());
    case Value: {
        const auto value = part.shortfallValue();
        return value ? formatNumber(*value) : QString();
    }
    case Notes:
        return part.notes;
    }
    return {};
}

QVariant ShortageModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && index.column() >= Quantity && index.column() <= Value)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant ShortageModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList captions{
        QStringLiteral("Наименование"),   QStringLiteral("Корпус"),
        QStringLiteral("Количество"),     QStringLiteral("Минимум"),
        QStringLiteral("Нехватка"),       QStringLiteral("Сумма нехватки"),
        QStringLiteral("Доп. информация")};
    return section >= 0 && section < captions.size() ? captions.at(section) : QVariant();
}

Qt::ItemFlags ShortageModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == Minimum)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool ShortageModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != Minimum || role != Qt::EditRole)
        return false;
    const auto minimum = typedMinimum(value.toString());
    if (!minimum || *minimum == std::optional<qint64>(m_parts.at(index.row()).minimum))
        return false;
    emit minimumEdited(index.row(), *minimum);
    return true;
}

QValidator* digitsOnly(QObject* parent)
{
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,18}")),
                                           parent);
}

std::optional<std::optional<qint64>> typedMinimum(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::optional<qint64>();
    bool ok = false;
    const qint64 minimum = trimmed.toLongLong(&ok);
    // Digits only: a sign or a locale's separator is no minimum.
    if (!ok || trimmed.size() > 18 ||
        !std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    return std::optional<qint64>(minimum);
}

QWidget* MinimumDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const
{
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* box = qobject_cast<QLineEdit*>(editor)) {
        box->setValidator(digitsOnly(box));
        box->setAccessibleName(QStringLiteral("Минимум"));
    }
    return editor;
}

} // namespace tarvik
