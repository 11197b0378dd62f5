#pragma once

#include "store/records/PartRow.h"

#include <functional>
#include <optional>

namespace tarvik {

class RecordSource;

// What the owner of a part dialog made of the part handed to it for saving.
struct PartSaved {
    enum class Outcome { Saved, ChangedElsewhere, Failed };
    Outcome outcome = Outcome::Failed;
    QString reason;    // Failed: the program's words, the engine's in brackets
    PartRow storedNow; // ChangedElsewhere: the row as the file holds it now
};

// Stores `part`: a new part when `expected` is empty, otherwise the edited part, written only
// if the stored row still is `expected`. The dialogs hand their part over and never write.
using PartSaver =
    std::function<PartSaved(const PartRow& part, const std::optional<PartRow>& expected)>;

// Saves through the parts' one write path into the part list `parts` (the edited part is its
// current row) and lists every part by name afterwards, as the main window shows them after
// either dialog.
PartSaved savePartListedByName(RecordSource& parts, const PartRow& part,
                               const std::optional<PartRow>& expected);

} // namespace tarvik
