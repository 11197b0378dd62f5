#pragma once

#include <QString>

namespace tarvik {

// What the user did to a part, as the journal puts it down beside each change it makes.
enum class PartAction { Add, Edit, Plus, Minus, Notes, Delete, Undo, Minimum, Import };

// The journal's word for it ("add", "edit", …), as its triggers store it.
QString actionWord(PartAction action);

} // namespace tarvik
