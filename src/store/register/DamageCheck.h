#pragma once

#include "store/register/BackgroundReader.h"

#include <QObject>
#include <QString>

namespace tarvik {

class Register;

// SQLite's own quick check of the whole register, run once after start-up on a connection
// and thread of its own. Damage it finds goes to the register, which refuses changes from
// then on and reports it once. The check gives way at once to the window: a change made
// meanwhile interrupts it (it is tried again later), and so does the register closing. When
// the register is opened again (reopen) the check runs again.
class DamageCheck : public QObject {
    Q_OBJECT

public:
    explicit DamageCheck(Register& reg, QObject* parent = nullptr);
    ~DamageCheck() override;

    void start();
    // Interrupts a running check and waits for its thread; returns within milliseconds.
    void stop();
    bool isRunning() const { return m_reader.isRunning(); }

    // How long after an interruption by a change the check is tried again.
    void setRetryDelay(int milliseconds) { m_retryDelayMs = milliseconds; }

signals:
    // The check ran to its end; `problems` is empty when the file is sound.
    void finished(const QString& problems);

private:
    bool check(BackgroundReader::Run& run);
    void onEnded(BackgroundReader::Outcome outcome);

    Register& m_register;
    BackgroundReader m_reader;
    QString m_problems; // the last check's, written on its thread
    bool m_closing = false;
    int m_retryDelayMs = 30000;
};

} // namespace tarvik
