#include "store/access/TableCopy.h"

#include "store/access/AccessRows.h"
#include "store/access/JetText.h"
#include "store/records/Seeding.h"
#include "store/register/Connection.h"

#include <QFile>

#include <algorithm>
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
            result = importFailure(ImportProblem::MissingField, table + QLatin1Char('.') + field);
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
            return importFailure(ImportProblem::MissingTable, missing.join(QLatin1Char(' ')));
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
                return importFailure(ImportProblem::Cancelled);
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
                result = importFailure(ImportProblem::CannotWrite,
                                       withCause(QStringLiteral("новый файл не прошёл проверку"),
                                                 engineDetail(written.integrity)));
            else if (written.parts != m_summary.parts || written.types != m_summary.types ||
                     written.counted != written.kontValues)
                result = importFailure(ImportProblem::CannotWrite,
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
        result = importFailure(ImportProblem::Damaged, m_reader.damage());
        return false;
    }

    bool progress() { return !m_progress || m_progress(m_done, m_total); }

    // One more row read: now and then the user hears of it and may cancel.
    bool rowDone(ImportResult& result)
    {
        ++m_done;
        if (m_done % kProgressStep == 0 && !progress()) {
            result = importFailure(ImportProblem::Cancelled);
            return false;
        }
        return true;
    }

    bool wholeRow(const QVariantList& row, const QList<int>& at, const QString& table, qint64 read,
                  ImportResult& result)
    {
        if (row.size() > *std::max_element(at.begin(), at.end()))
            return true;
        result = importFailure(
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
            result = importFailure(ImportProblem::Damaged,
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
                result = importFailure(
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
            result = importFailure(ImportProblem::BadValue,
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
                result = importFailure(
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
            importFailure(seeder.diskFull() ? ImportProblem::DiskFull : ImportProblem::CannotWrite,
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

} // namespace

void setImportWrittenHook(std::function<void(const QString& newPath)> hook)
{
    writtenHook() = std::move(hook);
}

ImportResult writeImportedRegister(AccessRowReader& reader, const QString& newPath,
                                   const ImportProgress& progress)
{
    ImportResult result = Import(reader, progress).run(newPath);
    result.targetPath = newPath;
    return result;
}

} // namespace tarvik
