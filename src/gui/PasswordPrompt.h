#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace tarvik {

// The one question for a password: a small dialog whose field hides what is typed. The
// answer is handed back and never stored by the dialog.
class PasswordPrompt {
public:
    // Nothing when the user cancelled.
    static std::optional<QString> ask(QWidget* parent, const QString& server);

    // Test seam: the next question is not shown but answered with `password` (nothing: the
    // user cancelled); the servers asked about are recorded.
    static void setNextAnswer(const std::optional<QString>& password);
    static QStringList takeAsked();
};

} // namespace tarvik
