#include "store/server/ServerCopy.h"

#include "store/register/Connection.h"
#include "store/server/ServerConnection.h"
#include "store/server/ServerRows.h"
#include "store/server/ServerSchema.h"

namespace tarvik {
namespace {

ServerCopyResult copyInto(const QSqlDatabase& file, const QSqlDatabase& server,
                          const CopyControl& control)
{
    RowsToServer rows(file, server, control);
    ServerCopyResult& result = rows.result();
    if (!rows.countFile())
        return result;
    bool holds = false;
    QSqlError error;
    if (!serverHoldsRegister(server, &holds, &error)) {
        rows.failed(QStringLiteral("Сервер не отвечает на вопрос о таблицах"), error);
        return result;
    }
    if (holds) {
        result.error = QStringLiteral("В базе данных на сервере уже есть таблицы базы деталей. "
                                      "Переносят только в пустую базу данных; на сервере "
                                      "ничего не изменено.");
        return result;
    }
    QSqlDatabase db = server;
    if (!db.transaction()) {
        rows.failed(QStringLiteral("Сервер не начинает запись"), db.lastError());
        return result;
    }
    const auto schema = [&](const SchemaResult& made) {
        return made.ok || rows.failed(QStringLiteral("Таблицы на сервере не созданы"), made.error);
    };
    // The triggers come after the rows, so a large register is not counted row by row.
    const bool done = schema(createServerTables(db)) && rows.copyRows() && rows.setNextNumbers() &&
                      rows.setCounters() && schema(createServerTriggers(db)) && rows.check() &&
                      !rows.cancelled();
    if (!done || !db.commit()) {
        if (done)
            rows.failed(QStringLiteral("Сервер не сохранил перенесённое"), db.lastError());
        db.rollback();
        return result;
    }
    result.outcome = ServerCopyResult::Outcome::Copied;
    result.error.clear();
    return result;
}

} // namespace

ServerCopyResult copyRegisterToServer(const QString& registerPath, const ServerAddress& address,
                                      const QString& password, const CopyControl& control)
{
    ServerCopyResult result;
    Connection file;
    const OpenResult opened = file.open(registerPath);
    // A read-only file is copied all the same: it is only read.
    if (!opened.ok() && opened.problem != OpenProblem::ReadOnly) {
        result.error = withDetail(
            QStringLiteral("Файл базы данных «%1» не открывается для переноса.").arg(registerPath),
            engineDetail(opened.detail));
        return result;
    }
    ServerConnection server;
    if (!server.open(address, password)) {
        result.error = server.error();
        return result;
    }
    return copyInto(file.connection(), server.connection(), control);
}

} // namespace tarvik
