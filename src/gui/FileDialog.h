#pragma once

#include <QList>
#include <QString>

class QWidget;

namespace tarvik {

// Every file dialog of the program goes through here, so tests can answer the dialogs of
// the real windows and check what was offered, without ever opening one.
class FileDialog {
public:
    struct Asked {
        QString caption;
        QString folder;
        QString filter;
    };

    // The desktop's usual dialog for opening one existing file. Empty when cancelled.
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& folder,
                                   const QString& filter);

    // The desktop's usual dialog for naming a file to write; it asks before replacing one.
    // Empty when cancelled.
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& folder,
                                   const QString& filter);

    // Test seam: the next dialog is not shown but answered with `fileName` (empty: the user
    // cancelled) and recorded.
    static void setNextFileName(const QString& fileName);
    static QList<Asked> takeAsked();
};

} // namespace tarvik
