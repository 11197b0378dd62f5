#pragma once

#include <QObject>

class QLabel;
class QStatusBar;

namespace tarvik {

class RecordSource;
class StockFigures;

// The main window's status line (the stock's value, the parts at or below their minimum and,
// while a search narrows the list, the same for the parts shown) and the marks of those parts
// in the parts grid, all answered from the figures in memory.
class StockStatus : public QObject {
    Q_OBJECT

public:
    StockStatus(QStatusBar& bar, StockFigures& figures, RecordSource& list,
                QObject* parent = nullptr);

    // Shows the figures as they are now.
    void update();

private:
    void showValue(QLabel* label, const QString& text);

    StockFigures& m_figures;
    RecordSource& m_list;
    QLabel* m_value = nullptr;
    QLabel* m_below = nullptr;
    QLabel* m_shown = nullptr;
};

} // namespace tarvik
