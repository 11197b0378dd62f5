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

namespace tarvik {
class RecordSource;
}

namespace tarvik::test {

class ScratchServerDatabase;

// The suites run on the register file, and again on the server: ctest's *_server entries set
// TARVIK_TEST_BACKEND=server, and every TestRegister then copies what it writes into a
// database of its own on the test server (TARVIK_TEST_PG) and hands out a register there.
bool onServerBackend();
// A case about the file itself (its bytes, locks, the engine's settings, other programs
// writing it through the file's engine) means nothing on the server: it skips there.
#define TARVIK_FILE_ONLY(why)                                                                      \
    do {                                                                                           \
        if (::tarvik::test::onServerBackend())                                                     \
            QSKIP("about the register file only: " why);                                           \
    } while (false)

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

// A program folder of its own with a register file in base/; on the server back end the
// register is a copy of that file on the test server, and the file itself is gone.
class TestRegister {
public:
    TestRegister();
    ~TestRegister();

    bool write(const QList<PartRow>& parts, const QList<Package>& packages = {});

    ProgramPaths paths() const { return ProgramPaths(m_dir.path()); }
    QString databasePath() const { return paths().databasePath(); }
    QString folder() const { return m_dir.path(); }
    // The owner of the connections the windows under test open on this file.
    Register& owner();
    // Another program's view of the register, or on the server another computer's: a
    // source or a connection of its own, opened by path on the file, on the server's database
    // through a register of its own there.
    OpenResult openView(RecordSource& source);
    OpenResult openView(Connection& db);
    // Runs `sql` as another client would, through the engine's plain connection: the
    // engine's error, empty on success.
    QString runAsOtherClient(const QString& sql);

    // Every part in stored order, read through a view of its own.
    QList<QVariantMap> storedParts() const;
    // The names of storedParts().
    QStringList storedNames() const;
    // Runs `change` on the file without the journal's triggers on the parts, as an earlier
    // build wrote, then (with `restore`) puts them back.
    bool withoutJournal(const std::function<void()>& change, bool restore = true);

private:
    ScratchServerDatabase& server();

    QTemporaryDir m_dir;
    std::unique_ptr<ScratchServerDatabase> m_server; // on the server back end
    std::unique_ptr<Register> m_owner;
    std::unique_ptr<Register> m_elsewhere; // another computer's, on the server
};

} // namespace tarvik::test
