#include "app/CommandLine.h"
#include "app/Startup.h"
#include "store/register/Platform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    tarvik::platform::prepareHeap(); // first, so the window is built on the heap it sets up
    if (const std::optional<int> exitCode = tarvik::runCommandLine(argc, argv))
        return *exitCode;
    QApplication app(argc, argv);
    tarvik::prepareApplication(app);
    return tarvik::runProgram(app, tarvik::ProgramPaths::ofExecutable());
}
