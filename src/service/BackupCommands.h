#pragma once

class QString;
class QWidget;

namespace tarvik {

class Register;

// "Резервная копия…": a copy of the register now, to a file the user names (the dialog asks
// before replacing one), on either back end; says where it went or why not.
void writeBackupNow(QWidget* parent, Register& reg, const QString& registerPath);

// "Восстановить из копии…": the user picks a copy (the dialog opens in base/backup), sees its
// dates and counts and confirms; the register as it is is kept in base/backup, the copy takes
// its place, and the program ends, as after a compaction. A copy that fails its check is
// refused and nothing changes. A register on a server is not restored from here.
void restoreFromBackup(QWidget* parent, Register& reg, const QString& registerPath);

} // namespace tarvik
