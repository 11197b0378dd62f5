#include "app/Form1.h"

#include "gui/MessageBox.h"
#include "service/BackupCommands.h"
#include "service/DailyBackup.h"
#include "store/records/RecordSource.h"
#include "store/register/Register.h"
#include "ui_Form1.h"

#include <QDate>
#include <QTimer>

// The register's backups: the day's copy after the window is shown, a copy now, and a
// restore from one.

namespace tarvik {
namespace {

// Long enough for the first screen, the names and the figures to have their turn first.
constexpr int kDailyBackupDelayMs = 3000;

} // namespace

void Form1::setUpBackups()
{
    QAction* now = ui->serv->addAction(QStringLiteral("Резервная копия…"));
    now->setObjectName(QStringLiteral("backupNow"));
    connect(now, &QAction::triggered, this,
            [this] { writeBackupNow(this, m_register, m_paths.databasePath()); });
    QAction* restore = ui->serv->addAction(QStringLiteral("Восстановить из копии…"));
    restore->setObjectName(QStringLiteral("restoreBackup"));
    connect(restore, &QAction::triggered, this, [this] {
        m_data1->savePending(); // notes being typed belong in the copy kept first
        restoreFromBackup(this, m_register, m_paths.databasePath());
    });

    m_dailyBackup = new DailyBackup(m_register, m_paths.databasePath(), this);
    connect(m_dailyBackup, &DailyBackup::finished, this,
            [this](const BackupResult& result, const QString& target) {
                if (!result.ok())
                    MessageBox::show(this, QMessageBox::Warning, kTitle,
                                     describeBackupFailure(target, result), QMessageBox::Ok);
            });
}

void Form1::startDailyBackup()
{
    if (m_dailyBackupAsked)
        return;
    m_dailyBackupAsked = true;
    QTimer::singleShot(kDailyBackupDelayMs, m_dailyBackup, [this] {
        // A register the program could not open, or found damaged, is not copied over a
        // sound day's copy.
        const OpenResult opened = m_register.checkResult();
        if ((opened.ok() || opened.problem == OpenProblem::ReadOnly) && !m_register.isDamaged())
            m_dailyBackup->startIfDue(QDate::currentDate());
    });
}

} // namespace tarvik
