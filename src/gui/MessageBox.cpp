#include "gui/MessageBox.h"

#include <QAbstractButton>

namespace tarvik {
namespace {

QList<QMessageBox::StandardButton>& answers()
{
    static QList<QMessageBox::StandardButton> queue;
    return queue;
}

QList<MessageBox::Shown>& shown()
{
    static QList<MessageBox::Shown> list;
    return list;
}

// What a Russian system calls the buttons the program's boxes use.
void nameButtons(QMessageBox& box)
{
    const struct {
        QMessageBox::StandardButton button;
        const char16_t* text;
    } names[] = {{QMessageBox::Yes, u"Да"},
                 {QMessageBox::No, u"Нет"},
                 {QMessageBox::Ok, u"ОК"},
                 {QMessageBox::Cancel, u"Отмена"}};
    for (const auto& name : names) {
        if (QAbstractButton* button = box.button(name.button))
            button->setText(QString::fromUtf16(name.text));
    }
}

} // namespace

QMessageBox::StandardButton MessageBox::show(QWidget* parent, QMessageBox::Icon icon,
                                             const QString& title, const QString& text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    if (!answers().isEmpty()) {
        shown().append({icon, title, text, buttons});
        return answers().takeFirst();
    }
    QMessageBox box(icon, title, text, buttons, parent);
    nameButtons(box);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    answers().append(answer);
}

QList<MessageBox::Shown> MessageBox::takeShown()
{
    return std::exchange(shown(), {});
}

} // namespace tarvik
