#pragma once

#include <QStringList>
#include <QUrl>

#include <functional>

namespace tarvik {

// What the program hands to the operating system: other programs and addresses. Both go
// through here so tests can stand in for the desktop.
class Shell {
public:
    enum class Start { Started, NotFound, Failed };
    using ProgramStarter = std::function<Start(const QString& program, const QStringList& args)>;
    using UrlOpener = std::function<bool(const QUrl& url)>;

    // Starts `program` on its own, without waiting for it.
    static Start startDetached(const QString& program, const QStringList& arguments);

    // Hands the address to the desktop's default handler (browser, mail program).
    static bool openUrl(const QUrl& url);

    // Test seams; an empty function restores the real one.
    static void setProgramStarter(ProgramStarter starter);
    static void setUrlOpener(UrlOpener opener);
};

} // namespace tarvik
