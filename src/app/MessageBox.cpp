#include "app/MessageBox.h"

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
