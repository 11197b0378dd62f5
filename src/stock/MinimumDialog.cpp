#include "stock/MinimumDialog.h"

#include "gui/MessageBox.h"
#include "stock/ShortageModel.h"
#include "store/records/Minimums.h"
#include "store/records/PartWriter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvik {
namespace {

const QString kTitle = QStringLiteral("Минимальный остаток");

std::optional<qint64> storedMinimum(const MinimumsRead& read, qint64 id)
{
    const auto it = read.minimums.constFind(id);
    return it == read.minimums.constEnd() ? std::nullopt : std::optional<qint64>(*it);
}

} // namespace

MinimumDialog::MinimumDialog(const QString& partName, std::optional<qint64> minimum,
                             QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("MinimumDialog"));
    setWindowTitle(kTitle);
    auto* label = new QLabel(
        QStringLiteral("&Минимальный остаток детали «%1» (пусто — без минимума):").arg(partName),
        this);
    label->setWordWrap(true);
    m_box = new QLineEdit(minimum ? QString::number(*minimum) : QString(), this);
    m_box->setObjectName(QStringLiteral("minimum"));
    m_box->setAccessibleName(QStringLiteral("Минимальный остаток"));
    m_box->setAccessibleDescription(QStringLiteral("Только цифры; пусто — без минимума"));
    m_box->setValidator(digitsOnly(m_box));
    label->setBuddy(m_box);
    m_ok = new QPushButton(QStringLiteral("ОК"), this);
    m_ok->setObjectName(QStringLiteral("ok"));
    m_ok->setAccessibleName(QStringLiteral("ОК"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Отмена"), this);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_cancel->setAccessibleName(QStringLiteral("Отмена"));
    m_cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_box);
    layout->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_box->selectAll();
    m_box->setFocus();
}

std::optional<qint64> MinimumDialog::minimum() const
{
    return typedMinimum(m_box->text()).value_or(std::nullopt);
}

QString setMinimumOrSayWhy(const Connection& db, qint64 id, std::optional<qint64> minimum,
                           std::optional<qint64> expected)
{
    const PartWrite written = PartWriter(db).setMinimum(id, minimum, expected);
    switch (written.outcome) {
    case PartWrite::Outcome::Saved:
        return {};
    case PartWrite::Outcome::ChangedElsewhere: {
        const MinimumsRead now = Minimums::of(db, id);
        const auto stored = storedMinimum(now, id);
        return stored ? QStringLiteral("его уже изменили, сейчас он %1").arg(*stored)
                      : QStringLiteral("его уже убрали");
    }
    case PartWrite::Outcome::Gone:
        return QStringLiteral("детали уже нет");
    case PartWrite::Outcome::Failed:
        break;
    }
    return written.error.isValid() ? describeFailure(written.error) : written.reason;
}

QString minimumNotSaved(const QString& partName, const QString& reason)
{
    return QStringLiteral("Минимальный остаток детали «%1» не сохранён: %2.").arg(partName, reason);
}

bool editMinimum(QWidget* parent, const Connection& db, qint64 id, const QString& partName)
{
    const MinimumsRead read = Minimums::of(db, id);
    if (!read.ok) {
        MessageBox::show(parent, QMessageBox::Warning, kTitle,
                         withDetail(QStringLiteral("Минимальный остаток не прочитан."),
                                    engineDetail(read.error)),
                         QMessageBox::Ok);
        return false;
    }
    const std::optional<qint64> stored = storedMinimum(read, id);
    std::optional<qint64> typed;
    {
        MinimumDialog dialog(partName, stored, parent);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        typed = dialog.minimum();
    }
    if (typed == stored)
        return false;
    const QString refusal = setMinimumOrSayWhy(db, id, typed, stored);
    if (refusal.isEmpty())
        return true;
    MessageBox::show(parent, QMessageBox::Warning, kTitle, minimumNotSaved(partName, refusal),
                     QMessageBox::Ok);
    return false;
}

} // namespace tarvik
