#include "gui/FileDialog.h"

#include <QFileDialog>

namespace tarvik {
namespace {

QList<QString>& answers()
{
    static QList<QString> queue;
    return queue;
}

QList<FileDialog::Asked>& asked()
{
    static QList<FileDialog::Asked> list;
    return list;
}

} // namespace

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& folder,
                                    const QString& filter)
{
    if (!answers().isEmpty()) {
        asked().append({caption, folder, filter});
        return answers().takeFirst();
    }
    // A filter's description is shown as written, as the system dialog shows it, not
    // followed by its patterns a second time.
    return QFileDialog::getOpenFileName(parent, caption, folder, filter, nullptr,
                                        QFileDialog::HideNameFilterDetails);
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& folder,
                                    const QString& filter)
{
    if (!answers().isEmpty()) {
        asked().append({caption, folder, filter});
        return answers().takeFirst();
    }
    return QFileDialog::getSaveFileName(parent, caption, folder, filter, nullptr,
                                        QFileDialog::HideNameFilterDetails);
}

void FileDialog::setNextFileName(const QString& fileName)
{
    answers().append(fileName);
}

QList<FileDialog::Asked> FileDialog::takeAsked()
{
    return std::exchange(asked(), {});
}

} // namespace tarvik
