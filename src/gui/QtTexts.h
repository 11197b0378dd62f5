#pragma once

#include <QTranslator>

namespace tarvik {

// Russian for the few texts of Qt's own that its Russian translation lacks, such as the type
// "Folder" in the file dialog's list. Installed before Qt's translation, so that a
// translation that has them wins.
class MissingQtTexts : public QTranslator {
    Q_OBJECT

public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override;
    bool isEmpty() const override { return false; }
};

} // namespace tarvik
