#include "store/access/AccessImport.h"

#include "store/access/AccessHeader.h"
#include "store/access/AccessRows.h"
#include "store/access/JetText.h"
#include "store/records/Seeding.h"
#include "store/register/Connection.h"
#include "store/register/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

namespace tarvik {
namespace {

const QStringList kPartFields = {"idnom",   "kont",  "idFam", "pol",
                                 "datebir", "phone", "sorp",  "PhotoN"};
const QStringList kTypeFields = {"IDvrachYZD", "yzdID", "vrachYZD", "name1", "Photo1"};

constexpr qint64 kProgressStep = 256;

std::function<void(const QString&)>& writtenHook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

std::filesystem::path fsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// What failed, then the system's or the engine's words: the detail inside the brackets of
// the user's sentence, so without brackets of its own.
QString because(const QString& what, const QString& words)
{
    return words.isEmpty() ? what : what + QStringLiteral(": ") + words;
}

ImportResult failure(ImportProblem problem, const QString& detail = {})
{
    ImportResult result;
    result.problem = problem;
    result.detail = detail;
    return result;
}

// Where each wanted field sits in the table's columns; the first missing one otherwise.
bool locate(const QString& table, const QStringList& wanted, const QStringList& columns,
            QList<int>& at, ImportResult& result)
{
    at.clear();
    for (const QString& field : wanted) {
        int found = -1;
        for (int i = 0; i < columns.size() && found < 0; ++i) {
            if (columns[i].compare(field, Qt::CaseInsensitive) == 0)
                found = i;
        }
        if (found < 0) {
            result = failure(ImportProblem::MissingField, table + QLatin1Char('.') + field);
            return false;
        }
        at << found;
    }
    return true;
}

// Text fields come over as text; a NULL stays NULL (a null QString).
bool textOf(const QVariant& value, QString& out)
{
    if (value.isNull()) {
        out = QString();
        return true;
    }
    if (value.typeId() != QMetaType::QString)
        return false;
    out = value.toString();
    return true;
}

bool numberOf(const QVariant& value, qint64& out)
{
    if (value.typeId() != QMetaType::LongLong)
        return false;
    out = value.toLongLong();
    return true;
}

class Import {
public:
    Import(AccessRowReader& reader, const ImportProgress& progress)
        : m_reader(reader),
          m_progress(progress)
    {
    }

    ImportResult run(const QString& newPath)
    {
        ImportResult result;
        const AccessRowReader::Table parts = m_reader.openTable(QStringLiteral("client"));
        if (!readable(result))
            return result;
        const AccessRowReader::Table types = m_reader.openTable(QStringLiteral("vrYZD"));
        if (!readable(result))
            return result;
        if (!parts.found || !types.found) {
            QStringList missing;
            if (!parts.found)
                missing << QStringLiteral("client");
            if (!types.found)
                missing << QStringLiteral("vrYZD");
            return failure(ImportProblem::MissingTable, missing.join(QLatin1Char(' ')));
        }
        if (!locate(QStringLiteral("client"), kPartFields, parts.columns, m_partAt, result) ||
            !locate(QStringLiteral("vrYZD"), kTypeFields, types.columns, m_typeAt, result))
            return result;
        m_total = parts.declaredRows + types.declaredRows;

        {
            Seeder seeder(newPath);
            if (!seeder.ok())
                return writeFailure(seeder, newPath);
            if (!progress())
                return failure(ImportProblem::Cancelled);
            if (!copyTypes(seeder, types.declaredRows, result) ||
                !copyParts(seeder, parts.declaredRows, result))
                return result.problem == ImportProblem::None ? writeFailure(seeder, newPath)
                                                             : result;
            if (!seeder.commit())
                return writeFailure(seeder, newPath);
            if (writtenHook())
                writtenHook()(newPath);
            const Seeder::Written written = seeder.readBack();
            if (written.integrity != QLatin1String("ok"))
                result = failure(ImportProblem::CannotWrite,
                                 because(QStringLiteral("новый файл не прошёл проверку"),
                                         engineDetail(written.integrity)));
            else if (written.parts != m_summary.parts || written.types != m_summary.types ||
                     written.counted != written.kontValues)
                result = failure(ImportProblem::CannotWrite,
                                 QStringLiteral("в новом файле деталей %1 из %2, корпусов %3 "
                                                "из %4")
                                     .arg(written.parts)
                                     .arg(m_summary.parts)
                                     .arg(written.types)
                                     .arg(m_summary.types));
        }
        if (!result.ok()) {
            QFile::remove(newPath);
            return result;
        }
        m_done = m_total;
        progress();
        result.summary = m_summary;
        result.targetPath = newPath;
        return result;
    }

private:
    bool readable(ImportResult& result)
    {
        if (m_reader.damage().isEmpty())
            return true;
        result = failure(ImportProblem::Damaged, m_reader.damage());
        return false;
    }

