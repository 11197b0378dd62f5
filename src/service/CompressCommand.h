#pragma once

class QWidget;

namespace tarvik {

class Register;

// The "Сжать базу" command: compacts the register and ends the program, whether or not the
// compaction succeeded. A failure is said in one message before the end; success says nothing.
void compressRegister(QWidget* parent, Register& reg);

} // namespace tarvik
