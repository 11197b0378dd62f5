#include "store/search/NameLoad.h"

#include "store/search/NameCopy.h"

#include "store/records/Statements.h"

#include <QSqlError>
#include <QSqlQuery>

namespace tarvik {
namespace {

std::optional<qint64> serverCounter(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT n FROM clientNameChanges")) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

} // namespace

// On a server: one snapshot (REPEATABLE READ) holds the counter and every name as of
// one moment, and holds up no writer, so the names are read in one statement. The server
// keeps only UTF-8 text, which comes through QString unchanged.
bool readServerNames(BackgroundReader::Run& run, NameLoad& load)
{
    const QSqlDatabase db = run.db.connection();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!run.proceed(0) ||
        !query.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")))
        return false;
    load.counted = true;
    const std::optional<qint64> count = serverCounter(db);
    bool ok = count && query.exec(QStringLiteral("SELECT idnom, idFamKey FROM client WHERE "
                                                 "idFamKey IS NOT NULL ORDER BY ") +
                                  Statements::partsByName().orderBy);
    load.names = std::make_unique<FoldedNames>();
    while (ok && !run.stopping() && query.next()) {
        const QByteArray key = query.value(1).toString().toUtf8();
        load.names->append(query.value(0).toLongLong(), FoldedNames::Kind::Text,
                           {key.constData(), std::size_t(key.size())});
    }
    ok = ok && !run.stopping() && !query.lastError().isValid();
    query.finish();
    query.exec(QStringLiteral("COMMIT"));
    if (!ok) {
        load.names.reset();
        return false;
    }
    load.count = *count;
    load.names->squeeze();
    return true;
}

void NameCopy::followChangesElsewhere()
{
    // The list answers the same announcement by being listed again, which first fills the
    // name keys the other program's rename cleared: looked at after that, the copy is read
    // once with those keys, not once without them and again after they were filled.
    QMetaObject::invokeMethod(this, &NameCopy::readAgainIfChanged, Qt::QueuedConnection);
}

void NameCopy::readAgainIfChanged()
{
    m_reader.takeEnded();
    // A load under way read a snapshot that may predate the change: the next answer's check
    // finds that out.
    if (m_names && !confirmUnchanged()) {
        dropCopy();
        startLoading();
    }
}

} // namespace tarvik
