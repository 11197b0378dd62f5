#pragma once

#include "store/register/ProgramPaths.h"

#include <optional>

namespace tarvik {

// Before anything opens the register: when base/vorlend.mdb is still an Access file, asks
// whether to bring its data over, and does so with a progress window the user can cancel.
// Returns the exit code when the program must end (No, cancel, failure, an Access format
// that cannot be read), nothing when the register is ready to be opened as usual.
std::optional<int> bringOverAccessRegister(const ProgramPaths& paths);

} // namespace tarvik
