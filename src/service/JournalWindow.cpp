#include "service/JournalWindow.h"

#include "gui/MessageBox.h"
#include "service/JournalModel.h"
#include "store/records/PartWriter.h"
#include "store/register/Register.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvik {
namespace {

const QString kTitle = QStringLiteral("Журнал изменений");

} // namespace

JournalWindow::JournalWindow(Register& reg, std::optional<ForPart> part, QWidget* parent)
    : QDialog(parent),
      m_part(std::move(part))
{
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(kTitle);
    reg.connect(m_db);
    m_model = new JournalModel(reg, this);
    m_model->cancelThrough(&m_db);

    m_notKept = new QLabel(this);
    m_notKept->setObjectName(QStringLiteral("notKept"));
    m_notKept->setWordWrap(true);
    auto* searchLabel = new QLabel(QStringLiteral("&Поиск по названию:"), this);
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setAccessibleName(QStringLiteral("Поиск по названию детали"));
    m_search->setClearButtonEnabled(true);
    searchLabel->setBuddy(m_search);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_onePart = new QCheckBox(this);
    m_onePart->setObjectName(QStringLiteral("onePart"));
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("entries"));
    m_grid->setAccessibleName(QStringLiteral("Записи журнала"));
    m_grid->setModel(m_model);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setTabKeyNavigation(false);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_undo = new QPushButton(QStringLiteral("&Отменить"), this);
    m_undo->setObjectName(QStringLiteral("undo"));
    m_undo->setAccessibleName(QStringLiteral("Отменить"));
    m_undo->setAutoDefault(false);
    m_close = new QPushButton(QStringLiteral("&Закрыть"), this);
    m_close->setObjectName(QStringLiteral("close"));
    m_close->setAccessibleName(QStringLiteral("Закрыть"));
    m_close->setAutoDefault(false);

    auto* filters = new QHBoxLayout;
    filters->addWidget(searchLabel);
    filters->addWidget(m_search, 1);
    filters->addWidget(m_status);
    filters->addWidget(m_onePart);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_undo);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_notKept);
    layout->addLayout(filters);
    layout->addWidget(m_grid, 1);
    layout->addLayout(buttons);
    setTabOrder(m_search, m_onePart);
    setTabOrder(m_onePart, m_grid);
    setTabOrder(m_grid, m_undo);
    setTabOrder(m_undo, m_close);
    resize(900, 500);

    // A search over names may read a long journal through: it waits for a pause in the typing
    // rather than running at every key.
    m_searchPause = new QTimer(this);
    m_searchPause->setSingleShot(true);
    m_searchPause->setInterval(250);
    connect(m_searchPause, &QTimer::timeout, this, &JournalWindow::applyFilter);
    connect(m_search, &QLineEdit::textChanged, m_searchPause, qOverload<>(&QTimer::start));
    connect(m_onePart, &QCheckBox::toggled, this, &JournalWindow::applyFilter);
    connect(m_undo, &QPushButton::clicked, this, &JournalWindow::undoSelected);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (m_model->rowCount() > 0)
            m_grid->setCurrentIndex(m_model->index(0, 0));
        selectionMoved();
    });
    connect(m_model, &JournalModel::readingChanged, this, &JournalWindow::showReading);
    // Said once, in the window: the grid stops asking for more pages.
    connect(m_model, &JournalModel::readFailed, this, [this](const QString& why) {
        m_status->setText(QStringLiteral("Журнал не читается: %1.").arg(why));
        m_status->setAccessibleName(m_status->text());
    });
    connect(this, &QDialog::finished, m_model, &JournalModel::stopReading);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &JournalWindow::selectionMoved);

    const bool kept = m_journal.kept();
    m_notKept->setVisible(!kept);
    if (!kept)
        m_notKept->setText(reg.onServer()
                               ? QStringLiteral("На этом сервере журнал изменений не ведётся.")
                               : QStringLiteral("В этой базе данных журнал изменений не ведётся."));
    m_onePart->setChecked(m_part.has_value());
    applyFilter();
    selectionMoved(); // nothing is shown until the first page comes
    m_grid->setFocus();
}

JournalWindow::~JournalWindow()
{
    // The model outlives the window's connection, which a read's stop uses.
    m_model->stopReading();
    m_model->cancelThrough(nullptr);
}

const JournalEntry* JournalWindow::selected() const
{
    return m_model->entryAt(m_grid->currentIndex().row());
}

void JournalWindow::selectionMoved()
{
    // Without a part of its own the window narrows to the part of the selected entry.
    if (!m_part || !m_onePart->isChecked()) {
        const JournalEntry* entry = selected();
        if (!m_onePart->isChecked() && entry)
            m_part = ForPart{entry->part, entry->name};
    }
    m_onePart->setEnabled(m_part.has_value());
    m_onePart->setText(m_part ? QStringLiteral("Только деталь «%1»").arg(m_part->name)
                              : QStringLiteral("Только одна деталь"));
    m_onePart->setAccessibleName(m_onePart->text());
    m_undo->setEnabled(selected() != nullptr);
}

void JournalWindow::applyFilter()
{
    JournalFilter filter;
    filter.nameText = m_search->text().trimmed();
    if (m_onePart->isChecked() && m_part)
        filter.part = m_part->id;
    m_model->setFilter(filter);
}

void JournalWindow::showReading(bool reading)
{
    m_status->setText(reading ? QStringLiteral("Поиск…") : QString());
    m_status->setAccessibleName(m_status->text());
}

void JournalWindow::undoSelected()
{
    const JournalEntry* entry = selected();
    if (!entry)
        return;
    const qint64 id = entry->entry;
    const QString question = QStringLiteral("Отменить это изменение детали «%1» (%2)?")
                                 .arg(entry->name, JournalModel::fieldName(entry->field).toLower());
    if (MessageBox::show(this, QMessageBox::Question, kTitle, question,
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    const PartWrite undone = PartWriter(m_db).undo(id);
    QString refusal;
    switch (undone.outcome) {
    case PartWrite::Outcome::Saved:
        m_changedParts = true;
        m_model->reload();
        return;
    case PartWrite::Outcome::ChangedElsewhere:
        refusal = undone.reason;
        break;
    case PartWrite::Outcome::Gone:
        refusal = QStringLiteral("детали уже нет");
        break;
    case PartWrite::Outcome::Failed:
        refusal = undone.error.isValid() ? describeFailure(undone.error) : undone.reason;
        break;
    }
    MessageBox::show(this, QMessageBox::Warning, kTitle,
                     QStringLiteral("Изменение не отменено: %1.").arg(refusal), QMessageBox::Ok);
}

} // namespace tarvik
