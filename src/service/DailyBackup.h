#pragma once

#include "store/register/Backup.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <atomic>

class QThread;

namespace tarvik {

class Register;

// The day's backup of the register: at the first start of a day, a copy goes to
// base/backup/<name>-YYYY-MM-DD.mdb and the oldest beyond the number kept are removed. It
// runs on a thread and connections of its own at a lowered priority, so neither the window
// nor the user's writes wait for it, and it gives way to the register closing (compaction,
// restore, the end): the copy is then abandoned, and the next start writes it.
class DailyBackup : public QObject {
    Q_OBJECT

public:
    // `registerPath` is the register file's place, also for a register on a server: the
    // copies go beside it.
    DailyBackup(Register& reg, const QString& registerPath, QObject* parent = nullptr);
    ~DailyBackup() override;

    // Starts the day's copy unless copies are turned off, the day's copy is there or one
    // is being written. True when it started.
    bool startIfDue(const QDate& today);
    bool isRunning() const { return m_thread != nullptr; }
    // Abandons a running copy and waits for its thread.
    void stop();

signals:
    // On the owner's thread, once for each copy not stopped; `target` is the day's file.
    void finished(const tarvik::BackupResult& result, const QString& target);

private:
    void onThreadDone();

    Register& m_register;
    QString m_registerPath;
    QString m_target;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
    BackupResult m_result; // written on the copy's thread, read after it ended
};

} // namespace tarvik
