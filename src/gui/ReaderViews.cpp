#include "gui/ReaderViews.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QTableView>

#include <algorithm>
#include <utility>

namespace tarvik {
namespace {

const char kShownColumns[] = "tarvikReadersShownColumns";
const char kNamedChoice[] = "tarvikReadersNamedChoice";

QList<int> shownColumns(const QAbstractItemView* view)
{
    QList<int> columns;
    const QAbstractItemModel* model = view ? view->model() : nullptr;
    if (!model)
        return columns;
    if (const auto* table = qobject_cast<const QTableView*>(view)) {
        const QHeaderView* header = table->horizontalHeader();
        for (int visual = 0; visual < header->count(); ++visual) {
            const int logical = header->logicalIndex(visual);
            if (!table->isColumnHidden(logical))
                columns.append(logical);
        }
    } else if (const auto* list = qobject_cast<const QListView*>(view)) {
        if (list->modelColumn() < model->columnCount(list->rootIndex()))
            columns.append(list->modelColumn());
    }
    return columns;
}

bool hasHeaderRow(const QAbstractItemView* view)
{
    const auto* table = qobject_cast<const QTableView*>(view);
    return table && !table->horizontalHeader()->isHidden();
}

// One shown cell, or the header of a shown column (row -1). It finds its model column each
// time it is asked, so hiding or moving columns never leaves it pointing at another field.
class ShownCell : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    ShownCell(QAbstractItemView* view, int row, int column)
        : m_view(view),
          m_row(row),
          m_column(column)
    {
    }

    bool isValid() const override { return logical() >= 0 && (m_row < 0 || index().isValid()); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_view.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text what) const override
    {
        if (what != QAccessible::Name || !isValid())
            return {};
        if (m_row < 0)
            return m_view->model()->headerData(logical(), Qt::Horizontal).toString();
        const QVariant spoken = index().data(Qt::AccessibleTextRole);
        return spoken.isValid() ? spoken.toString() : index().data().toString();
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        if (m_row < 0) {
            const QHeaderView* header = static_cast<QTableView*>(m_view.data())->horizontalHeader();
            const QRect section(header->sectionViewportPosition(logical()), 0,
                                header->sectionSize(logical()), header->height());
            return section.translated(header->viewport()->mapToGlobal(QPoint()));
        }
        return m_view->visualRect(index()).translated(m_view->viewport()->mapToGlobal(QPoint()));
    }

