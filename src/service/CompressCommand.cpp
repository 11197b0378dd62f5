#include "service/CompressCommand.h"

#include "gui/MessageBox.h"
#include "gui/ProgramEnd.h"
#include "gui/WaitCursor.h"
#include "store/register/Compaction.h"
#include "store/register/Register.h"

namespace tarvik {

void compressRegister(QWidget* parent, Register& reg)
{
    if (reg.onServer()) {
        // No file to compact: the server reclaims its space itself. The program goes on.
        MessageBox::show(parent, QMessageBox::Information, QStringLiteral("Тарвик радиодеталей"),
                         QStringLiteral("База данных хранится на сервере %1. Сервер сам "
                                        "освобождает место и следит за своими файлами: сжимать "
                                        "здесь нечего.")
                             .arg(reg.path()),
                         QMessageBox::Ok);
        return;
    }
    CompactionResult result;
    {
        WaitCursor wait;
        result = compactRegister(reg);
    }
    if (!result.ok())
        MessageBox::show(parent, QMessageBox::Warning, QStringLiteral("Тарвик радиодеталей"),
                         describeCompactionFailure(reg.path(), result), QMessageBox::Ok);
    ProgramEnd::now();
}

} // namespace tarvik
