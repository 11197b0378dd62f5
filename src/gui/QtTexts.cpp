#include "gui/QtTexts.h"

#include <cstring>

namespace tarvik {
namespace {

struct Text {
    const char* context;
    const char* source;
    const char16_t* russian;
};

// The file dialog names the type of what it lists through this context, which Qt 6 renamed.
constexpr Text kTexts[] = {
    {"QAbstractFileIconProvider", "Folder", u"Папка"},
    {"QAbstractFileIconProvider", "Drive", u"Диск"},
    {"QAbstractFileIconProvider", "File", u"Файл"},
    {"QAbstractFileIconProvider", "%1 File", u"Файл %1"},
    {"QAbstractFileIconProvider", "Shortcut", u"Ярлык"},
    {"QAbstractFileIconProvider", "Unknown", u"Неизвестный"},
};

} // namespace

QString MissingQtTexts::translate(const char* context, const char* sourceText, const char*,
                                  int) const
{
    if (!context || !sourceText)
        return {};
    for (const Text& text : kTexts) {
        if (std::strcmp(context, text.context) == 0 && std::strcmp(sourceText, text.source) == 0)
            return QString::fromUtf16(text.russian);
    }
    return {};
}

} // namespace tarvik
