// The parts' CSV on a large register: the export of every part by name, and the import of
// 100,000 new parts (read and compared with the stored names, then written in one
// transaction), each beside the sqlite3 shell's nearest command in the same run: `.mode csv` with
// `.once` for the export, `.import` of the same file into a new table of a copy for the import.
// Works on copies; the register given is never written.
//
//   bench_csv <register file> [rows to import]
#include "store/records/PartExport.h"
#include "store/records/PartImport.h"
#include "store/records/PartWriter.h"
#include "store/register/Register.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>

using namespace tarvik;

namespace {

// The wall time of the shell running `commands` on `database`, in milliseconds.
double shellMs(const QString& database, const QString& commands)
{
    QProcess shell;
    QElapsedTimer timer;
    timer.start();
    shell.start(QStringLiteral("sqlite3"), {database});
    if (!shell.waitForStarted(5000))
        return -1;
    shell.write(commands.toUtf8());
    shell.closeWriteChannel();
    shell.waitForFinished(600000);
    return shell.exitCode() == 0 ? timer.nsecsElapsed() / 1e6 : -1;
}

bool copyFresh(const QString& from, const QString& to)
{
    QFile::remove(to);
    const bool copied = QFile::copy(from, to);
    ::sync();
    return copied;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_csv <register file> [rows to import]\n");
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const int importRows = argc > 2 ? std::max(1, atoi(argv[2])) : 100000;
    QTemporaryDir work;
    const QString ours = work.filePath(QStringLiteral("ours.mdb"));
    const QString shellCopy = work.filePath(QStringLiteral("shell.mdb"));
    const QString exported = work.filePath(QStringLiteral("ours.csv"));
    const QString shellExported = work.filePath(QStringLiteral("shell.csv"));
    const QString toImport = work.filePath(QStringLiteral("import.csv"));
    if (!copyFresh(source, ours) || !copyFresh(source, shellCopy)) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 1;
    }
    Register reg(ours);
    reg.check();
    Connection db;
    if (!reg.connect(db).ok()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(ours));
        return 1;
    }

    // Export.
    QElapsedTimer timer;
    timer.start();
    QSqlError error;
    const auto ids = partIdsByName(db, &error);
    const double idsMs = timer.nsecsElapsed() / 1e6;
    QFile out(exported);
    if (!ids || !out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot export\n");
        return 1;
    }
    const PartExport written = exportPartsCsv(db, *ids, out);
    out.close();
    const double exportMs = timer.nsecsElapsed() / 1e6;
    const double shellExportMs = shellMs(
        shellCopy, QStringLiteral(".mode csv\n.headers on\n.once %1\nSELECT idFam, datebir, pol, "
                                  "phone, sorp FROM client ORDER BY idFamKey, idnom;\n")
                       .arg(shellExported));
    std::printf("export of %lld parts: %.0f ms (numbers by name %.0f ms, %.1f MB); sqlite3 "
                ".mode csv + .once: %.0f ms (%.1f MB)\n",
                written.rows, exportMs, idsMs, QFileInfo(exported).size() / 1e6, shellExportMs,
                QFileInfo(shellExported).size() / 1e6);

    // Import of new parts.
    {
        QFile file(toImport);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write("\xEF\xBB\xBFНаименование;Корпус;Цена;Количество;Стоимость;Доп. информация\r\n");
        for (int i = 0; i < importRows; ++i)
            file.write(QStringLiteral("Ввезённая деталь %1;TO-92;%2,5;%3;;партия %4\r\n")
                           .arg(i)
                           .arg(i % 100)
                           .arg(i % 1000)
                           .arg(i / 100)
                           .toUtf8());
    }
    QFile in(toImport);
    in.open(QIODevice::ReadOnly);
    timer.restart();
    const PartImportPlan plan = planPartImport(db, in);
    const double planMs = timer.nsecsElapsed() / 1e6;
    timer.restart();
    const PartWrite write = PartWriter(db).importParts(plan.rows, ExistingNames::Skip);
    const double writeMs = timer.nsecsElapsed() / 1e6;
    if (!plan.ok() || !write.saved()) {
        std::fprintf(stderr, "import failed: %s %s\n", qPrintable(plan.refusal),
                     qPrintable(write.error.text()));
        return 1;
    }
    const double shellImportMs = shellMs(
        shellCopy, QStringLiteral(".mode csv\n.separator ;\n.import %1 imported\n").arg(toImport));
    std::printf("import of %d new parts: %.0f ms (read and compared %.0f ms, written %.0f ms); "
                "sqlite3 .import into a new table: %.0f ms\n",
                importRows, planMs + writeMs, planMs, writeMs, shellImportMs);
    return 0;
}
