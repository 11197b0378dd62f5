#include "gui/PasswordPrompt.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvik {
namespace {

QList<std::optional<QString>>& answers()
{
    static QList<std::optional<QString>> queue;
    return queue;
}

QStringList& asked()
{
    static QStringList list;
    return list;
}

} // namespace

std::optional<QString> PasswordPrompt::ask(QWidget* parent, const QString& server)
{
    if (!answers().isEmpty()) {
        asked().append(server);
        return answers().takeFirst();
    }
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Тарвик радиодеталей"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(QStringLiteral("Пароль для %1:").arg(server), &dialog);
    auto* field = new QLineEdit(&dialog);
    field->setObjectName(QStringLiteral("password"));
    field->setEchoMode(QLineEdit::Password);
    field->setAccessibleName(QStringLiteral("Пароль для %1").arg(server));
    label->setBuddy(field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("ОК"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->text();
}

void PasswordPrompt::setNextAnswer(const std::optional<QString>& password)
{
    answers().append(password);
}

QStringList PasswordPrompt::takeAsked()
{
    return std::exchange(asked(), {});
}

} // namespace tarvik
