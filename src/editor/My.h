#pragma once

#include "store/text/KontKey.h"

// The part editor's record key for client.kont (store/text/KontKey.h has the rules).
namespace tarvik::My {

// The key for a part's name, drawing from a freshly clock-seeded source.
QString MakeKont(const QString& name);
// The same with the random draw supplied by the caller.
QString MakeKont(const QString& name, const RandomSource& next);

} // namespace tarvik::My
