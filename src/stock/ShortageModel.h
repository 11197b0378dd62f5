#pragma once

#include "store/records/Shortages.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include <optional>

class QValidator;

namespace tarvik {

// The shortage list's rows: name, package, quantity, minimum, shortfall, its value and the
// notes (where a supplier is usually put down), the
// numbers written as the stock value label writes them. The minimum's cell is edited; the
// model does not write it, it asks its owner to (minimumEdited).
class ShortageModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Name, Package, Quantity, Minimum, Shortfall, Value, Notes, Columns };

    explicit ShortageModel(QObject* parent = nullptr);

    void setParts(QVector<Shortage> parts);
    const QVector<Shortage>& parts() const { return m_parts; }
    // The cell as the window shows it (and the CSV writes it).
    QString text(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    // The user typed a new minimum for the part of `row` (none: the cell emptied).
    void minimumEdited(int row, std::optional<qint64> minimum);

private:
    QVector<Shortage> m_parts;
};

// The minimum's cell takes digits only.
class MinimumDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
};

// Up to 18 digits: every such number fits the stored integer.
QValidator* digitsOnly(QObject* parent);
// The typed minimum: none for an empty box; nothing at all for text that is no minimum.
std::optional<std::optional<qint64>> typedMinimum(const QString& text);

} // namespace tarvik
