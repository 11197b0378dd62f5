#include "store/access/AccessImport.h"

#include "store/access/AccessHeader.h"
#include "store/access/AccessRows.h"
#include "store/register/Platform.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <memory>
#include <system_error>

namespace tarvik {
namespace {

std::filesystem::path fsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// What the first page says, and whether the file has all its pages.
ImportResult checkAccessFile(const QString& accessPath)
{
    const AccessHeader header = readAccessHeader(accessPath);
    switch (header.format) {
    case AccessHeader::Format::Unreadable:
        return importFailure(ImportProblem::Unreadable, header.error);
    case AccessHeader::Format::NotAccess:
        return importFailure(ImportProblem::NotAccess);
    case AccessHeader::Format::Newer:
        return importFailure(ImportProblem::NewerFormat);
    case AccessHeader::Format::Jet3:
    case AccessHeader::Format::Jet4:
        break;
    }
    if (!header.isTruncated && header.isEncoded)
        return importFailure(ImportProblem::Encrypted);
    if (!header.isTruncated && header.hasPassword)
        return importFailure(ImportProblem::Password);
    // Jet writes whole pages, and no register fits in its first two.
    const qint64 size = QFileInfo(accessPath).size();
    if (header.isTruncated || size % header.pageSize != 0 || size < 2 * header.pageSize)
        return importFailure(ImportProblem::Damaged,
                             QStringLiteral("файл обрезан: %1 байт").arg(size));
    return {};
}

// An interrupted import leaves its temporary file; the engine would take a journal beside
// it for its own and roll it into the next file of that name.
void removeTemporary(const QString& temporary)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(temporary + QLatin1String(suffix));
}

ImportResult readIntoTemporary(const QString& accessPath, const QString& temporary,
                               const ImportProgress& progress)
{
    ImportResult checked = checkAccessFile(accessPath);
    if (!checked.ok())
        return checked;
    QString error;
    std::unique_ptr<AccessRowReader> reader = openAccessFile(accessPath, &error);
    if (!reader)
        return importFailure(ImportProblem::Damaged, error);
    removeTemporary(temporary);
    ImportResult result = writeImportedRegister(*reader, temporary, progress);
    reader.reset(); // the Access file must be closed before it is renamed
    if (result.ok() && !platform::syncFile(temporary, &error)) {
        removeTemporary(temporary);
        result = importFailure(ImportProblem::CannotWrite,
                               withCause(QStringLiteral("новый файл не сохранён на диск"), error));
    }
    result.targetPath = temporary;
    return result;
}

} // namespace

QString importTemporaryPath(const QString& targetPath)
{
    return targetPath + QStringLiteral(".importing");
}

ImportResult importAccessRegister(const QString& accessPath, const QString& newPath,
                                  const ImportProgress& progress)
{
    auto refused = [&] {
        ImportResult result = importFailure(ImportProblem::TargetExists);
        result.targetPath = newPath;
        return result;
    };
    if (QFileInfo::exists(newPath) || QFileInfo(newPath).isSymLink())
        return refused();
    const QString temporary = importTemporaryPath(newPath);
    ImportResult result = readIntoTemporary(accessPath, temporary, progress);
    if (!result.ok()) {
        result.targetPath = newPath; // the name the user gave, not our temporary one
        return result;
    }
    // A hard link never replaces an existing name, so a file that appeared meanwhile stays.
    std::error_code error;
    std::filesystem::create_hard_link(fsPath(temporary), fsPath(newPath), error);
    if (error && !QFileInfo::exists(newPath)) { // no hard links here: rename instead
        error.clear();
        std::filesystem::rename(fsPath(temporary), fsPath(newPath), error);
    }
    QFile::remove(temporary);
    if (error) {
        const bool taken = QFileInfo::exists(newPath);
        ImportResult failed =
            taken ? refused()
                  : importFailure(ImportProblem::CannotWrite,
                                  withCause(QStringLiteral("не удалось дать файлу его имя"),
                                            QString::fromLocal8Bit(error.message().c_str())));
        failed.targetPath = newPath;
        return failed;
    }
    // The file is complete under its name whatever this says; it only hastens the name.
    (void)platform::syncFolder(QFileInfo(newPath).absolutePath(), nullptr);
    result.targetPath = newPath;
    return result;
}

ImportResult replaceAccessRegister(const QString& registerPath, const ImportProgress& progress)
{
    const QString temporary = importTemporaryPath(registerPath);
    const QString folder = QFileInfo(registerPath).absolutePath();
    ImportResult result = readIntoTemporary(registerPath, temporary, progress);
    if (!result.ok())
        return result;
    auto abandon = [&](const QString& why) {
        removeTemporary(temporary);
        ImportResult failed = importFailure(ImportProblem::CannotWrite, why);
        failed.targetPath = temporary;
        return failed;
    };
    auto systemWords = [](const std::error_code& code) {
        return QString::fromLocal8Bit(code.message().c_str());
    };

    // The new register serves whoever the Access file served: its owner, group and mode.
    QString why;
    if (!platform::copyFileMetadata(registerPath, temporary, &why))
        return abandon(withCause(
            QStringLiteral("не удалось дать ему владельца и права доступа файла Access"), why));

    // Keep the Access file under a second name first: a hard link (or a copy where the file
    // system has none), so the register's own name always holds a complete file.
    QString kept;
    bool made = false;
    std::error_code error;
    for (int n = 1; n < 1000 && kept.isEmpty(); ++n) {
        const QString candidate = registerPath + QStringLiteral(".access") +
                                  (n == 1 ? QString() : QStringLiteral(".%1").arg(n));
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink()) {
            // The link an interrupted switch left is this very file: use it again.
            if (std::filesystem::equivalent(fsPath(candidate), fsPath(registerPath), error))
                kept = candidate;
            error.clear();
            continue;
        }
        std::filesystem::create_hard_link(fsPath(registerPath), fsPath(candidate), error);
        if (error) {
            if (QFileInfo::exists(candidate))
                continue; // taken meanwhile
            error.clear();
            std::filesystem::copy_file(fsPath(registerPath), fsPath(candidate), error);
            if (error || !platform::syncFile(candidate, &why)) {
                QFile::remove(candidate);
                return abandon(withCause(QStringLiteral("не удалось сохранить файл Access под "
                                                        "другим именем"),
                                         error ? systemWords(error) : why));
            }
        }
        kept = candidate;
        made = true;
    }
    if (kept.isEmpty())
        return abandon(QStringLiteral("нет свободного имени для файла Access"));
    // The Access file's second name reaches the disk before its first one is taken away.
    if (!platform::syncFolder(folder, &why)) {
        if (made)
            QFile::remove(kept);
        return abandon(withCause(QStringLiteral("папка не сохранена на диск"), why));
    }

    // One atomic step: the register's name moves from the Access file to the new one.
    std::filesystem::rename(fsPath(temporary), fsPath(registerPath), error);
    if (error) {
        if (made)
            QFile::remove(kept);
        return abandon(withCause(QStringLiteral("не удалось поставить новый файл на место"),
                                 systemWords(error)));
    }
    // The switch is made whatever this says: after a power cut the name holds the Access
    // file or the new register, each complete.
    (void)platform::syncFolder(folder, &why);
    result.targetPath = registerPath;
    result.keptAccessPath = kept;
    return result;
}

} // namespace tarvik
