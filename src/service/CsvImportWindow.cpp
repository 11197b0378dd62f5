#include "service/CsvImportWindow.h"

#include <QButtonGroup>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarvik {
namespace {

QLabel* sentence(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAccessibleName(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

} // namespace

CsvImportWindow::CsvImportWindow(const QString& fileName, const PartImportPlan& plan,
                                 QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("CsvImportWindow"));
    setWindowTitle(QStringLiteral("Импорт из CSV"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        sentence(QStringLiteral("file"),
                 QStringLiteral("Файл: %1\nКодировка: %2. Разделитель: %3.")
                     .arg(QDir::toNativeSeparators(fileName), plan.encoding, plan.separator),
                 this));
    layout->addWidget(sentence(QStringLiteral("counts"),
                               QStringLiteral("Новых деталей: %1. Наименований, которые уже есть "
                                              "в базе: %2.")
                                   .arg(plan.fresh())
                                   .arg(plan.existing),
                               this));

    auto* existing = new QGroupBox(QStringLiteral("Наименования, которые уже есть в базе"), this);
    existing->setObjectName(QStringLiteral("existing"));
    existing->setAccessibleName(existing->title());
    auto* choices = new QVBoxLayout(existing);
    m_existing = new QButtonGroup(this);
    const struct {
        ExistingNames choice;
        const char* name;
        QString text;
    } kChoices[] = {
        {ExistingNames::Add, "addAnyway", QStringLiteral("&Добавить ещё раз")},
        {ExistingNames::Skip, "skip", QStringLiteral("&Пропустить")},
        {ExistingNames::Update, "update",
         QStringLiteral("&Обновить цену и количество записанной детали")},
    };
    for (const auto& choice : kChoices) {
        auto* button = new QRadioButton(choice.text, existing);
        button->setObjectName(QLatin1String(choice.name));
        button->setAccessibleName(QString(choice.text).remove(QLatin1Char('&')));
        m_existing->addButton(button, int(choice.choice));
        choices->addWidget(button);
    }
    // Nothing is added twice unless asked for.
    m_existing->button(int(ExistingNames::Skip))->setChecked(true);
    if (plan.storedTwice > 0)
        choices->addWidget(sentence(QStringLiteral("storedTwice"),
                                    QStringLiteral("Наименований, записанных в базе не раз: %1; "
                                                   "обновляется первая из них по номеру.")
                                        .arg(plan.storedTwice),
                                    existing));
    existing->setEnabled(plan.existing > 0);
    layout->addWidget(existing);

    if (!plan.unknownColumns.isEmpty())
        layout->addWidget(sentence(QStringLiteral("unknownColumns"),
                                   QStringLiteral("Неизвестные столбцы пропускаются: %1.")
                                       .arg(plan.unknownColumns.join(QStringLiteral(", "))),
                                   this));
    auto* bad = new QTableWidget(int(plan.bad.size()), 2, this);
    bad->setObjectName(QStringLiteral("badRows"));
    bad->setAccessibleName(
        QStringLiteral("Неверные строки, не импортируются: %1").arg(plan.bad.size()));
    bad->setHorizontalHeaderLabels({QStringLiteral("Строка"), QStringLiteral("Причина")});
    bad->verticalHeader()->hide();
    bad->horizontalHeader()->setStretchLastSection(true);
    bad->setEditTriggers(QAbstractItemView::NoEditTriggers);
    bad->setTabKeyNavigation(false);
    for (int row = 0; row < plan.bad.size(); ++row) {
        bad->setItem(row, 0, new QTableWidgetItem(QString::number(plan.bad.at(row).line)));
        bad->setItem(row, 1, new QTableWidgetItem(plan.bad.at(row).reason));
    }
    if (!plan.bad.isEmpty()) {
        layout->addWidget(sentence(
            QStringLiteral("badCount"),
            QStringLiteral("Неверных строк: %1, они не импортируются:").arg(plan.bad.size()),
            this));
        layout->addWidget(bad, 1);
    } else {
        bad->hide();
    }

    m_import = new QPushButton(QStringLiteral("&Импортировать"), this);
    m_import->setObjectName(QStringLiteral("import"));
    m_import->setAccessibleName(QStringLiteral("Импортировать"));
    m_import->setDefault(true);
    m_import->setEnabled(!plan.rows.isEmpty());
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setAccessibleName(QStringLiteral("Отмена"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_import);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(m_import, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(560, plan.bad.isEmpty() ? 300 : 460);
    (m_import->isEnabled() ? m_import : cancel)->setFocus();
}

ExistingNames CsvImportWindow::existingNames() const
{
    return ExistingNames(m_existing->checkedId());
}

} // namespace tarvik
