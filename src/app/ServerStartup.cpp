#include "app/ServerStartup.h"

#include "gui/MessageBox.h"
#include "gui/PasswordPrompt.h"
#include "store/register/ServerAddress.h"

namespace tarvik {
namespace {

const QString kTitle = QStringLiteral("Тарвик радиодеталей");

void tellAndEnd(const QString& sentence)
{
    MessageBox::show(nullptr, QMessageBox::Warning, kTitle,
                     sentence + QStringLiteral(" Программа будет закрыта."), QMessageBox::Ok);
}

} // namespace

std::unique_ptr<Register> chooseRegister(const ProgramPaths& paths)
{
    const ServerChoice choice = readServerChoice(paths.databasePath());
    if (!choice.error.isEmpty()) {
        tellAndEnd(choice.error);
        return nullptr;
    }
    if (!choice.server)
        return std::make_unique<Register>(paths.databasePath());

    auto reg = std::make_unique<Register>(*choice.server);
    OpenResult opened = reg->check();
    if (opened.problem == OpenProblem::NoPassword) {
        const std::optional<QString> password = PasswordPrompt::ask(nullptr, reg->path());
        if (!password)
            return nullptr;
        reg->setPassword(*password);
        opened = reg->check();
    }
    // Other problems (no tables, read only) are the window's to tell, as for a file.
    if (opened.problem == OpenProblem::Unreachable || opened.problem == OpenProblem::NoPassword) {
        tellAndEnd(reg->describeProblem(opened));
        return nullptr;
    }
    return reg;
}

} // namespace tarvik
