// libFuzzer target for reading an Access file: the first page's header, then every table and
// every row through the same reader the import uses, then the text decoders on the raw bytes.
//
// Input: the file's bytes. The reader opens files by name, so each input is written to one
// scratch file per process first. Seed it with tests/data/jet/*.mdb.

#include "store/access/AccessHeader.h"
#include "store/access/AccessRows.h"
#include "store/access/JetText.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QVariant>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

const QString& scratchPath()
{
    static const QString path = QDir::temp().filePath(
        QStringLiteral("fuzz_accessfile.%1.mdb").arg(QCoreApplication::applicationPid()));
    return path;
}

void readEveryRow(tarvik::AccessRowReader& reader)
{
    for (const QString& name : reader.tableNames()) {
        const tarvik::AccessRowReader::Table table = reader.openTable(name);
        if (!table.found)
            continue;
        QVariantList row;
        while (reader.nextRow(row))
            check(row.size() == table.columns.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const tarvik::AccessHeader header = tarvik::parseAccessHeader(bytes);
    if (header.isJet())
        check(header.pageSize == 2048 || header.pageSize == 4096);

    {
        QFile file(scratchPath());
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(bytes) == bytes.size());
    }
    // Start-up hands only what the header calls Jet to the reader; feeding it the rest as
    // well costs nothing and covers a header check that lets something through.
    QString error;
    if (auto reader = tarvik::openAccessFile(scratchPath(), &error))
        readEveryRow(*reader);

    // Decoding never reads past the value, and picture text gives back every byte.
    tarvik::decodeJet4Text(bytes);
    tarvik::decodeJet3Text(bytes);
    QByteArray back;
    check(tarvik::pictureBytes(tarvik::pictureText(bytes), back) && back == bytes);
    return 0;
}
