// Another computer at work: opens the register on the server given by its address and adds
// one to the quantity of one part COUNT times, as the main window's "+" does (the quantity
// shown, stored only if the server still holds it). A "+" refused because the other computer
// changed the quantity meanwhile is pressed again on what is now shown, as the user would.
#include "store/records/RecordSource.h"
#include "store/records/Statements.h"
#include "store/register/Register.h"
#include "store/register/ServerAddress.h"

#include <QCoreApplication>

#include <cstdio>

using namespace tarvik;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: %s SERVER-URI PART-ID COUNT\n", argv[0]);
        return 2;
    }
    const ParsedServerAddress address = parseServerAddress(args.at(1));
    const qint64 id = args.at(2).toLongLong();
    const int count = args.at(3).toInt();
    if (!address.address)
        return 2;
    Register reg(*address.address);
    if (!reg.check().ok())
        return 3;
    RecordSource parts;
    parts.open(reg);
    parts.setStatement(Statements::partsByName());
    parts.refresh();
    for (int row = 0; row < parts.recordCount() && parts.currentKey() != id; ++row)
        parts.setCurrentRow(row);
    if (parts.currentKey() != id)
        return 4;
    std::printf("ready\n");
    std::fflush(stdout);
    int saved = 0;
    for (int attempt = 0; saved < count && attempt < count * 50; ++attempt) {
        const QString shown = parts.field(QStringLiteral("phone")).toString();
        switch (parts.replaceCurrentIf(QStringLiteral("phone"), shown,
                                       QString::number(shown.toLongLong() + 1), PartAction::Plus)) {
        case RecordSource::Replaced::Saved:
            ++saved;
            break;
        case RecordSource::Replaced::ChangedElsewhere:
            break; // the quantity now stored is shown; pressed again
        case RecordSource::Replaced::Failed:
            if (!parts.lastFailureBusy()) {
                std::fprintf(stderr, "%s\n", qPrintable(parts.lastError()));
                return 5;
            }
            parts.setCurrentRow(parts.currentRow());
            break;
        }
    }
    std::printf("%d\n", saved);
    return saved == count ? 0 : 6;
}
