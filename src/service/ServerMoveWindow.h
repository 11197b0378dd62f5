#pragma once

#include "store/register/ServerAddress.h"

#include <QDialog>

#include <functional>

class QDialogButtonBox;
class QLineEdit;

namespace tarvik {

class Register;
struct ServerCopyResult;

// "Перенести базу на сервер…": asks for the server's address, copies the register file into
// that server's empty database while a progress window shows the rows and can cancel, then
// names the server in base/tarvik.ini. The running program stays on the file; the server is
// used from the next start. The window stays open after a refusal, a failure or a cancel, so
// the address can be mended and the move tried again.
class ServerMoveWindow : public QDialog {
    Q_OBJECT

public:
    ServerMoveWindow(Register& reg, QWidget* parent = nullptr);

    // Test seam: called on the copying thread each time a slice of rows has reached the
    // server, so a test can hold the copy there while it cancels.
    static void setCopyStepHook(std::function<void(qint64 rowsDone)> hook);

    void accept() override;

private:
    // The server reached, a password asked for if it wants one ~/.pgpass lacks; false when
    // the user was told why not or cancelled.
    bool reachServer(const ServerAddress& address, QString* password);
    ServerCopyResult copyWithProgress(const ServerAddress& address, const QString& password);
    void tell(bool warning, const QString& text);

    Register& m_register;
    QLineEdit* m_address = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};

// The menu item: on a register already on a server it only says so.
void moveRegisterToServer(QWidget* parent, Register& reg);

} // namespace tarvik
