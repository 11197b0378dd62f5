// Writes register files: the demo register delivered with the program, and large
// synthetic ones for benchmarks. Never touches an existing file.

#include "editor/My.h"
#include "mkdb/PackagePictures.h"
#include "mkdb/SyntheticParts.h"
#include "store/records/Seeding.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>

#include <cstdio>

namespace tarvik {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr qint64 kProgressStep = 100000;

const char kUsage[] = "usage: tarvik-mkdb --demo <demo-parts.tsv> <out.mdb>\n"
                      "       tarvik-mkdb --synthetic <count> <out.mdb> [--seed <number>]\n";

void say(const QString& text)
{
    std::printf("%s\n", qUtf8Printable(text));
    std::fflush(stdout);
}

int failWith(const QString& text)
{
    std::fprintf(stderr, "tarvik-mkdb: %s\n", qUtf8Printable(text));
    return kExitFailure;
}

// The file keeps each part on one line: a note's line breaks and tabs are escaped.
QString unescape(const QString& field)
{
    QString text;
    text.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar c = field[i];
        if (c == QLatin1Char('\\') && i + 1 < field.size()) {
            const QChar escaped = field[i + 1];
            if (escaped == QLatin1Char('n') || escaped == QLatin1Char('t') ||
                escaped == QLatin1Char('\\')) {
                text += escaped == QLatin1Char('n')   ? QLatin1Char('\n')
                        : escaped == QLatin1Char('t') ? QLatin1Char('\t')
                                                      : QLatin1Char('\\');
                ++i;
                continue;
            }
        }
        text += c;
    }
    return text;
}

// Columns are found by their header, so their order in the file is free.
bool readDemoParts(const QString& path, QList<PartRow>& parts, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    const QStringList header = lines.value(0).remove(QChar(0xfeff)).split(QLatin1Char('\t'));
    QHash<QString, qsizetype> column;
    for (const char* name : {"idFam", "pol", "datebir", "phone", "sorp", "PhotoN"}) {
        const qsizetype index = header.indexOf(QLatin1String(name));
        if (index < 0) {
            error =
                QStringLiteral("%1: the header has no column %2").arg(path, QLatin1String(name));
            return false;
        }
        column.insert(QLatin1String(name), index);
    }
    for (qsizetype number = 1; number < lines.size(); ++number) {
        if (lines[number].trimmed().isEmpty())
            continue;
        const QStringList fields = lines[number].split(QLatin1Char('\t'));
        if (fields.size() != header.size()) {
            error = QStringLiteral("%1:%2: %3 fields where the header has %4")
                        .arg(path)
                        .arg(number + 1)
                        .arg(fields.size())
                        .arg(header.size());
            return false;
        }
        const auto field = [&](const char* name) {
            return unescape(fields[column.value(QLatin1String(name))]);
        };
        PartRow part;
        part.idFam = field("idFam");
        part.pol = field("pol");
        part.datebir = field("datebir").toUpper();
        part.phone = field("phone");
        part.sorp = field("sorp");
        part.PhotoN = field("PhotoN");
        if (part.idFam.isEmpty()) {
            error = QStringLiteral("%1:%2: a part without a name").arg(path).arg(number + 1);
            return false;
        }
        parts << part;
    }
    return true;
}

bool makeParentFolder(const QString& path, QString& error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QDir().mkpath(folder))
        return true;
    error = QStringLiteral("cannot create the folder %1").arg(folder);
    return false;
}

bool addPackageTypes(Seeder& seeder, const QList<PackagePicture>& pictures)
{
    for (const PackagePicture& picture : pictures) {
        if (picture.bytes.isEmpty())
            return false;
        if (!seeder.addPackageType(picture.name, picture.fileName, picture.bytes))
            return false;
    }
    return true;
}

int writeDemo(const QString& tsvPath, const QString& outPath)
{
    // The build runs this every time: the file may hold what the user has entered since.
    if (QFileInfo::exists(outPath)) {
        say(QStringLiteral("kept existing %1").arg(outPath));
        return 0;
    }
    QList<PartRow> parts;
    QString error;
    if (!readDemoParts(tsvPath, parts, error) || !makeParentFolder(outPath, error))
        return failWith(error);

    Seeder seeder(outPath);
    const QList<PackagePicture> pictures = commonPackagePictures();
    if (!addPackageTypes(seeder, pictures))
        return failWith(seeder.ok() ? QStringLiteral("a package picture could not be encoded")
                                    : seeder.error());
    for (PartRow& part : parts) {
        part.kont = My::MakeKont(part.idFam);
        if (!seeder.addPart(part))
            return failWith(seeder.error());
    }
    if (!seeder.commit())
        return failWith(seeder.error());
    say(QStringLiteral("wrote %1: %2 package types, %3 parts")
            .arg(outPath)
            .arg(pictures.size())
            .arg(parts.size()));
    return 0;
}

int writeSynthetic(qint64 count, const QString& outPath, quint64 seed)
{
    QString error;
    if (!makeParentFolder(outPath, error))
        return failWith(error);
    QElapsedTimer clock;
    clock.start();

    Seeder seeder(outPath);
    const QList<PackagePicture> pictures = allPackagePictures();
    if (!addPackageTypes(seeder, pictures))
        return failWith(seeder.ok() ? QStringLiteral("a package picture could not be encoded")
                                    : seeder.error());
    SyntheticParts parts(seed);
    for (qint64 i = 1; i <= count; ++i) {
        if (!seeder.addPart(parts.next()))
            return failWith(seeder.error());
        if (i % kProgressStep == 0)
            say(QStringLiteral("  %1 parts").arg(i));
    }
    if (!seeder.commit())
        return failWith(seeder.error());
    say(QStringLiteral("wrote %1: %2 package types, %3 parts, seed %4, in %5 s")
            .arg(outPath)
            .arg(pictures.size())
            .arg(count)
            .arg(seed)
            .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1));
    return 0;
}

int run(QStringList args)
{
    quint64 seed = 1;
    if (const qsizetype at = args.indexOf(QStringLiteral("--seed")); at >= 0) {
        bool ok = false;
        seed = args.value(at + 1).toULongLong(&ok);
        if (!ok)
            return std::fputs(kUsage, stderr), kExitUsage;
        args.remove(at, 2);
    }
    if (args.size() == 3 && args[0] == QStringLiteral("--demo"))
        return writeDemo(args[1], args[2]);
    if (args.size() == 3 && args[0] == QStringLiteral("--synthetic")) {
        bool ok = false;
        const qint64 count = args[1].toLongLong(&ok);
        if (ok && count >= 0)
            return writeSynthetic(count, args[2], seed);
    }
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

} // namespace
} // namespace tarvik

int main(int argc, char* argv[])
{
    // A tool without windows: it must run where there is no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // QPainter needs it to draw text
    return tarvik::run(app.arguments().mid(1));
}
