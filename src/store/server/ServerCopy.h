#pragma once

#include "store/register/ServerAddress.h"

#include <QString>

#include <atomic>
#include <functional>

namespace tarvik {

// Watching and stopping a copy between the register's file and a server. Both are called
// on the copying thread; the flag may be set from any thread.
struct CopyControl {
    std::function<void(qint64 rowsDone, qint64 rowsInAll)> progress;
    const std::atomic<bool>* cancel = nullptr;

    bool cancelled() const { return cancel && cancel->load(); }
};

struct ServerCopyResult {
    enum class Outcome { Copied, Failed, Cancelled };
    Outcome outcome = Outcome::Failed;
    qint64 parts = 0;
    qint64 types = 0;
    qint64 pictures = 0;     // package types with a picture
    qint64 pictureBytes = 0; // their bytes, as checked
    QString error;           // what failed, in the program's words; empty unless Failed

    bool ok() const { return outcome == Outcome::Copied; }
};

// Copies the register file at `registerPath` into the server's database, which must hold no
// register: the tables, indexes and triggers, every row as it is (numbers, NULLs, text in
// number-looking fields, any picture bytes), the counters and the next numbers. Then it
// checks the row counts and every picture's length and SHA-256 on the server against the
// file. One transaction: on failure or cancel the server is left as it was. The file is only
// read. `password` goes to the connection only; empty, ~/.pgpass or PGPASSFILE is used.
ServerCopyResult copyRegisterToServer(const QString& registerPath, const ServerAddress& address,
                                      const QString& password = {},
                                      const CopyControl& control = {});

// Writes the server's register into a new register file at `filePath` (the file's own schema,
// so it opens as any register), from one consistent snapshot of the server. Never replaces
// anything at `filePath`: the rows go into a file of another name in the same folder, which
// takes the name only when complete and checked.
ServerCopyResult copyRegisterFromServer(const ServerAddress& address, const QString& filePath,
                                        const QString& password = {},
                                        const CopyControl& control = {});

} // namespace tarvik
