#include "gui/RecordGrid.h"

#include "gui/ReaderViews.h"
#include "store/records/RecordSource.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>
#include <QTableView>
#include <QTimer>

namespace tarvik {
namespace {

// How a grid follows a long list that arrives in stages. Its rest is asked for once the
// first rows are painted. Ctrl+End meanwhile goes to the list's true end once it is there,
// rather than to the end of the rows read so far; any other key or click before then is the
// user's later word and drops the jump, as does leaving the grid.
class LongListFollower : public QObject {
public:
    LongListFollower(QTableView& grid, RecordSource& source) : QObject(&grid), m_grid(grid)
    {
        grid.installEventFilter(this);
        grid.viewport()->installEventFilter(this);
        connect(&source, &RecordSource::restLoaded, this, [this, &source] {
            if (!std::exchange(m_pending, false) || source.rowCount() == 0)
                return;
            const int column = std::max(m_grid.currentIndex().column(), 0);
            m_grid.setCurrentIndex(source.index(source.rowCount() - 1, column));
        });
        m_source = &source;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_source->isLoadingRest())
            QTimer::singleShot(0, m_source, &RecordSource::loadRest); // after this paint
        // Typing a search elsewhere makes the list another one.
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::FocusOut)
            m_pending = false;
        if (event->type() != QEvent::KeyPress || watched != &m_grid)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool toEnd =
            key->key() == Qt::Key_End && (key->modifiers() & Qt::ControlModifier) != 0;
        m_pending = toEnd && m_source->isLoadingRest();
        return m_pending;
    }

private:
    QTableView& m_grid;
    RecordSource* m_source = nullptr;
    bool m_pending = false;
};

} // namespace

void showAsRecordGrid(QTableView& grid, RecordSource& source,
                      const std::function<void(int row)>& onRowChange)
{
    grid.setModel(&source);
    grid.setSelectionBehavior(QAbstractItemView::SelectRows);
    grid.setSelectionMode(QAbstractItemView::SingleSelection);
    grid.setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid.setTabKeyNavigation(false);
    grid.verticalHeader()->hide();
    showReadersShownColumns(grid);
    // Qt's own selection, white on #308cc6, reaches only 3.7:1; this blue of the same hue
    // gives 6.1:1, also while another window is active.
    QPalette colours = grid.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Highlight, QColor(0x20, 0x64, 0xa5));
        colours.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    grid.setPalette(colours);
    grid.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid.verticalHeader()->setDefaultSectionSize(grid.fontMetrics().height() + 6);
    QObject::connect(grid.selectionModel(), &QItemSelectionModel::currentChanged, &grid,
                     [onRowChange](const QModelIndex& current) {
                         if (current.isValid())
                             onRowChange(current.row());
                     });
    new LongListFollower(grid, source);
}

} // namespace tarvik
