#include "service/CompressCommand.h"

#include "gui/MessageBox.h"
#include "gui/ProgramEnd.h"
#include "gui/WaitCursor.h"
#include "store/register/Compaction.h"
#include "store/register/Register.h"

namespace tarvik {

void compressRegister(QWidget* parent, Register& reg)
{
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
