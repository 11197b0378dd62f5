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
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
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