    bool progress() { return !m_progress || m_progress(m_done, m_total); }

    // One more row read: now and then the user hears of it and may cancel.
    bool rowDone(ImportResult& result)
    {
        ++m_done;
        if (m_done % kProgressStep == 0 && !progress()) {
            result = failure(ImportProblem::Cancelled);
            return false;
        }
        return true;
    }

    bool wholeRow(const QVariantList& row, const QList<int>& at, const QString& table, qint64 read,
                  ImportResult& result)
    {
        if (row.size() > *std::max_element(at.begin(), at.end()))
            return true;
        result = failure(
            ImportProblem::Damaged,
            QStringLiteral("в таблице %1 строка %2 короче своих полей").arg(table).arg(read));
        return false;
    }

    // The table reached its end: every row its definition counts must have come.
    bool complete(const QString& table, qint64 read, qint64 declared, ImportResult& result)
    {
        if (!readable(result))
            return false;
        if (read < declared) {
            result = failure(ImportProblem::Damaged,
                             QStringLiteral("в таблице %1 прочитано %2 строк из %3")
                                 .arg(table)
                                 .arg(read)
                                 .arg(declared));
            return false;
        }
        return true;
    }

    bool copyTypes(Seeder& seeder, qint64 declared, ImportResult& result)
    {
        m_reader.openTable(QStringLiteral("vrYZD"));
        QVariantList row;
        qint64 read = 0;
        while (m_reader.nextRow(row)) {
            ++read;
            if (!wholeRow(row, m_typeAt, QStringLiteral("vrYZD"), read, result))
                return false;
            qint64 id = 0;
            const QVariant& yzd = row[m_typeAt[1]];
            QString name, fileName;
            if (!numberOf(row[m_typeAt[0]], id) ||
                (!yzd.isNull() && yzd.typeId() != QMetaType::LongLong) ||
                !textOf(row[m_typeAt[2]], name) || !textOf(row[m_typeAt[3]], fileName)) {
                result = failure(
                    ImportProblem::BadValue,
                    QStringLiteral("поле неожиданного типа в таблице vrYZD, строка %1").arg(read));
                return false;
            }
            QByteArray picture;
            if (!pictureOf(row[m_typeAt[4]], id, picture, result))
                return false;
            if (!seeder.addExistingPackageType(id, yzd, name, fileName, picture))
                return false;
            ++m_summary.types;
            if (!picture.isEmpty()) {
                ++m_summary.pictures;
                m_summary.pictureBytes += picture.size();
            }
            if (!rowDone(result))
                return false;
        }
        return complete(QStringLiteral("vrYZD"), read, declared, result);
    }

    bool pictureOf(const QVariant& value, qint64 id, QByteArray& picture, ImportResult& result)
    {
        if (value.isNull()) {
            picture = QByteArray();
            return true;
        }
        if (value.typeId() == QMetaType::QByteArray) { // an OLE field holds the bytes as they are
            picture = value.toByteArray();
            return true;
        }
        qsizetype bad = -1;
        if (value.typeId() != QMetaType::QString ||
            !pictureBytes(value.toString(), picture, &bad)) {
            result = failure(ImportProblem::BadValue,
                             QStringLiteral("в рисунке корпуса № %1 знак на месте %2 не из "
                                            "кодовой страницы 1251")
                                 .arg(id)
                                 .arg(bad + 1));
            return false;
        }
        if (picture.isNull()) // the empty text stays an empty picture, not NULL
            picture = QByteArray("", 0);
        return true;
    }

