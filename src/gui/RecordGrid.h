#pragma once

#include <functional>

class QTableView;

namespace tarvik {

class RecordSource;

// Shows a record source in a read-only grid the way every list of the program behaves:
// whole rows, one at a time, no editing in the cells, fixed row height. `onRowChange` runs
// whenever the grid's current row moves (a click, a key, a refresh's first row).
void showAsRecordGrid(QTableView& grid, RecordSource& source,
                      const std::function<void(int row)>& onRowChange);

} // namespace tarvik
