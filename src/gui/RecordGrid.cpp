#include "gui/RecordGrid.h"

#include "store/records/RecordSource.h"

#include <QHeaderView>
#include <QTableView>

namespace tarvik {

void showAsRecordGrid(QTableView& grid, RecordSource& source,
                      const std::function<void(int row)>& onRowChange)
{
    grid.setModel(&source);
    grid.setSelectionBehavior(QAbstractItemView::SelectRows);
    grid.setSelectionMode(QAbstractItemView::SingleSelection);
    grid.setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid.setTabKeyNavigation(false);
    grid.verticalHeader()->hide();
    grid.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid.verticalHeader()->setDefaultSectionSize(grid.fontMetrics().height() + 6);
    QObject::connect(grid.selectionModel(), &QItemSelectionModel::currentChanged, &grid,
                     [onRowChange](const QModelIndex& current) {
                         if (current.isValid())
                             onRowChange(current.row());
                     });
}

} // namespace tarvik
