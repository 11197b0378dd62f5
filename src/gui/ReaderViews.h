#pragma once

class QAbstractItemView;
class QComboBox;

namespace tarvik {

// What a screen reader is given of the program's lists is what the eye sees of them. The
// record sources hold every field of a row, most of them never shown; by default Qt hands
// all of them to readers (picture bytes included) and names an editable drop-down after
// its text instead of its label.

// The view's cells in the columns it shows, in the order they are shown: for a table the
// columns not hidden, for a list its model column. Hidden columns hidden later are followed.
void showReadersShownColumns(QAbstractItemView& view);

// The drop-down keeps its accessible name whatever is typed or chosen (the text is its
// value), and its list gives readers only the names the list shows.
void showReadersNamedChoice(QComboBox& combo);

} // namespace tarvik
