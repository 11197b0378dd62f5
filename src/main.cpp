#include "app/CommandLine.h"
#include "app/Startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    if (const std::optional<int> exitCode = tarvik::runCommandLine(argc, argv))
        return *exitCode;
    QApplication app(argc, argv);
    tarvik::prepareApplication(app);
    return tarvik::runProgram(app, tarvik::ProgramPaths::ofExecutable());
}
