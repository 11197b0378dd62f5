#pragma once

#include "store/search/StockTable.h"

#include <QObject>
#include <QVector>

class QLabel;
class QStatusBar;
class QTimer;

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

    // How many parts of a shown list are summed in one go (for tests).
    void setSummedAtOnce(qsizetype parts) { m_summedAtOnce = parts; }

private:
    void showValue(QLabel* label, const QString& text);
    void showShown(const StockSums& sums);
    void sumNextSlice();

    StockFigures& m_figures;
    RecordSource& m_list;
    QLabel* m_value = nullptr;
    QLabel* m_below = nullptr;
    QLabel* m_shown = nullptr;

    // A long shown list is summed a slice per turn of the event loop, so that the list itself
    // is shown at once after a keystroke and the window keeps answering; the label follows
    // when the sum is whole. Any change to the list or the figures starts it again.
    qsizetype m_summedAtOnce = 65536;
    QTimer* m_slices = nullptr;
    QVector<qint64> m_summed;
    qsizetype m_summedUpTo = 0;
    const StockTable* m_summedTable = nullptr;
    quint64 m_summedVersion = 0;
    StockTable::Summing m_summing;
};

} // namespace tarvik
