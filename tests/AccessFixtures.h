#pragma once

#include "store/records/Statements.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariantMap>

namespace tarvik::test {

// The Access registers and their manifests: the small ones carried in tests/data/jet
// (TARVIK_JET_DATA), the 20,000-part register-large from TARVIK_JET_FIXTURES where it is.

QString fixturePath(const QString& name);

bool hasLargeFixture();
extern const char* const kNoLargeFixture;

// Skips the current test (or data row) on a checkout without the large register.
#define TARVIK_SKIP_WITHOUT_LARGE_FIXTURE()                                                        \
    do {                                                                                           \
        if (!::tarvik::test::hasLargeFixture())                                                    \
            QSKIP(::tarvik::test::kNoLargeFixture);                                                \
    } while (false)

struct Manifest {
    QHash<QString, QList<QJsonObject>> rows; // by table: every row as the importer must give it
    qint64 pictureCount = 0;                 // non-empty Photo1 values
    qint64 pictureBytes = 0;
};
Manifest readManifest(const QString& name);

// Compares every field of every row of the register at `path` with the manifest, every
// picture by length and SHA-256, and the derived columns with what they must be derived to.
// Reports through QTest; check QTest::currentTestFailed() afterwards.
void compareWithManifest(const QString& path, const Manifest& manifest);

// Every row of a register's table (client or vrYZD), in the statement's order.
QList<QVariantMap> readTable(const QString& path, const Statement& statement);

QByteArray readAll(const QString& path);
QByteArray fileHash(const QString& path); // empty for a file that cannot be read
bool writeFile(const QString& path, const QByteArray& bytes, bool replace = false);

// An Access file (or its first page) with a database password set / with encrypted pages
// announced, as Access marks them in the header.
QByteArray withPassword(const QByteArray& access);
QByteArray withEncodingKey(const QByteArray& access);

} // namespace tarvik::test
