#include "store/records/PartWriter.h"

#include "store/register/Dialect.h"
#include "store/text/KontKey.h"
#include "store/text/TextFold.h"

#include <QSet>
#include <QSqlQuery>

// The import's write: many parts in one transaction of the one write path. The rows, the
// transaction and the announcement are PartWriter.cpp's.

namespace tarvik {
namespace {

// Rows written between two reports of the progress.
constexpr qsizetype kRowsPerProgress = 500;

// The package type a part names, as the part dialog finds it: the first type by number whose
// name folds to the same text. Read once, since an import names few types many times.
bool readPackageTypes(const QSqlDatabase& db, QHash<QString, QString>& types, QSqlError* error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT vrachYZD FROM vrYZD ORDER BY %1")
                        .arg(keyColumn(QStringLiteral("vrYZD"), db)))) {
        *error = query.lastError();
        return false;
    }
    while (query.next()) {
        const QString name = query.value(0).toString();
        const QString folded = foldCase(name);
        if (!types.contains(folded))
            types.insert(folded, name);
    }
    return true;
}

} // namespace

PartWrite PartWriter::importParts(const QList<ImportedPart>& parts, ExistingNames existing,
                                  ImportCounts* counts, const ImportProgress& progress)
{
    ImportCounts done;
    const PartWrite result = write(
        NameChange::Op::Unknown, -1, {}, {}, PartAction::Import,
        [&](QSqlQuery&, PartWrite& result) {
            const QSqlDatabase db = m_db.connection();
            QHash<QString, StoredName> storedNames;
            if (existing != ExistingNames::Add) {
                QStringList names;
                QSet<QString> seen;
                for (const ImportedPart& row : parts) {
                    if (!seen.contains(row.part.idFam)) {
                        seen.insert(row.part.idFam);
                        names << row.part.idFam;
                    }
                }
                if (!findStoredNames(db, names, existing == ExistingNames::Update, storedNames,
                                     &result.error))
                    return false;
            }
            QHash<QString, QString> types;
            if (!readPackageTypes(db, types, &result.error))
                return false;

            const My::RandomSource random = My::clockSeededRandom();
            QSqlQuery insert(db);
            QSqlQuery update(db);
            bool insertReady = false;
            bool updateReady = false;
            qsizetype rowsDone = 0;
            for (const ImportedPart& row : parts) {
                if (progress && rowsDone % kRowsPerProgress == 0 && !progress(rowsDone))
                    return false;
                ++rowsDone;
                const auto found = storedNames.constFind(row.part.idFam);
                const bool known = found != storedNames.constEnd();
                if (known && existing == ExistingNames::Skip) {
                    ++done.skipped;
                    continue;
                }
                if (known && existing == ExistingNames::Update) {
                    if (!updateReady) {
                        updateReady = update.prepare(
                            QStringLiteral("UPDATE client SET pol = ?, phone = ? WHERE %1 = ?")
                                .arg(keyColumn(QStringLiteral("client"), db)));
                        if (!updateReady)
                            return result.error = update.lastError(), false;
                    }
                    update.addBindValue(row.part.pol);
                    update.addBindValue(row.part.phone);
                    update.addBindValue(found->id);
                    if (!update.exec())
                        return result.error = update.lastError(), false;
                    ++done.updated;
                    continue;
                }
                PartRow part = row.part;
                part.kont = My::kontKey(part.idFam, random);
                part.PhotoN = types.value(foldCase(part.datebir));
                const QVariantMap values = stored(part.fields());
                if (!insertReady) {
                    insertReady = insert.prepare(insertSql(values.keys()));
                    if (!insertReady)
                        return result.error = insert.lastError(), false;
                }
                for (const QVariant& value : values)
                    insert.addBindValue(value);
                if (!insert.exec())
                    return result.error = insert.lastError(), false;
                insert.finish();
                ++done.added;
            }
            return true;
        });
    if (counts && result.saved())
        *counts = done;
    return result;
}

} // namespace tarvik
