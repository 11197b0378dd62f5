#pragma once

#include "store/server/ServerCopy.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <vector>

namespace tarvik {

struct RowTable;

// The rows of a register file written into a server's register tables, in the caller's
// transaction: what a copy into an empty server database and a restore over a server's
// register share. Every row goes as it is (numbers, NULLs, text in number-looking fields, any
// picture bytes); what was sent is kept to check the server against.
class RowsToServer {
public:
    RowsToServer(const QSqlDatabase& file, const QSqlDatabase& server, const CopyControl& control)
        : m_file(file),
          m_server(server),
          m_control(control)
    {
    }

    // The file's rows counted, and whether it keeps the journal and the minimums.
    bool countFile();
    bool fileHasJournal() const { return m_journal; }
    // The parts, the package types, and with the journal the minimums and its entries.
    bool copyRows();
    // The next number each table gives is where the file's would be.
    bool setNextNumbers();
    // The record count counted afresh; the name-change counter as the file's.
    bool setCounters();
    // The row counts and every picture's length and SHA-256 on the server, against the file.
    bool check();

    bool failed(const QString& what, const QSqlError& error = {});
    bool cancelled();
    ServerCopyResult& result() { return m_result; }
    qint64 parts() const { return m_parts; }
    qint64 types() const { return m_types; }

private:
    struct PictureCheck {
        qint64 id = 0;
        bool isNull = true;
        qint64 length = 0;
        QByteArray sha256;
    };
    bool count(const RowTable& table, qint64* rows);
    bool copy(const RowTable& table, qint64* copied);
    bool prepareInsert(const RowTable& table, int rows, QSqlQuery* statement);
    bool insert(const RowTable& table, QSqlQuery& statement, const QVariantList& values);

    QSqlDatabase m_file;
    QSqlDatabase m_server;
    const CopyControl& m_control;
    ServerCopyResult m_result;
    qint64 m_done = 0;
    qint64 m_inAll = 0;
    qint64 m_parts = 0;
    qint64 m_types = 0;
    std::vector<PictureCheck> m_pictures;
    bool m_journal = false; // the file keeps the journal and the minimums
};

} // namespace tarvik