    bool copyParts(Seeder& seeder, qint64 declared, ImportResult& result)
    {
        m_reader.openTable(QStringLiteral("client"));
        QVariantList row;
        qint64 read = 0;
        while (m_reader.nextRow(row)) {
            ++read;
            if (!wholeRow(row, m_partAt, QStringLiteral("client"), read, result))
                return false;
            qint64 idnom = 0;
            PartRow part;
            if (!numberOf(row[m_partAt[0]], idnom) || !textOf(row[m_partAt[1]], part.kont) ||
                !textOf(row[m_partAt[2]], part.idFam) || !textOf(row[m_partAt[3]], part.pol) ||
                !textOf(row[m_partAt[4]], part.datebir) || !textOf(row[m_partAt[5]], part.phone) ||
                !textOf(row[m_partAt[6]], part.sorp) || !textOf(row[m_partAt[7]], part.PhotoN)) {
                result = failure(
                    ImportProblem::BadValue,
                    QStringLiteral("поле неожиданного типа в таблице client, строка %1").arg(read));
                return false;
            }
            if (!seeder.addExistingPart(idnom, part))
                return false;
            ++m_summary.parts;
            if (!rowDone(result))
                return false;
        }
        return complete(QStringLiteral("client"), read, declared, result);
    }

    static ImportResult writeFailure(const Seeder& seeder, const QString& path)
    {
        ImportResult result =
            failure(seeder.diskFull() ? ImportProblem::DiskFull : ImportProblem::CannotWrite,
                    seeder.error());
        result.targetPath = path;
        return result;
    }

