#include "stock/ShortageWindow.h"

#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "stock/MinimumDialog.h"
#include "stock/ShortageModel.h"
#include "store/records/Shortages.h"
#include "store/register/Register.h"
#include "store/text/CsvWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace tarvik {
namespace {

const QString kTitle = QStringLiteral("Нехватка");

} // namespace

ShortageWindow::ShortageWindow(Register& reg, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ShortageWindow"));
    setWindowTitle(kTitle);
    reg.connect(m_db);
    m_model = new ShortageModel(this);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("shortages"));
    m_grid->setAccessibleName(QStringLiteral("Детали ниже минимума"));
    m_grid->setAccessibleDescription(
        QStringLiteral("Минимум изменяется в своей ячейке: F2 или двойной щелчок"));
    m_grid->setModel(m_model);
    m_grid->setItemDelegateForColumn(ShortageModel::Minimum, new MinimumDelegate(m_grid));
    m_grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::AnyKeyPressed);
    m_grid->setTabKeyNavigation(false);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_save = new QPushButton(QStringLiteral("&Сохранить в CSV…"), this);
    m_save->setObjectName(QStringLiteral("saveCsv"));
    m_save->setAccessibleName(QStringLiteral("Сохранить в CSV…"));
    m_save->setAutoDefault(false);
    m_close = new QPushButton(QStringLiteral("&Закрыть"), this);
    m_close->setObjectName(QStringLiteral("close"));
    m_close->setAccessibleName(QStringLiteral("Закрыть"));
    m_close->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_save);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_grid, 1);
    layout->addLayout(buttons);
    setTabOrder(m_grid, m_save);
    setTabOrder(m_save, m_close);
    resize(820, 440);

    connect(m_save, &QPushButton::clicked, this, &ShortageWindow::saveCsv);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    // Queued: the cell's editor is closed before the list is read again.
    connect(m_model, &ShortageModel::minimumEdited, this, &ShortageWindow::writeMinimum,
            Qt::QueuedConnection);
    reload();
    fitColumns();
    m_grid->setFocus();
}

ShortageWindow::~ShortageWindow() = default;

void ShortageWindow::reload()
{
    const int row = std::max(m_grid->currentIndex().row(), 0);
    const int column = std::max(m_grid->currentIndex().column(), int(ShortageModel::Minimum));
    const ShortagesRead read = readShortages(m_db);
    if (!read.ok)
        MessageBox::show(
            this, QMessageBox::Warning, kTitle,
            withDetail(QStringLiteral("Список нехватки не прочитан."), engineDetail(read.error)),
            QMessageBox::Ok);
    m_model->setParts(read.parts);
    const QString summary = read.parts.isEmpty()
                                ? QStringLiteral("Нет деталей, которых меньше минимума.")
                                : QStringLiteral("Деталей с нехваткой: %1").arg(read.parts.size());
    m_summary->setText(summary);
    m_summary->setAccessibleName(summary);
    m_save->setEnabled(!read.parts.isEmpty());
    if (m_model->rowCount() > 0)
        m_grid->setCurrentIndex(m_model->index(std::min(row, m_model->rowCount() - 1), column));
}

void ShortageWindow::fitColumns()
{
    // Each column as wide as its header and the cells it shows ask (a long name within
    // reason), and the window wide enough for all of them, up to the screen's width: a list
    // for ordering is read across, never scrolled sideways.
    QHeaderView* header = m_grid->horizontalHeader();
    const QAbstractItemView* cells = m_grid;                // the table hides its size hints
    const int slack = fontMetrics().averageCharWidth() * 2; // the current column's bold caption
    const int longestName = fontMetrics().averageCharWidth() * 48;
    int wanted = 2 * m_grid->frameWidth() + m_grid->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < ShortageModel::Columns; ++column) {
        int width =
            std::max(header->sectionSizeHint(column), cells->sizeHintForColumn(column)) + slack;
        if (column == ShortageModel::Name)
            width = std::clamp(width, 220, std::max(220, longestName));
        if (column != ShortageModel::Notes)
            m_grid->setColumnWidth(column, width);
        wanted += width;
    }
    const QMargins margins = layout()->contentsMargins();
    wanted += margins.left() + margins.right();
    if (const QScreen* shown = screen())
        wanted = std::min(wanted, shown->availableGeometry().width());
    if (width() < wanted)
        resize(wanted, height());
}

void ShortageWindow::writeMinimum(int row, std::optional<qint64> minimum)
{
    if (row < 0 || row >= m_model->parts().size())
        return;
    const Shortage part = m_model->parts().at(row);
    const QString refusal = setMinimumOrSayWhy(m_db, part.id, minimum, part.minimum);
    if (refusal.isEmpty())
        m_changed = true;
    else
        MessageBox::show(this, QMessageBox::Warning, kTitle, minimumNotSaved(part.name, refusal),
                         QMessageBox::Ok);
    reload();
}

QByteArray ShortageWindow::csv() const
{
    CsvWriter writer;
    for (int column = 0; column < ShortageModel::Columns; ++column)
        writer.text(m_model->headerData(column, Qt::Horizontal).toString());
    writer.endLine();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        writer.text(m_model->text(row, ShortageModel::Name));
        writer.text(m_model->text(row, ShortageModel::Package));
        for (int column = ShortageModel::Quantity; column <= ShortageModel::Value; ++column)
            writer.number(m_model->text(row, column));
        writer.text(m_model->text(row, ShortageModel::Notes));
        writer.endLine();
    }
    return writer.bytes();
}

void ShortageWindow::saveCsv()
{
    QString path =
        FileDialog::getSaveFileName(this, QStringLiteral("Сохранить список нехватки"),
                                    QDir(QDir::homePath()).filePath(QStringLiteral("нехватка.csv")),
                                    QStringLiteral("Таблица CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    // Written whole or not at all: a list cut short would order too little.
    QSaveFile file(path);
    const QByteArray bytes = csv();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        MessageBox::show(this, QMessageBox::Warning, kTitle,
                         withDetail(QStringLiteral("Список не сохранён в файл «%1».")
                                        .arg(QDir::toNativeSeparators(path)),
                                    engineDetail(file.errorString())),
                         QMessageBox::Ok);
    }
}

} // namespace tarvik
