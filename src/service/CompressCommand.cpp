#include "service/CompressCommand.h"

#include "app/MessageBox.h"
#include "app/ProgramEnd.h"
#include "app/WaitCursor.h"
#include "store/Compaction.h"
#include "store/Register.h"

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
