#pragma once

#include "store/register/ProgramPaths.h"
#include "store/register/Register.h"

#include <memory>

namespace tarvik {

// The register the program works on: the file, or the server base/tarvik.ini beside it
// names. A server is reached before the window opens; the password is asked for once when
// the server wants one that ~/.pgpass does not hold. Nothing, after the user was told why,
// when the program is to end: the settings cannot be read or the server cannot be reached.
std::unique_ptr<Register> chooseRegister(const ProgramPaths& paths);

} // namespace tarvik
