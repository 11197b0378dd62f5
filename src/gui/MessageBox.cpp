#include "gui/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGridLayout>
#include <QScreen>
#include <QStyle>

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

// The window manager writes the title in its own, often bold face beside an icon and three
// buttons, while Qt leaves a box room for the title in the plain face only: a short text gave
// a box whose title was cut to "Тар… лей".
void leaveRoomForTitle(QMessageBox& box, const QString& title)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const int frameButtons = 5 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box);
    int needed = QFontMetrics(font).horizontalAdvance(title) + frameButtons;
    if (const QScreen* screen = box.screen())
        needed = qMin(needed, screen->availableGeometry().width() / 2);
    grid->addItem(new QSpacerItem(needed, 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
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
    leaveRoomForTitle(box, title);
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
