#include "store/records/PartImport.h"

#include "store/records/Statements.h"
#include "store/register/Dialect.h"
#include "store/register/NameKeys.h"
#include "store/text/CsvFormula.h"
#include "store/text/CsvReader.h"

#include <QSet>
#include <QSqlQuery>

#include <algorithm>

namespace tarvik {
namespace {

constexpr int kSlice = 100;

// The columns' places in a row of the file, -1 where the file has none.
struct ColumnPlaces {
    int name = -1;
    int package = -1;
    int price = -1;
    int quantity = -1;
    int notes = -1;
};

QString fieldAt(const QStringList& fields, int place)
{
    return place < 0 ? QString() : unguardFormula(fields.at(place));
}

} // namespace

const QStringList& partCsvColumns()
{
    static const QStringList columns{
        QStringLiteral("Наименование"), QStringLiteral("Корпус"),
        QStringLiteral("Цена"),         QStringLiteral("Количество"),
        QStringLiteral("Стоимость"),    QStringLiteral("Доп. информация"),
    };
    return columns;
}

bool findStoredNames(const QSqlDatabase& db, const QStringList& names, bool lock,
                     QHash<QString, StoredName>& found, QSqlError* error)
{
    const Engine engine = engineOf(db);
    const QString key = keyColumn(QStringLiteral("client"), engine);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    for (qsizetype start = 0; start < names.size(); start += kSlice) {
        const QStringList slice = names.mid(start, kSlice);
        query.prepare(QStringLiteral("SELECT %1, idFam FROM client WHERE idFamKey IN (%2) "
                                     "ORDER BY %1%3")
                          .arg(key, Statements::placeholders(slice.size()),
                               lock ? lockForUpdate(engine) : QString()));
        for (const QString& name : slice)
            query.addBindValue(nameKey(name));
        if (!query.exec()) {
            *error = query.lastError();
            return false;
        }
        // Names of the same key in another slice are that slice's to count.
        const QSet<QString> asked(slice.begin(), slice.end());
        while (query.next()) {
            const QString name = query.value(1).toString();
            if (!asked.contains(name))
                continue;
            StoredName& stored = found[name];
            if (stored.count++ == 0)
                stored.id = query.value(0).toLongLong();
        }
        query.finish();
    }
    return true;
}

PartImportPlan planPartImport(const Connection& db, QIODevice& file)
{
    PartImportPlan plan;
    CsvReader reader(file);
    if (!reader.readHeader()) {
        plan.refusal = reader.error().isEmpty()
                           ? QStringLiteral("Файл пуст.")
                           : withDetail(QStringLiteral("Файл не прочитан."), reader.error());
        return plan;
    }
    plan.encoding = CsvReader::encodingName(reader.encoding());
    plan.separator = CsvReader::separatorName(reader.separator());
    const CsvReader::Record& header = reader.header();
    if (!header.problem.isEmpty()) {
        plan.refusal = QStringLiteral("Строка заголовка не прочитана: %1.").arg(header.problem);
        return plan;
    }
    ColumnPlaces places;
    int* const known[] = {&places.name,     &places.package, &places.price,
                          &places.quantity, nullptr,         &places.notes};
    for (int i = 0; i < header.fields.size(); ++i) {
        const QString title = header.fields.at(i).trimmed();
        const auto named = [&title](const QString& known) {
            return known.compare(title, Qt::CaseInsensitive) == 0;
        };
        const auto found = std::find_if(partCsvColumns().begin(), partCsvColumns().end(), named);
        const qsizetype column =
            found == partCsvColumns().end() ? -1 : found - partCsvColumns().begin();
        if (column < 0) {
            plan.unknownColumns << header.fields.at(i);
        } else if (int* place = known[column]) {
            if (*place >= 0)
                plan.unknownColumns << header.fields.at(i); // a second column of that name
            else
                *place = i;
        }
    }
    if (places.name < 0) {
        plan.refusal = QStringLiteral("В файле нет столбца «Наименование»: в первой строке "
                                      "должны стоять названия столбцов.");
        return plan;
    }

    const qsizetype columns = header.fields.size();
    CsvReader::Record record;
    while (reader.next(record)) {
        QString reason = record.problem;
        if (reason.isEmpty() && record.fields.size() != columns)
            reason = QStringLiteral("полей %1, а столбцов в заголовке %2")
                         .arg(record.fields.size())
                         .arg(columns);
        ImportedPart row;
        row.line = record.line;
        if (reason.isEmpty()) {
            row.part.idFam = fieldAt(record.fields, places.name);
            row.part.datebir = fieldAt(record.fields, places.package);
            row.part.pol = fieldAt(record.fields, places.price);
            row.part.phone = fieldAt(record.fields, places.quantity);
            row.part.sorp = fieldAt(record.fields, places.notes);
            if (row.part.idFam.isEmpty())
                reason = QStringLiteral("пустое наименование");
        }
        if (!reason.isEmpty())
            plan.bad << BadImportRow{record.line, reason};
        else
            plan.rows << row;
    }
    if (!reader.error().isEmpty()) {
        plan.refusal = withDetail(QStringLiteral("Файл не прочитан до конца."), reader.error());
        return plan;
    }

    QStringList names;
    QSet<QString> seen;
    for (const ImportedPart& row : plan.rows) {
        if (!seen.contains(row.part.idFam)) {
            seen.insert(row.part.idFam);
            names << row.part.idFam;
        }
    }
    QHash<QString, StoredName> stored;
    if (!findStoredNames(db.connection(), names, false, stored, &plan.error))
        return plan;
    for (const ImportedPart& row : plan.rows) {
        const StoredName name = stored.value(row.part.idFam);
        if (name.count > 0)
            ++plan.existing;
        if (name.count > 1)
            ++plan.storedTwice;
    }
    return plan;
}

} // namespace tarvik
