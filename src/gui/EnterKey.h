#pragma once

#include <QObject>

class QCoreApplication;

namespace tarvik {

// Enter presses the button that has the focus, in every window and message box, as Space
// does: users of the program expect it from the system it comes from. Qt presses only a
// dialog's default button on Enter, and no button at all in a main window.
class EnterPressesButtons : public QObject {
    Q_OBJECT

public:
    // Installed once per application; a second call changes nothing.
    static void installOn(QCoreApplication& app);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit EnterPressesButtons(QObject* parent);
};

} // namespace tarvik
