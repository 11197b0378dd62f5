#include "store/text/SqlFunctions.h"

#include "store/text/LikePattern.h"
#include "store/text/TextFold.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <cstring>
#include <string>

namespace tarvik {
namespace {

sqlite3* handleOf(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

bool sameLibrary(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT sqlite_version()")) || !query.next())
        return false;
    return query.value(0).toString() == QLatin1String(sqlite3_libversion());
}

void foldFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int bytes = sqlite3_value_bytes(argv[0]);
    const QByteArray folded = foldCase(QString::fromUtf8(text ? text : "", bytes)).toUtf8();
    sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

void nameKeyFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int bytes = sqlite3_value_bytes(argv[0]);
    const QByteArray key = nameKeyOf(QString::fromUtf8(text ? text : "", bytes)).toUtf8();
    sqlite3_result_text(context, key.constData(), int(key.size()), SQLITE_TRANSIENT);
}

void deletePattern(void* pattern)
{
    delete static_cast<KeyPattern*>(pattern);
}

const KeyPattern* patternOf(sqlite3_context* context, sqlite3_value* argument)
{
    // The pattern is the same for every row of a statement: compile it once.
    if (auto* cached = static_cast<KeyPattern*>(sqlite3_get_auxdata(context, 0)))
        return cached;
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argument));
    const int bytes = sqlite3_value_bytes(argument);
    auto* compiled = new KeyPattern(QString::fromUtf8(text ? text : "", bytes));
    sqlite3_set_auxdata(context, 0, compiled, deletePattern);
    // NULL when SQLite could not keep it (it has freed it then).
    return static_cast<KeyPattern*>(sqlite3_get_auxdata(context, 0));
}

// The text must be a name key (the key column): then a search for a piece of text can
// be a byte search, several times faster than matching character by character.
void likeFoldedFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    // Like the engines users know: a missing value matches no pattern.
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const KeyPattern* compiled = patternOf(context, argv[0]);
    if (!compiled) {
        sqlite3_result_error_nomem(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    const std::string_view key(text ? text : "", size_t(sqlite3_value_bytes(argv[1])));
    thread_local std::u32string buffer;
    sqlite3_result_int(context, compiled->matches(key, buffer) ? 1 : 0);
}

void keysStep(sqlite3_context* context, int, sqlite3_value** argv)
{
    auto** keys = static_cast<std::string**>(sqlite3_aggregate_context(context, sizeof(void*)));
    if (!keys) {
        sqlite3_result_error_nomem(context);
        return;
    }
    if (!*keys)
        *keys = new std::string;
    const sqlite3_int64 key = sqlite3_value_int64(argv[0]);
    (*keys)->append(reinterpret_cast<const char*>(&key), sizeof key);
}

void keysFinal(sqlite3_context* context)
{
    auto** keys = static_cast<std::string**>(sqlite3_aggregate_context(context, 0));
    if (!keys || !*keys) {
        sqlite3_result_zeroblob(context, 0);
        return;
    }
    sqlite3_result_blob64(context, (*keys)->data(), (*keys)->size(), SQLITE_TRANSIENT);
    delete *keys;
    *keys = nullptr;
}

} // namespace

bool registerSqlFunctions(const QSqlDatabase& db)
{
    sqlite3* handle = handleOf(db);
    if (!handle || !sameLibrary(db))
        return false;
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    return sqlite3_create_function_v2(handle, "tarvik_fold", 1, flags, nullptr, foldFunction,
                                      nullptr, nullptr, nullptr) == SQLITE_OK &&
           sqlite3_create_function_v2(handle, "tarvik_name_key", 1, flags, nullptr, nameKeyFunction,
                                      nullptr, nullptr, nullptr) == SQLITE_OK &&
           sqlite3_create_function_v2(handle, "tarvik_like_folded", 2, flags, nullptr,
                                      likeFoldedFunction, nullptr, nullptr, nullptr) == SQLITE_OK &&
           sqlite3_create_function_v2(handle, "tarvik_keys", 1, SQLITE_UTF8 | SQLITE_INNOCUOUS,
                                      nullptr, nullptr, keysStep, keysFinal, nullptr) == SQLITE_OK;
}

sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    return handleOf(db);
}

bool isReadOnly(const QSqlDatabase& db)
{
    sqlite3* handle = handleOf(db);
    return handle && sqlite3_db_readonly(handle, "main") == 1;
}

} // namespace tarvik
