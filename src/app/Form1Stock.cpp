#include "app/Form1.h"

#include "stock/MinimumDialog.h"
#include "stock/ShortageWindow.h"
#include "stock/StockStatus.h"
#include "store/records/RecordSource.h"
#include "store/search/NameCopy.h"
#include "store/search/StockFigures.h"
#include "ui_Form1.h"

#include <QAction>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>

// The stock's figures under the parts list, and the commands of the minimum stock.

namespace tarvik {
namespace {

// The figures are read after the names the quick search needs, or this long after the window
// opened, whichever is first.
constexpr int kFiguresAtTheLatestMs = 5000;

} // namespace

void Form1::setUpStock()
{
    m_figures->setObjectName(QStringLiteral("stockFigures"));
    m_stock = new StockStatus(*statusBar(), *m_figures, *m_data1, this);

    auto* shortages = new QAction(QStringLiteral("Нехватка"), this);
    shortages->setObjectName(QStringLiteral("shortages"));
    auto* minimum = new QAction(QStringLiteral("Минимальный остаток…"), this);
    minimum->setObjectName(QStringLiteral("minimumStock"));
    minimum->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    ui->sprav->addAction(shortages);
    ui->sprav->addAction(minimum);
    connect(shortages, &QAction::triggered, this, &Form1::openShortages);
    connect(minimum, &QAction::triggered, this, &Form1::editCurrentMinimum);
}

void Form1::startStockFigures()
{
    // On two processors a second read beside the names' would slow both, and the names are
    // wanted first.
    if (m_names->isReady())
        m_figures->startLoading();
    else
        connect(m_names, &NameCopy::ready, m_figures, &StockFigures::startLoading,
                Qt::SingleShotConnection);
    QTimer::singleShot(kFiguresAtTheLatestMs, m_figures, &StockFigures::startLoading);
}

void Form1::openShortages()
{
    ShortageWindow window(m_register, this);
    window.exec();
}

void Form1::editCurrentMinimum()
{
    if (!m_data1->hasCurrent())
        return;
    editMinimum(this, m_database, m_data1->currentKey(),
                m_data1->field(QStringLiteral("idFam")).toString());
}

} // namespace tarvik
