// Backs up or restores the register, as the program does, for the crash tests: they kill this
// process at random moments. It repeats until killed, so every kill lands inside one.
//   backup REGISTER TARGET            copies, then removes the copy, again and again
//   restore REGISTER FIRST SECOND     puts the two copies in the register's place in turn
#include "store/register/Backup.h"
#include "store/register/Register.h"
#include "store/register/Restore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cstdio>

using namespace tarvik;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: %s backup REGISTER TARGET | restore REGISTER A B\n", argv[0]);
        return 2;
    }
    const QString path = args.at(2);
    std::printf("ready\n");
    std::fflush(stdout);
    for (int round = 0;; ++round) {
        if (args.at(1) == QLatin1String("backup")) {
            BackupControl control;
            control.pagesPerStep = 16;
            const BackupResult result = backupRegisterFile(path, args.at(3), control);
            if (!result.ok()) {
                std::fprintf(stderr, "%s\n", qPrintable(describeBackupFailure(args.at(3), result)));
                return 1;
            }
            std::printf("copied\n");
            std::fflush(stdout);
            QFile::remove(args.at(3));
            continue;
        }
        Register reg(path);
        reg.check(); // open as the program does, so there are connections to close
        const QString keep = keptBeforeRestorePath(
            path, QDateTime::currentDateTime().addSecs(round)); // a name of its own each round
        const RestoreResult result = restoreRegister(reg, args.at(3 + round % 2), keep);
        if (!result.ok()) {
            std::fprintf(stderr, "%s\n",
                         qPrintable(describeRestoreFailure(path, args.at(3 + round % 2), result)));
            return 1;
        }
        std::printf("restored\n");
        std::fflush(stdout);
    }
}
