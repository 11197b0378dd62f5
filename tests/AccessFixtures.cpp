#include "AccessFixtures.h"

#include "store/access/AccessHeader.h"
#include "store/records/Queries.h"
#include "store/records/RecordSource.h"
#include "store/register/Connection.h"
#include "store/text/TextFold.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace tarvik::test {
namespace {

const QStringList kPartFields = {"idnom", "kont", "idFam",  "pol",     "datebir",
                                 "phone", "sorp", "PhotoN", "idFamKey"};
const QStringList kTypeFields = {"IDvrachYZD", "yzdID", "vrachYZD", "name1", "Photo1"};

QByteArray changedHeader(QByteArray access, int offset, char value)
{
    QByteArray page = toggleAccessHeaderScramble(access.left(0x100));
    page[offset] = char(page[offset] ^ value);
    access.replace(0, 0x100, toggleAccessHeaderScramble(page));
    return access;
}

} // namespace

const char* const kNoLargeFixture =
    "register-large.mdb (20,000 parts, 6 MB) is kept out of the repository and was not found; "
    "configure with -DTARVIK_JET_FIXTURES=FOLDER to run this";

QString fixturePath(const QString& name)
{
    for (const char* variable : {"TARVIK_JET_DATA", "TARVIK_JET_FIXTURES"}) {
        const QString folder = qEnvironmentVariable(variable);
        if (!folder.isEmpty() && QFileInfo::exists(QDir(folder).filePath(name)))
            return QDir(folder).filePath(name);
    }
    qFatal("Access fixture %s is neither in TARVIK_JET_DATA nor in TARVIK_JET_FIXTURES",
           qPrintable(name));
}

bool hasLargeFixture()
{
    const QString folder = qEnvironmentVariable("TARVIK_JET_FIXTURES");
    return !folder.isEmpty() && QFileInfo::exists(QDir(folder).filePath("register-large.mdb")) &&
           QFileInfo::exists(QDir(folder).filePath("register-large.json"));
}

Manifest readManifest(const QString& name)
{
    Manifest manifest;
    QFile file(fixturePath(name + QStringLiteral(".json")));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no manifest %s", qPrintable(name));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    for (const QJsonValue table : root.value("tables").toArray()) {
        QList<QJsonObject>& rows = manifest.rows[table["name"].toString()];
        for (const QJsonValue row : table["rows"].toArray()) {
            rows << row.toObject();
            const QJsonValue photo = row.toObject().value("Photo1");
            if (photo.isObject() && photo["length"].toInteger() > 0) {
                ++manifest.pictureCount;
                manifest.pictureBytes += photo["length"].toInteger();
            }
        }
    }
    return manifest;
}

QList<QVariantMap> readTable(const QString& path, const Statement& statement)
{
    const QStringList& fields =
        statement.table == QLatin1String("client") ? kPartFields : kTypeFields;
    QList<QVariantMap> rows;
    RecordSource source;
    if (!source.open(path).ok())
        return rows;
    source.setStatement(statement);
    source.refresh();
    for (int row = 0; row < source.recordCount(); ++row) {
        source.setCurrentRow(row);
        QVariantMap values;
        for (const QString& field : fields)
            values.insert(field, source.field(field));
        rows << values;
    }
    return rows;
}

void compareWithManifest(const QString& path, const Manifest& manifest)
{
    struct Table {
        const char* name;
        const char* id;
        Statement statement;
    };
    const Table tables[] = {{"client", "idnom", Statements::partsInStoredOrder()},
                            {"vrYZD", "IDvrachYZD", Statements::packageTypes()}};
    qint64 kontValues = 0;
    for (const Table& table : tables) {
        const QList<QJsonObject> expected = manifest.rows.value(QLatin1String(table.name));
        QHash<qint64, QVariantMap> actual;
        for (const QVariantMap& row : readTable(path, table.statement))
            actual.insert(row.value(table.id).toLongLong(), row);
        QCOMPARE(actual.size(), expected.size());
        for (const QJsonObject& row : expected) {
            const qint64 id = row.value(QLatin1String(table.id)).toInteger();
            QVERIFY2(actual.contains(id),
                     qPrintable(QStringLiteral("%1 %2 missing").arg(table.name).arg(id)));
            const QVariantMap& got = actual[id];
            for (auto it = row.begin(); it != row.end(); ++it) {
                const QString where =
                    QStringLiteral("%1 %2 %3").arg(table.name).arg(id).arg(it.key());
                const QVariant value = got.value(it.key());
                if (it.value().isNull()) {
                    QVERIFY2(value.isNull(), qPrintable(where + " must be NULL"));
                } else if (it.value().isObject()) { // a picture: its length and hash
                    const QByteArray bytes = value.toByteArray();
                    QVERIFY2(!value.isNull(), qPrintable(where + " must not be NULL"));
                    QCOMPARE(bytes.size(), it.value().toObject()["length"].toInteger());
                    QCOMPARE(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
                             it.value().toObject()["sha256"].toString().toLatin1());
                } else if (it.value().isString()) {
                    QVERIFY2(!value.isNull(), qPrintable(where + " must not be NULL"));
                    QVERIFY2(value.toString() == it.value().toString(),
                             qPrintable(where + ": " + value.toString().left(80)));
                } else {
                    QVERIFY2(!value.isNull(), qPrintable(where + " must not be NULL"));
                    QCOMPARE(value.toLongLong(), it.value().toInteger());
                }
            }
            if (QLatin1String(table.name) == QLatin1String("client")) {
                const QVariant name = got.value("idFam");
                QCOMPARE(got.value("idFamKey").isNull(), name.isNull());
                QCOMPARE(got.value("idFamKey").toString(), nameKeyOf(name.toString()));
                kontValues += got.value("kont").isNull() ? 0 : 1;
            }
        }
    }
    // The record counter the file keeps agrees with the rows.
    Connection db;
    QVERIFY(db.open(path).ok());
    QCOMPARE(countParts(db), std::optional<qint64>(kontValues));
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

bool writeFile(const QString& path, const QByteArray& bytes, bool replace)
{
    if (replace)
        QFile::remove(path);
    QFile file(path);
    return file.open(QIODevice::NewOnly) && file.write(bytes) == bytes.size();
}

QByteArray withPassword(const QByteArray& access)
{
    return changedHeader(access, 0x42 + 2, 'p');
}

QByteArray withEncodingKey(const QByteArray& access)
{
    return changedHeader(access, 0x3e, 0x01);
}

} // namespace tarvik::test
