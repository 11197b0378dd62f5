// Compacts the register at the given path, as the program's "Сжать базу" does, for the crash
// test: it kills this process at random moments. With --repeat it compacts again and again
// until killed, so every kill lands inside a compaction rather than in start-up.
#include "store/register/Compaction.h"
#include "store/register/Register.h"

#include <QCoreApplication>

#include <cstdio>

using namespace tarvik;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s REGISTER [--repeat]\n", argv[0]);
        return 2;
    }
    const bool repeat = args.contains(QStringLiteral("--repeat"));
    std::printf("ready\n");
    std::fflush(stdout);
    do {
        Register reg(args.at(1));
        reg.check(); // open as the program does, so there is a connection to close
        const CompactionResult result = compactRegister(reg);
        if (!result.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(describeCompactionFailure(reg.path(), result)));
            return 1;
        }
        std::printf("compacted\n");
        std::fflush(stdout);
    } while (repeat);
    return 0;
}
