#pragma once

#include "store/register/Connection.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSqlDriver>
#include <QTimer>
#include <QVariant>

namespace tarvik {

class Register;

// Hears a server announce every committed change of the parts and of the package types (its
// triggers notify tarvik_parts and tarvik_types) on a connection of its own, on the thread that
// made it, whenever that thread's event loop runs. Changes made through the register's own
// sessions are left out: the program already shows what it wrote. The rest are gathered for a
// moment, so that one statement over ten thousand rows is one announcement, not ten thousand.
class ChangeListener : public QObject {
    Q_OBJECT

public:
    explicit ChangeListener(Register& reg);
    ~ChangeListener() override;

    // Listens from now on; a lost connection is opened again, and whatever it missed meanwhile
    // is announced as changed.
    void start();
    void stop();
    bool isListening() const { return m_listening; }

    // For tests: the announcements heard, own ones included, and whether a gathering is under
    // way that will end in an announcement.
    int heard() const { return m_heard; }
    bool reactionPending() const { return m_gather.isActive(); }

signals:
    void partsChanged();
    void packageTypesChanged();

private:
    bool listen();
    void watch();
    void onNotification(const QString& channel, QSqlDriver::NotificationSource source,
                        const QVariant& payload);
    void react();

    Register& m_register;
    Connection m_db;
    QTimer m_watch;
    QTimer m_gather;
    QElapsedTimer m_sinceTry;
    int m_retryMs = 0;
    bool m_wanted = false;
    bool m_listening = false;
    bool m_everListened = false;
    bool m_parts = false;
    bool m_types = false;
    int m_heard = 0;
};

} // namespace tarvik
