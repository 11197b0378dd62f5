#pragma once

#include "store/records/Seeding.h"
#include "store/register/ProgramPaths.h"
#include "store/register/Register.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <functional>
#include <memory>

class QWidget;

namespace tarvik::test {

struct Package {
    QString name;
    QByteArray picture;
};

// A part as tests write it: the fields that matter, the rest filled in.
PartRow part(const QString& name, const QString& price = QStringLiteral("1"),
             const QString& quantity = QStringLiteral("1"), const QString& package = {},
             const QString& notes = {});

// A small picture file of one colour in the given format ("BMP", "JPG", "PNG").
QByteArray picture(const QColor& colour, const char* format = "BMP", int width = 40,
                   int height = 30);

// The child control named `name` of `root`; the test stops when there is none, so a
// renamed control fails loudly instead of as a null dereference.
template <typename T> T* control(const QObject* root, const char* name)
{
    T* widget = root->findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

// Types `text` key by key, as a user would; unlike QTest::keyClicks it takes Cyrillic.
void typeText(QWidget* widget, const QString& text);

// A folder, or a named pipe where the system has them, at `path`; `kind` is "folder" or
// "pipe".
bool makeNonFile(const QString& path, const QString& kind);
// The data rows "folder" and "pipe" (where there are pipes) of columns `kind` and `named`:
// what stands in a file's place, and the words a message names it with.
void nonFileRows(const QString& folderWords, const QString& pipeWords);

// A program folder of its own with a register file in base/.
class TestRegister {
public:
    TestRegister();

    bool write(const QList<PartRow>& parts, const QList<Package>& packages = {});

    ProgramPaths paths() const { return ProgramPaths(m_dir.path()); }
    QString databasePath() const { return paths().databasePath(); }
    QString folder() const { return m_dir.path(); }
    // The owner of the connections the windows under test open on this file.
    Register& owner();

    // Every part in stored order, read through a view of its own.
    QList<QVariantMap> storedParts() const;
    // The names of storedParts().
    QStringList storedNames() const;
    // Runs `change` on the file without the journal's triggers on the parts, as an earlier
    // build wrote, then (with `restore`) puts them back.
    bool withoutJournal(const std::function<void()>& change, bool restore = true);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Register> m_owner;
};

} // namespace tarvik::test
