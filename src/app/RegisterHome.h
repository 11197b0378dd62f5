#pragma once

#include "store/register/ProgramPaths.h"

#include <optional>

namespace tarvik {

// Settles where the register lives (ProgramPaths::registerHome) and, in the user's data
// folder `userFolder`, makes it on first start from the bundled demo or empty, saying where.
// Nothing when it could not be made: the user has been told and the program ends.
std::optional<ProgramPaths> settleRegisterHome(const ProgramPaths& program,
                                               const QString& userFolder);

} // namespace tarvik