    QAccessible::Role role() const override
    {
        if (m_row < 0)
            return QAccessible::ColumnHeader;
        return qobject_cast<QListView*>(m_view.data()) ? QAccessible::ListItem : QAccessible::Cell;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        if (m_row < 0)
            return state;
        state.selectable = m_view->selectionMode() != QAbstractItemView::NoSelection;
        state.selected = isSelected();
        state.focusable = true;
        state.focused = m_view->hasFocus() && m_view->currentIndex().row() == m_row;
        state.invisible = !m_view->viewport()->rect().intersects(m_view->visualRect(index()));
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    bool isSelected() const override
    {
        return m_row >= 0 && m_view->selectionModel() &&
               m_view->selectionModel()->isSelected(index());
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override
    {
        QAccessibleTableInterface* grid = table() ? table()->tableInterface() : nullptr;
        if (m_row < 0 || !grid || !hasHeaderRow(m_view))
            return {};
        return {grid->cellAt(-1, m_column)};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    int logical() const
    {
        const QList<int> columns = shownColumns(m_view);
        return m_column < columns.size() ? columns.at(m_column) : -1;
    }
    QModelIndex index() const
    {
        return m_view->model()->index(m_row, logical(), m_view->rootIndex());
    }

    QPointer<QAbstractItemView> m_view;
    int m_row;
    int m_column;
};

// A table or list whose children are the shown cells only: the header row first, then row
// by row.
class ShownTable : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ShownTable(QAbstractItemView* view)
        : QAccessibleWidget(view,
                            qobject_cast<QListView*>(view) ? QAccessible::List : QAccessible::Table)
    {
    }
    ~ShownTable() override { forgetCells(); }

    QAbstractItemView* view() const { return static_cast<QAbstractItemView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override { return (rowCount() + headerRows()) * columnCount(); }
    QAccessibleInterface* child(int at) const override
    {
        const int columns = columnCount();
        if (at < 0 || columns == 0 || at >= childCount())
            return nullptr;
        return cell(at / columns - headerRows(), at % columns);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        QAccessibleTableCellInterface* cell =
            child ? const_cast<QAccessibleInterface*>(child)->tableCellInterface() : nullptr;
        if (!cell || cell->table() != this)
            return -1;
        return (cell->rowIndex() + headerRows()) * columnCount() + cell->columnIndex();
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint inside = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex at = view()->indexAt(inside);
        const int column = shownColumns(view()).indexOf(at.column());
        return at.isValid() && column >= 0 ? cell(at.row(), column) : nullptr;
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override
    {
        if (row < -headerRows() || row >= rowCount() || column < 0 || column >= columnCount())
            return nullptr;
        return cell(row, column);
    }
    QString columnDescription(int column) const override
    {
        const QList<int> columns = shownColumns(view());
        return column >= 0 && column < columns.size()
                   ? view()->model()->headerData(columns.at(column), Qt::Horizontal).toString()
                   : QString();
    }
    QString rowDescription(int) const override { return {}; }
    int columnCount() const override { return int(shownColumns(view()).size()); }
    int rowCount() const override
    {
        return view()->model() ? view()->model()->rowCount(view()->rootIndex()) : 0;
    }

    int selectedCellCount() const override { return int(selectedCells().size()); }
    QList<QAccessibleInterface*> selectedCells() const override
    {
        QList<QAccessibleInterface*> cells;
        const QList<int> columns = shownColumns(view());
        for (const int row : selectedRows())
            for (int column = 0; column < columns.size(); ++column)
                if (view()->selectionModel()->isSelected(
                        view()->model()->index(row, columns.at(column), view()->rootIndex())))
                    cells.append(cell(row, column));
        return cells;
    }
    int selectedColumnCount() const override { return int(selectedColumns().size()); }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    QList<int> selectedColumns() const override
    {
        QList<int> selected;
        const QList<int> columns = shownColumns(view());
        for (int column = 0; column < columns.size(); ++column)
            if (isColumnSelected(column))
                selected.append(column);
        return selected;
    }
    QList<int> selectedRows() const override
    {
        QList<int> rows;
        if (!view()->selectionModel())
            return rows;
        for (const QModelIndex& index : view()->selectionModel()->selectedIndexes())
            if (!rows.contains(index.row()))
                rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    bool isColumnSelected(int column) const override
    {
        const QList<int> columns = shownColumns(view());
        return view()->selectionModel() && column >= 0 && column < columns.size() &&
               view()->selectionModel()->isColumnSelected(columns.at(column), view()->rootIndex());
    }
    bool isRowSelected(int row) const override
    {
        return view()->selectionModel() &&
               view()->selectionModel()->isRowSelected(row, view()->rootIndex());
    }
    bool selectRow(int row) override
    {
        const QList<int> columns = shownColumns(view());
        if (row < 0 || row >= rowCount() || columns.isEmpty())
            return false;
        view()->setCurrentIndex(view()->model()->index(row, columns.first(), view()->rootIndex()));
        return true;
    }
    // A row is the smallest unit the program's lists select.
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }

    void modelChange(QAccessibleTableModelChangeEvent*) override { forgetCells(); }

private:
    int headerRows() const { return hasHeaderRow(view()) ? 1 : 0; }

    QAccessibleInterface* cell(int row, int column) const
    {
        const QPair<int, int> key(row, column);
        if (const QAccessible::Id id = m_cells.value(key))
            return QAccessible::accessibleInterface(id);
        auto* made = new ShownCell(view(), row, column);
        m_cells.insert(key, QAccessible::registerAccessibleInterface(made));
        return made;
    }
    void forgetCells()
    {
        for (const QAccessible::Id id : std::as_const(m_cells))
            QAccessible::deleteAccessibleInterface(id);
        m_cells.clear();
    }

    mutable QHash<QPair<int, int>, QAccessible::Id> m_cells;
};

// An editable drop-down named by its label: on Linux Qt would name it after its text.
class NamedChoice : public QAccessibleWidget {
public:
    explicit NamedChoice(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }

    QString text(QAccessible::Text what) const override
    {
        if (what == QAccessible::Value)
            return combo()->isEditable() ? combo()->lineEdit()->text() : combo()->currentText();
        return QAccessibleWidget::text(what);
    }
    int childCount() const override { return combo()->isEditable() ? 2 : 1; }
    QAccessibleInterface* child(int at) const override
    {
        if (at == 0)
            return QAccessible::queryAccessibleInterface(combo()->view());
        if (at == 1 && combo()->isEditable())
            return QAccessible::queryAccessibleInterface(combo()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child && child->object() == combo()->view())
            return 0;
        if (child && combo()->isEditable() && child->object() == combo()->lineEdit())
            return 1;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const bool inEdit =
            combo()->isEditable() &&
            combo()->lineEdit()->rect().contains(combo()->lineEdit()->mapFromGlobal(QPoint(x, y)));
        return inEdit ? child(1) : nullptr;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (combo()->view()->isVisible())
            combo()->hidePopup();
        else
            combo()->showPopup();
    }
};

QAccessibleInterface* readerViews(const QString& className, QObject* object)
{
    // Asked once per class the object derives from; answered for its own class only.
    if (!object || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    if (object->property(kShownColumns).toBool())
        if (auto* view = qobject_cast<QAbstractItemView*>(object))
            return new ShownTable(view);
    if (object->property(kNamedChoice).toBool())
        if (auto* combo = qobject_cast<QComboBox*>(object))
            return new NamedChoice(combo);
    return nullptr;
}

// Qt makes and keeps a widget's interface as soon as the widget announces a change (its
// accessible name, set while the window is built); a kept one is dropped so the next reader
// gets ours.
void mark(QWidget& widget, const char* property)
{
    static const bool installed = [] {
        QAccessible::installFactory(readerViews);
        return true;
    }();
    Q_UNUSED(installed);
    widget.setProperty(property, true);
    if (QAccessibleInterface* kept = QAccessible::queryAccessibleInterface(&widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(kept));
}

} // namespace

void showReadersShownColumns(QAbstractItemView& view)
{
    mark(view, kShownColumns);
}

void showReadersNamedChoice(QComboBox& combo)
{
    mark(combo, kNamedChoice);
    showReadersShownColumns(*combo.view());
}

} // namespace tarvik