    AccessRowReader& m_reader;
    const ImportProgress& m_progress;
    QList<int> m_partAt, m_typeAt;
    qint64 m_total = 0;
    qint64 m_done = 0;
    ImportSummary m_summary;
};

// What the first page says, and whether the file has all its pages.
ImportResult checkAccessFile(const QString& accessPath)
{
    const AccessHeader header = readAccessHeader(accessPath);
    switch (header.format) {
    case AccessHeader::Format::Unreadable:
        return failure(ImportProblem::Unreadable, header.error);
    case AccessHeader::Format::NotAccess:
        return failure(ImportProblem::NotAccess);
    case AccessHeader::Format::Newer:
        return failure(ImportProblem::NewerFormat);
    case AccessHeader::Format::Jet3:
    case AccessHeader::Format::Jet4:
        break;
    }
    if (!header.isTruncated && header.isEncoded)
        return failure(ImportProblem::Encrypted);
    if (!header.isTruncated && header.hasPassword)
        return failure(ImportProblem::Password);
    // Jet writes whole pages, and no register fits in its first two.
    const qint64 size = QFileInfo(accessPath).size();
    if (header.isTruncated || size % header.pageSize != 0 || size < 2 * header.pageSize)
        return failure(ImportProblem::Damaged, QStringLiteral("файл обрезан: %1 байт").arg(size));
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
        return failure(ImportProblem::Damaged, error);
    removeTemporary(temporary);
    ImportResult result = writeImportedRegister(*reader, temporary, progress);
    reader.reset(); // the Access file must be closed before it is renamed
    if (result.ok() && !platform::syncFile(temporary, &error)) {
        removeTemporary(temporary);
        result = failure(ImportProblem::CannotWrite,
                         because(QStringLiteral("новый файл не сохранён на диск"), error));
    }
    result.targetPath = temporary;
    return result;
}

} // namespace

void setImportWrittenHook(std::function<void(const QString& newPath)> hook)
{
    writtenHook() = std::move(hook);
}

QString importTemporaryPath(const QString& targetPath)
{
    return targetPath + QStringLiteral(".importing");
}

ImportResult writeImportedRegister(AccessRowReader& reader, const QString& newPath,
                                   const ImportProgress& progress)
{
    ImportResult result = Import(reader, progress).run(newPath);
    result.targetPath = newPath;
    return result;
}

ImportResult importAccessRegister(const QString& accessPath, const QString& newPath,
                                  const ImportProgress& progress)
{
    auto refused = [&] {
        ImportResult result = failure(ImportProblem::TargetExists);
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
                  : failure(ImportProblem::CannotWrite,
                            because(QStringLiteral("не удалось дать файлу его имя"),
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
        ImportResult failed = failure(ImportProblem::CannotWrite, why);
        failed.targetPath = temporary;
        return failed;
    };
    auto systemWords = [](const std::error_code& code) {
        return QString::fromLocal8Bit(code.message().c_str());
    };

    // The new register serves whoever the Access file served: its owner, group and mode.
    QString why;
    if (!platform::copyFileMetadata(registerPath, temporary, &why))
        return abandon(because(
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
                return abandon(because(QStringLiteral("не удалось сохранить файл Access под "
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
        return abandon(because(QStringLiteral("папка не сохранена на диск"), why));
    }

    // One atomic step: the register's name moves from the Access file to the new one.
    std::filesystem::rename(fsPath(temporary), fsPath(registerPath), error);
    if (error) {
        if (made)
            QFile::remove(kept);
        return abandon(because(QStringLiteral("не удалось поставить новый файл на место"),
                               systemWords(error)));
    }
    // The switch is made whatever this says: after a power cut the name holds the Access
    // file or the new register, each complete.
    (void)platform::syncFolder(folder, &why);
    result.targetPath = registerPath;
    result.keptAccessPath = kept;
    return result;
}

QString describeImportProblem(const QString& accessPath, const ImportResult& result)
{
    const QString file = QStringLiteral("«%1»").arg(QDir::toNativeSeparators(accessPath));
    const QString target = QStringLiteral("«%1»").arg(QDir::toNativeSeparators(result.targetPath));
    switch (result.problem) {
    case ImportProblem::None:
        return {};
    case ImportProblem::Unreadable:
        return withDetail(QStringLiteral("Не удаётся прочитать файл %1.").arg(file),
                          engineDetail(result.detail));
    case ImportProblem::NotAccess:
        return QStringLiteral("Файл %1 не является базой данных Access.").arg(file);
    case ImportProblem::NewerFormat:
        return QStringLiteral("Файл %1 сохранён в формате Access 2007 или новее; переносятся "
                              "только файлы Access 97–2003. Сохраните его в Access в формате "
                              "Access 2000 и повторите.")
            .arg(file);
    case ImportProblem::Password:
        return QStringLiteral("Файл Access %1 защищён паролем. Снимите пароль в Access и "
                              "повторите.")
            .arg(file);
    case ImportProblem::Encrypted:
        return QStringLiteral("Файл Access %1 зашифрован. Расшифруйте его в Access и повторите.")
            .arg(file);
    case ImportProblem::Damaged:
        return withDetail(QStringLiteral("Файл Access %1 повреждён или обрезан.").arg(file),
                          result.detail);
    case ImportProblem::MissingTable: {
        const QStringList tables = result.detail.split(QLatin1Char(' '));
        QStringList quoted;
        for (const QString& table : tables)
            quoted << QStringLiteral("«%1»").arg(table);
        return (tables.size() > 1
                    ? QStringLiteral("В файле Access %1 нет таблиц %2: это не база радиодеталей.")
                    : QStringLiteral("В файле Access %1 нет таблицы %2: это не база радиодеталей."))
            .arg(file, quoted.join(QStringLiteral(" и ")));
    }
    case ImportProblem::MissingField:
        return QStringLiteral("В таблице «%2» файла Access %1 нет поля «%3».")
            .arg(file, result.detail.section(QLatin1Char('.'), 0, 0),
                 result.detail.section(QLatin1Char('.'), 1));
    case ImportProblem::BadValue:
        return QStringLiteral("Данные файла Access %1 нельзя перенести без потерь: %2.")
            .arg(file, result.detail);
    case ImportProblem::TargetExists:
        return QStringLiteral("Файл %1 уже существует и не будет перезаписан.").arg(target);
    case ImportProblem::CannotWrite:
        return withDetail(QStringLiteral("Не удаётся записать новый файл %1.").arg(target),
                          result.detail);
    case ImportProblem::DiskFull:
        return QStringLiteral("Для нового файла %1 не хватает места на диске.").arg(target);
    case ImportProblem::Cancelled:
        return QStringLiteral("Перенос данных из файла %1 отменён.").arg(file);
    }
    return {};
}

} // namespace tarvik
