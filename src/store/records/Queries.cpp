#include "store/records/Queries.h"

#include "store/records/Statements.h"
#include "store/register/Dialect.h"
#include "store/register/WriteTransaction.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace tarvik {

std::optional<qint64> countParts(const Connection& db)
{
    if (!db.isOpen())
        return std::nullopt;
    QSqlQuery query(db.connection());
    query.setForwardOnly(true);
    // A file made without the counter table is counted the slow way.
    if ((query.exec(Statements::countParts()) || query.exec(Statements::countPartsByScan())) &&
        query.next())
        return query.value(0).toLongLong();
    db.noteError(query.lastError());
    return std::nullopt;
}

std::optional<bool> partNamedExactly(const Connection& db, const QString& name)
{
    if (!db.isOpen())
        return std::nullopt;
    const Statement statement = Statements::partsNamed(name);
    QSqlQuery query(db.connection());
    query.setForwardOnly(true);
    query.prepare(statement.selectSql());
    for (const QVariant& value : statement.binds)
        query.addBindValue(value);
    if (!query.exec())
        return std::nullopt;
    const int column = query.record().indexOf(QStringLiteral("idFam"));
    while (query.next()) {
        if (query.value(column).toString() == name)
            return true;
    }
    return false;
}

std::optional<qint64> largestPackageTypeId(const Connection& db)
{
    if (!db.isOpen())
        return std::nullopt;
    QSqlQuery query(db.connection());
    query.setForwardOnly(true);
    if (!query.exec(Statements::largestPackageTypeId()) || !query.next() || query.value(0).isNull())
        return std::nullopt;
    return query.value(0).toLongLong();
}

QString PackageTypeWrite::failure() const
{
    return error.isValid() ? describeFailure(error) : reason;
}

namespace {

// Whether `db` may be written now; says why not otherwise.
bool mayWrite(const Connection& db, PackageTypeWrite& write)
{
    if (db.isOpen() && !db.writesRefused())
        return true;
    write.reason = db.isOpen()
                       ? QStringLiteral("файл базы данных повреждён, изменения не сохраняются")
                       : QStringLiteral("файл базы данных не открыт");
    return false;
}

} // namespace

PackageTypeWrite addPackageType(const Connection& db, const QString& name, const QString& fileName,
                                const QByteArray& picture)
{
    PackageTypeWrite added;
    if (!mayWrite(db, added))
        return added;
    const auto failed = [&](const QSqlError& error) {
        db.noteError(error);
        added.error = error;
        return added;
    };
    db.aboutToWrite();
    WriteTransaction transaction(db.connection());
    if (!transaction.begun())
        return failed(transaction.error());
    QSqlQuery query(db.connection());
    query.setForwardOnly(true);
    // On the server another computer's add could read the same largest number meanwhile: the
    // adds there take turns (the file's IMMEDIATE transaction already makes them).
    if (onServer(db.connection()) &&
        !query.exec(QStringLiteral("LOCK TABLE vrYZD IN SHARE ROW EXCLUSIVE MODE")))
        return failed(query.lastError());
    if (!query.exec(Statements::largestPackageTypeId()) || !query.next())
        return failed(query.lastError());
    const QVariant largest = query.value(0);
    added.yzdId = largest.isNull() ? QVariant() : QVariant(largest.toLongLong() + 1);
    query.finish();
    query.prepare(
        QStringLiteral("INSERT INTO vrYZD (vrachYZD, yzdID, name1, Photo1) VALUES (?, ?, ?, ?)"));
    query.addBindValue(name);
    query.addBindValue(added.yzdId);
    query.addBindValue(fileName);
    query.addBindValue(picture);
    if (!query.exec())
        return failed(query.lastError());
    if (!transaction.commit())
        return failed(transaction.error());
    added.ok = true;
    return added;
}

PackageTypeWrite changePackageType(const Connection& db, qint64 rowId, const QString& name,
                                   const std::optional<TypePicture>& picture)
{
    PackageTypeWrite changed;
    if (!mayWrite(db, changed))
        return changed;
    db.aboutToWrite();
    QSqlQuery query(db.connection());
    if (picture) {
        query.prepare(
            QStringLiteral("UPDATE vrYZD SET vrachYZD = ?, name1 = ?, Photo1 = ? WHERE %1 = ?")
                .arg(keyColumn(QStringLiteral("vrYZD"), db.connection())));
        query.addBindValue(name);
        query.addBindValue(picture->fileName);
        query.addBindValue(picture->bytes);
    } else {
        query.prepare(QStringLiteral("UPDATE vrYZD SET vrachYZD = ? WHERE %1 = ?")
                          .arg(keyColumn(QStringLiteral("vrYZD"), db.connection())));
        query.addBindValue(name);
    }
    query.addBindValue(rowId);
    if (!query.exec()) {
        db.noteError(query.lastError());
        changed.error = query.lastError();
    } else if (query.numRowsAffected() != 1) {
        // Another program deleted it: saying "changed" would be a lie.
        changed.reason = QStringLiteral("запись уже удалена");
    } else {
        changed.ok = true;
    }
    return changed;
}

} // namespace tarvik
