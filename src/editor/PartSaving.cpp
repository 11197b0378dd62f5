#include "editor/PartSaving.h"

#include "store/records/RecordSource.h"
#include "store/records/Statements.h"

namespace tarvik {

PartSaved savePartListedByName(RecordSource& parts, const PartRow& part,
                               const std::optional<PartRow>& expected)
{
    PartSaved saved;
    bool stored = false;
    if (!expected) {
        stored = parts.addNew(part.fields());
    } else {
        switch (parts.updateCurrentIf(expected->fields(), part.fields(), PartAction::Edit)) {
        case RecordSource::Replaced::Saved:
            stored = true;
            break;
        case RecordSource::Replaced::ChangedElsewhere:
            // The list has read the row again: it is what the file holds now.
            saved.outcome = PartSaved::Outcome::ChangedElsewhere;
            saved.storedNow = parts.currentPart();
            return saved;
        case RecordSource::Replaced::Failed:
            break;
        }
    }
    if (!stored) {
        saved.reason = parts.lastError();
        if (saved.reason.isEmpty())
            saved.reason = parts.isOpen() ? QStringLiteral("нет детали для изменения")
                                          : QStringLiteral("файл базы данных не открыт");
        return saved;
    }
    parts.setStatement(Statements::partsByName());
    parts.refresh();
    saved.outcome = PartSaved::Outcome::Saved;
    return saved;
}

} // namespace tarvik
