#pragma once

#include "store/register/BackgroundReader.h"
#include "store/search/FoldedNames.h"

#include <memory>

namespace tarvik {

// What a load reads, handed to its thread and read back once the load ended.
struct NameLoad {
    unsigned rowsPerSlice = 32768;
    std::unique_ptr<FoldedNames> names;
    qint64 count = -1;
    bool counted = false;
    bool unusable = false;
};

// A load from a register on a server. True when every name was read.
bool readServerNames(BackgroundReader::Run& run, NameLoad& load);

} // namespace tarvik
