#include "app/CsvCommands.h"

#include "app/ConsoleOutput.h"
#include "store/records/PartExport.h"
#include "store/records/PartImport.h"
#include "store/records/PartWriter.h"
#include "store/register/ProgramPaths.h"
#include "store/register/Register.h"
#include "store/register/ServerAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

namespace tarvik {
namespace {

const QString kUsage =
    QStringLiteral("Использование: tarvik --export-csv ФАЙЛ.csv\n"
                   "               tarvik --import-csv ФАЙЛ.csv [--existing add|skip|update]");

// The register a window would open: the file beside the program, or its server.
std::unique_ptr<Register> openRegister(bool writes)
{
    const ProgramPaths home = ProgramPaths::registerHome(
        ProgramPaths::ofExecutable(),
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    const ServerChoice choice = readServerChoice(home.databasePath());
    if (!choice.error.isEmpty()) {
        printLine(stderr, choice.error);
        return nullptr;
    }
    auto reg = choice.server ? std::make_unique<Register>(*choice.server)
                             : std::make_unique<Register>(home.databasePath());
    const OpenResult opened = reg->check();
    if (!opened.ok() && (writes || opened.problem != OpenProblem::ReadOnly)) {
        printLine(stderr, reg->describeProblem(opened));
        return nullptr;
    }
    return reg;
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

int exportCommand(const QString& path)
{
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        printLine(stderr,
                  QStringLiteral("Файл «%1» уже есть: он не перезаписывается.").arg(native(path)));
        return 1;
    }
    const auto reg = openRegister(false);
    if (!reg)
        return 1;
    Connection db;
    reg->connect(db);
    QSqlError error;
    const auto ids = partIdsByName(db, &error);
    PartExport written;
    QSaveFile file(path);
    if (!ids) {
        written.error = error;
    } else if (!file.open(QIODevice::WriteOnly)) {
        written.reason = file.errorString();
    } else {
        written = exportPartsCsv(db, *ids, file);
        if (written.ok() && !file.commit())
            written.reason = file.errorString();
    }
    if (!written.ok()) {
        printLine(stderr,
                  withDetail(QStringLiteral("Детали не выгружены в файл «%1».").arg(native(path)),
                             written.error.isValid() ? engineDetail(written.error)
                                                     : engineDetail(written.reason)));
        return 1;
    }
    printLine(stdout, QStringLiteral("%1: деталей %2").arg(native(path)).arg(written.rows));
    return 0;
}

void printPlan(const QString& path, const PartImportPlan& plan)
{
    printLine(stdout, QStringLiteral("%1: кодировка %2, разделитель — %3")
                          .arg(native(path), plan.encoding, plan.separator));
    printLine(stdout, QStringLiteral("Новых деталей: %1, уже есть в базе: %2")
                          .arg(plan.fresh())
                          .arg(plan.existing));
    if (plan.storedTwice > 0)
        printLine(stdout, QStringLiteral("Наименований, записанных в базе не раз: %1 (обновляется "
                                         "первая из них по номеру)")
                              .arg(plan.storedTwice));
    if (!plan.unknownColumns.isEmpty())
        printLine(stdout, QStringLiteral("Неизвестные столбцы пропущены: %1")
                              .arg(plan.unknownColumns.join(QStringLiteral(", "))));
    for (const BadImportRow& row : plan.bad)
        printLine(stderr, QStringLiteral("Строка %1: %2").arg(row.line).arg(row.reason));
}

int importCommand(const QString& path, const QString& existingWord)
{
    std::optional<ExistingNames> existing;
    if (existingWord == QLatin1String("add"))
        existing = ExistingNames::Add;
    else if (existingWord == QLatin1String("skip"))
        existing = ExistingNames::Skip;
    else if (existingWord == QLatin1String("update"))
        existing = ExistingNames::Update;
    else if (!existingWord.isEmpty()) {
        printLine(stderr, kUsage);
        return 2;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printLine(stderr, withDetail(QStringLiteral("Файл «%1» не открыт.").arg(native(path)),
                                     engineDetail(file.errorString())));
        return 1;
    }
    const auto reg = openRegister(true);
    if (!reg)
        return 1;
    Connection db;
    reg->connect(db);
    const PartImportPlan plan = planPartImport(db, file);
    if (!plan.ok()) {
        printLine(stderr, plan.error.isValid()
                              ? withDetail(QStringLiteral("Детали базы не прочитаны."),
                                           engineDetail(plan.error))
                              : plan.refusal);
        return 1;
    }
    printPlan(path, plan);
    if (!plan.bad.isEmpty()) {
        printLine(stderr,
                  QStringLiteral("Неверных строк: %1. Ничего не записано.").arg(plan.bad.size()));
        return 1;
    }
    if (plan.existing > 0 && !existing) {
        printLine(stderr, QStringLiteral("Такие наименования уже есть в базе. Ничего не записано: "
                                         "укажите --existing add, skip или update."));
        return 1;
    }
    PartWriter::ImportCounts counts;
    const PartWrite write =
        PartWriter(db).importParts(plan.rows, existing.value_or(ExistingNames::Add), &counts);
    if (!write.saved()) {
        printLine(stderr,
                  withDetail(QStringLiteral("Детали не записаны, база не изменена."),
                             write.error.isValid() ? engineDetail(write.error) : write.reason));
        return 1;
    }
    printLine(stdout, QStringLiteral("Добавлено: %1, обновлено: %2, пропущено: %3")
                          .arg(counts.added)
                          .arg(counts.updated)
                          .arg(counts.skipped));
    return 0;
}

} // namespace

int csvCommand(const QStringList& arguments)
{
    const QString command = arguments.value(1);
    if (command == QLatin1String("--export-csv") && arguments.size() == 3)
        return exportCommand(arguments.at(2));
    if (command == QLatin1String("--import-csv") && arguments.size() == 3)
        return importCommand(arguments.at(2), {});
    if (command == QLatin1String("--import-csv") && arguments.size() == 5 &&
        arguments.at(3) == QLatin1String("--existing"))
        return importCommand(arguments.at(2), arguments.at(4));
    printLine(stderr, kUsage);
    return 2;
}

} // namespace tarvik
