#include "app/Startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    tarvik::prepareApplication(app);
    return tarvik::runProgram(app, tarvik::ProgramPaths::ofExecutable());
}
