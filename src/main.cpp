#include "app/CommandLine.h"
#include "app/Startup.h"
#include "store/register/Platform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    tarvik::platform::prepareHeap(); // before anything allocates
    if (const std::optional<int> exitCode = tarvik::runCommandLine(argc, argv))
        return *exitCode;
    QApplication app(argc, argv);
    tarvik::prepareApplication(app);
    return tarvik::runProgram(app, tarvik::ProgramPaths::ofExecutable());
}
