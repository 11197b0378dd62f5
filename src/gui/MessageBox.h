#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

namespace tarvik {

// Every message box of the program goes through here, so tests can answer the boxes
// of the real windows and check exactly what was asked.
class MessageBox {
public:
    struct Shown {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };

    static QMessageBox::StandardButton
    show(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
         QMessageBox::StandardButtons buttons,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // Test seam: the next box is not shown but answered with `answer` and recorded.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static QList<Shown> takeShown();
};

} // namespace tarvik
