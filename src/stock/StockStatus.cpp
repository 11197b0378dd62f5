#include "stock/StockStatus.h"

#include "store/records/RecordSource.h"
#include "store/search/StockFigures.h"
#include "store/text/NumberText.h"

#include <QBrush>
#include <QColor>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace tarvik {
namespace {

QLabel* valueLabel(QStatusBar& bar, const char* name, const QString& purpose)
{
    auto* label = new QLabel(&bar);
    label->setObjectName(QLatin1String(name));
    label->setAccessibleDescription(purpose);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    bar.addWidget(label);
    return label;
}

} // namespace

StockStatus::StockStatus(QStatusBar& bar, StockFigures& figures, RecordSource& list,
                         QObject* parent)
    : QObject(parent),
      m_figures(figures),
      m_list(list)
{
    bar.setSizeGripEnabled(false);
    m_value = valueLabel(bar, "stockValue",
                         QStringLiteral("Сумма цены, умноженной на количество, по всем деталям"));
    m_below = valueLabel(bar, "belowMinimum",
                         QStringLiteral("Сколько деталей на складе не больше их минимума"));
    m_shown = valueLabel(bar, "shownFigures",
                         QStringLiteral("Стоимость и число деталей ниже минимума среди "
                                        "показанных поиском"));

    // Marked rows: a colour and, for those who do not see it, words.
    list.setRowHint([this](qint64 id, int role) -> QVariant {
        if (role != Qt::BackgroundRole && role != Qt::ForegroundRole && role != Qt::ToolTipRole &&
            role != Qt::AccessibleDescriptionRole)
            return {};
        const auto minimum = m_figures.belowMinimum(id);
        if (!minimum)
            return {};
        if (role == Qt::BackgroundRole)
            return QBrush(QColor(255, 214, 170));
        if (role == Qt::ForegroundRole)
            return QBrush(Qt::black); // readable on the mark in any colour scheme
        return QStringLiteral("ниже минимума: %1").arg(*minimum);
    });
    connect(&figures, &StockFigures::changed, this, [this] {
        update();
        m_list.hintsChanged();
    });
    connect(&list, &QAbstractItemModel::modelReset, this, &StockStatus::update);
    connect(&list, &QAbstractItemModel::rowsInserted, this, &StockStatus::update);
    connect(&list, &QAbstractItemModel::rowsRemoved, this, &StockStatus::update);
    connect(&list, &RecordSource::restLoaded, this, &StockStatus::update);
    m_slices = new QTimer(this);
    m_slices->setInterval(0);
    connect(m_slices, &QTimer::timeout, this, &StockStatus::sumNextSlice);
    update();
}

void StockStatus::showValue(QLabel* label, const QString& text)
{
    // A screen reader reads a label's name: the name is what it shows.
    label->setText(text);
    label->setAccessibleName(text);
    label->setVisible(!text.isEmpty());
}

void StockStatus::update()
{
    m_slices->stop();
    m_summed = {};
    const auto total = m_figures.total();
    if (!total) {
        showValue(m_value, QStringLiteral("Стоимость склада: подсчёт…"));
        showValue(m_below, {});
        showValue(m_shown, {});
        return;
    }
    showValue(m_value, QStringLiteral("Стоимость склада: %1").arg(formatNumber(total->value)));
    showValue(m_below, QStringLiteral("Ниже минимума: %1").arg(total->belowMinimum));
    // Narrowed: the list shows fewer parts than the register holds. A list still arriving
    // is told once it is whole.
    const QVector<qint64>& keys = m_list.keys();
    if (m_list.isLoadingRest() || keys.size() >= total->parts) {
        showValue(m_shown, {});
        return;
    }
    if (keys.size() <= m_summedAtOnce) {
        showShown(*m_figures.of(keys));
        return;
    }
    // Until the sum is whole the label keeps its last text rather than blinking.
    m_summed = keys;
    m_summedUpTo = 0;
    m_summedTable = m_figures.table();
    m_summedVersion = m_summedTable->version();
    m_summing = {};
    m_slices->start();
}

void StockStatus::sumNextSlice()
{
    const StockTable* table = m_figures.table();
    if (table != m_summedTable || !table || table->version() != m_summedVersion) {
        update(); // changed under the sum: the slices so far no longer add up
        return;
    }
    const qsizetype count = std::min(m_summedAtOnce, m_summed.size() - m_summedUpTo);
    m_summing.add(*table, m_summed.constData() + m_summedUpTo, count);
    m_summedUpTo += count;
    if (m_summedUpTo < m_summed.size())
        return;
    m_slices->stop();
    m_summed = {};
    showShown(m_summing.result());
}

void StockStatus::showShown(const StockSums& sums)
{
    showValue(m_shown, QStringLiteral("Показано: стоимость %1, ниже минимума %2")
                           .arg(formatNumber(sums.value))
                           .arg(sums.belowMinimum));
}

} // namespace tarvik
