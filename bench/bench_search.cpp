// The quick search at scale: types a fixed list of words into the real main window, key by
// key, and times each keystroke from the key event until the list, the details and the
// record count are updated. Reports the in-memory copy of the names against the engine's
// own search on the same words, right after an own edit, right after another process
// inserts a part, the time from the window being shown until the copy and the stock's
// figures are ready (typing begins then; the day's backup is turned off), wildcard
// patterns typed key by key and one pattern that is slow for any matcher, and memory. For
// the patterns it also reports the longest stall of the window's event loop, as an answer
// worked out off the window's thread only helps if the window keeps answering meanwhile.
//
//   bench_search <program folder with base/vorlend.mdb> [runs] [wildcards]
//
// With "wildcards" only the wildcard patterns are typed. TARVIK_BENCH_TRACE=1 prints each
// wildcard keystroke with its answer, stall and rows.
//
// The register is copied to a temporary folder first: the benchmark writes.
#include "app/Form1.h"
#include "app/Startup.h"
#include "store/records/RecordSource.h"
#include "store/records/Seeding.h"
#include "store/register/Platform.h"
#include "store/register/Register.h"
#include "store/register/ServerAddress.h"
#include "store/search/NameCopy.h"
#include "store/search/StockFigures.h"

#include "AnsweredKeystroke.h"
#include "BenchStats.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarvik;

using namespace tarvik::bench;

namespace {

// The published keystroke list: each word is typed into an emptied box one character at a
// time, so every word gives a one- and a two-character prefix. 114 keystrokes.
const char* const kWords[] = {
    "резистор", "кт315",  "lm317", "к50-35", "stm32f",      "мкф",    "конденсатор",
    "smd 0805", "1n4148", "д/к",   "ом",     "bc857",       "арт. 7", "микросхема",
    "irf",      "кд522",  "ne555", "диод",   "стабилитрон", "z",      "ы",
};

// Wildcard words, each typed key by key into an emptied box.
const char* const kPatterns[] = {"к*35", "?т3", "к#0", "[кр]ез", "lm3?7", "ne5*p", "*"};

// A pattern that keeps a matcher busy on names made to almost match it: every name is
// tried at every bracket.
constexpr int kSlowNames = 100000;
constexpr int kSlowNameLength = 250;
constexpr int kSlowBrackets = 124;

void print(const char* what, const Stats& s, std::size_t n)
{
    std::printf("%-44s median %8.2f  p95 %8.2f  max %8.2f ms  (n=%zu)\n", what, s.median, s.p95,
                s.max, n);
    std::fflush(stdout);
}

double rssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024.0;
    }
    return -1;
}

double peakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

class Bench {
public:
    Bench(Form1& window)
        : m_window(window),
          m_search(window.findChild<QLineEdit*>(QStringLiteral("Text5"))),
          m_grid(window.findChild<QTableView*>(QStringLiteral("TDBGrid2"))),
          m_copy(window.findChild<NameCopy*>(QStringLiteral("partNames"))),
          m_figures(window.findChild<StockFigures*>(QStringLiteral("stockFigures")))
    {
    }

    NameCopy& copy() { return *m_copy; }
    int listed() const { return m_grid->model()->rowCount(); }

    double key(QChar ch)
    {
        return timeMs([&] {
            QTest::sendKeyEvent(QTest::Click, m_search, Qt::Key_unknown, QString(ch),
                                Qt::NoModifier);
        });
    }

    // Every keystroke of every word; the box is emptied between words (which runs no search).
    std::vector<double> typeAll()
    {
        std::vector<double> times;
        for (const char* word : kWords) {
            m_search->clear();
            for (const QChar ch : QString::fromUtf8(word))
                times.push_back(key(ch));
        }
        return times;
    }

    Answer answeredKey(QChar ch)
    {
        return bench::answeredKey(m_search, m_grid->model(), ch, m_stalls);
    }

    // The word typed into an emptied box; adds each keystroke's time, and returns the
    // longest stall and the number of keystrokes that got no answer.
    std::pair<double, int> typeAnswered(const QString& word, std::vector<double>& times)
    {
        m_search->clear();
        double stall = 0;
        int unanswered = 0;
        for (const QChar ch : word) {
            const Answer answer = answeredKey(ch);
            if (m_traced)
                std::printf("    %-12s %8.2f ms  stall %6.2f ms  (%d rows)\n",
                            qPrintable(m_search->text()), answer.ms, answer.stallMs, listed());
            times.push_back(answer.ms);
            stall = std::max(stall, answer.stallMs);
            unanswered += answer.answered ? 0 : 1;
        }
        return {stall, unanswered};
    }

    // All of the text but its last character put in the box without a search, as if typed
    // earlier; the last one then typed as a keystroke.
    Answer lastKeyOf(const QString& text)
    {
        m_search->clear();
        {
            const QSignalBlocker quiet(m_search);
            m_search->setText(text.chopped(1));
        }
        return answeredKey(text.back());
    }

    double typeWord(const QString& word, std::vector<double>* rest = nullptr)
    {
        m_search->clear();
        double first = -1;
        for (const QChar ch : word) {
            const double ms = key(ch);
            if (first < 0)
                first = ms;
            else if (rest)
                rest->push_back(ms);
        }
        return first;
    }

    // The names' copy, the whole list and the stock's figures, which the status line sums
    // for every keystroke: until they are all in, the start's reads share the processors
    // with the search.
    bool waitReady(int timeoutMs = 30000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_copy->isReady() || m_window.Data1()->isLoadingRest() ||
               (m_figures && !m_figures->isReady())) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::usleep(200);
        }
        return true;
    }

private:
    Form1& m_window;
    QLineEdit* m_search;
    QTableView* m_grid;
    NameCopy* m_copy;
    StockFigures* m_figures;
    StallWatch m_stalls;
    // TARVIK_BENCH_TRACE=1 prints every answered keystroke, to find which ones make the tail.
    const bool m_traced = qEnvironmentVariableIntValue("TARVIK_BENCH_TRACE") != 0;
};

// Another process adds a part, through the sqlite3 shell; false when the shell failed.
bool insertElsewhere(const QString& database, const QString& name)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {database});
    if (!shell.waitForStarted(5000))
        return false;
    shell.write(
        QStringLiteral("INSERT INTO client (kont, idFam, pol, datebir, phone, sorp, PhotoN, "
                       "idFamKey) VALUES ('1', '%1', '1', '', '1', '', '', lower('%1'));\n")
            .arg(name)
            .toUtf8());
    shell.closeWriteChannel();
    return shell.waitForFinished(60000) && shell.exitCode() == 0;
}

void turnOffDailyBackups(const ProgramPaths& paths)
{
    QFile settings(serverSettingsPath(paths.databasePath()));
    if (settings.open(QIODevice::WriteOnly))
        settings.write("[backup]\nkeep=0\n");
}

void printStall(double ms, int unanswered)
{
    std::printf("  %-42s %8.2f ms", "longest stall", ms);
    if (unanswered > 0)
        std::printf("  (%d keystrokes not answered within %d s)", unanswered,
                    kAnswerLimitMs / 1000);
    std::printf("\n");
    std::fflush(stdout);
}

// The slow pattern as one keystroke, on a register of its own written into `folder`. The
// window is left open: the run ends without destructors.
void slowPattern(const QString& folder)
{
    QDir(folder).mkpath(QStringLiteral("base"));
    const ProgramPaths paths(folder);
    QElapsedTimer writing;
    writing.start();
    {
        Seeder seeder(paths.databasePath());
        PartRow part;
        part.idFam = QString(kSlowNameLength, QLatin1Char('a'));
        part.pol = part.phone = QStringLiteral("1");
        for (int i = 1; i <= kSlowNames && seeder.ok(); ++i) {
            part.kont = QString::number(i);
            seeder.addPart(part);
        }
        if (!seeder.commit()) {
            std::fprintf(stderr, "the slow pattern's register: %s\n", qPrintable(seeder.error()));
            return;
        }
    }
    const double writtenS = writing.nsecsElapsed() / 1e9;

    auto* reg = new Register(paths.databasePath());
    auto* window = new Form1(paths, *reg);
    auto* bench = new Bench(*window);
    window->show();
    if (!bench->waitReady()) {
        std::fprintf(stderr, "the slow pattern's copy did not get ready\n");
        return;
    }
    const QString pattern = QStringLiteral("[a]").repeated(kSlowBrackets) + QStringLiteral("[b]");
    const Answer answer = bench->lastKeyOf(pattern);
    std::printf("%-44s %8.2f ms  (%d rows)\n", "pathological pattern, last keystroke", answer.ms,
                bench->listed());
    printStall(answer.stallMs, answer.answered ? 0 : 1);
    std::printf("  [a] x %d + [b] over %d names of %d x a; register written in %.1f s\n",
                kSlowBrackets, kSlowNames, kSlowNameLength, writtenS);
    std::fflush(stdout);
}

// Plain words typed key by key, then after own edits and after another process's inserts.
void plainKeystrokes(Form1& window, Bench& bench, const ProgramPaths& paths, int runs)
{
    std::vector<double> all;
    for (int run = 1; run <= runs; ++run) {
        const std::vector<double> times = bench.typeAll();
        all.insert(all.end(), times.begin(), times.end());
        char what[64];
        std::snprintf(what, sizeof what, "keystroke, copy, run %d", run);
        print(what, statsOf(times), times.size());
    }
    print("keystroke, copy, all runs", statsOf(all), all.size());

    // Own edits: a "+" press, then a rename through Data1, then the next keystroke.
    auto* plus = window.findChild<QPushButton*>(QStringLiteral("plus"));
    const int loadsBefore = bench.copy().loadsCompleted();
    std::vector<double> afterEdit, afterEditRest;
    bool editsFound = true;
    for (int i = 0; i < 20; ++i) {
        bench.typeWord(QStringLiteral("кт3"));
        QTest::mouseClick(plus, Qt::LeftButton);
        const QString name = QStringLiteral("Бенч-правка %1 кт3").arg(i);
        window.Data1()->updateCurrent({{QStringLiteral("idFam"), name}}, PartAction::Edit);
        afterEdit.push_back(
            bench.typeWord(QStringLiteral("бенч-правка %1").arg(i), &afterEditRest));
        editsFound = editsFound && bench.listed() == 1;
    }
    print("first keystroke after own edit", statsOf(afterEdit), afterEdit.size());
    print("following keystrokes after own edit", statsOf(afterEditRest), afterEditRest.size());
    std::printf("  renamed parts found: %s; reloads caused: %d\n", editsFound ? "yes" : "NO",
                bench.copy().loadsCompleted() - loadsBefore);

    // Another process inserts a part.
    std::vector<double> afterOther, untilReady;
    bool othersFound = true;
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("zqx внешняя %1").arg(i);
        if (!insertElsewhere(paths.databasePath(), name)) {
            std::fprintf(stderr, "the sqlite3 shell could not insert\n");
            break;
        }
        QElapsedTimer sinceInsert;
        sinceInsert.start();
        std::vector<double> rest;
        afterOther.push_back(bench.typeWord(name, &rest));
        othersFound = othersFound && bench.listed() == 1;
        bench.waitReady();
        untilReady.push_back(sinceInsert.nsecsElapsed() / 1e6);
    }
    print("first keystroke after another process inserts", statsOf(afterOther), afterOther.size());
    print("  from the insert until the copy is ready", statsOf(untilReady), untilReady.size());
    std::printf("  inserted parts found: %s\n", othersFound ? "yes" : "NO");
}

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("TARVIK_BENCH_PLAIN_HEAP"))
        platform::prepareHeap(); // as the program does
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_search <program folder> [runs] [wildcards]\n");
        return 2;
    }
    QApplication app(argc, argv);
    prepareApplication(app);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const bool wildcardsOnly = argc > 3 && qstrcmp(argv[3], "wildcards") == 0;

    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("base"));
    const ProgramPaths source(QString::fromLocal8Bit(argv[1]));
    const ProgramPaths paths(folder.path());
    // The day's copy would start 3 s after the window and take a processor for a second or
    // two; bench_backup measures the window while it runs.
    turnOffDailyBackups(paths);
    if (!QFile::copy(source.databasePath(), paths.databasePath())) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(source.databasePath()));
        return 1;
    }

    Register reg(paths.databasePath());
    Form1 window(paths, reg);
    Bench bench(window);
    const double rssBefore = rssMb();

    QElapsedTimer shown;
    shown.start();
    window.show();
    if (!bench.waitReady()) {
        std::fprintf(stderr, "the copy did not get ready\n");
        return 1;
    }
    const double readyMs = shown.nsecsElapsed() / 1e6;
    const int parts = window.Data1()->recordCount();
    std::printf("parts: %d   byte search: %s   runs: %d\n", parts,
                byteSearch::nameOf(byteSearch::best()), runs);
    std::printf("%-44s %8.1f ms\n", "window shown -> copy and figures ready", readyMs);
    std::printf("%-44s %8.1f MB (%.1f bytes a part); RSS %.1f -> %.1f MB\n", "copy in memory",
                bench.copy().memoryBytes() / 1048576.0,
                double(bench.copy().memoryBytes()) / std::max(parts, 1), rssBefore, rssMb());

    if (!wildcardsOnly)
        plainKeystrokes(window, bench, paths, runs);

    std::vector<double> wildcards;
    for (const char* pattern : kPatterns) {
        const QString word = QString::fromUtf8(pattern);
        std::vector<double> times;
        double stall = 0;
        int unanswered = 0;
        for (int run = 1; run <= runs; ++run) {
            const auto [longest, missing] = bench.typeAnswered(word, times);
            stall = std::max(stall, longest);
            unanswered += missing;
        }
        wildcards.insert(wildcards.end(), times.begin(), times.end());
        print(qPrintable(QStringLiteral("wildcard keystroke \"%1\" (%2 rows)")
                             .arg(word)
                             .arg(bench.listed())),
              statsOf(times), times.size());
        printStall(stall, unanswered);
    }
    print("wildcard keystrokes, all", statsOf(wildcards), wildcards.size());
    if (wildcardsOnly) {
        folder.remove(); // _Exit skips destructors
        std::_Exit(0);
    }

    // The engine's own search on the same words: off the window's thread, so each keystroke
    // counts until its answer is listed.
    window.Data1()->setNameCopy(nullptr);
    std::vector<double> sqlAll;
    double sqlStall = 0;
    for (int run = 1; run <= runs; ++run) {
        std::vector<double> times;
        for (const char* word : kWords)
            sqlStall = std::max(sqlStall, bench.typeAnswered(QString::fromUtf8(word), times).first);
        sqlAll.insert(sqlAll.end(), times.begin(), times.end());
        char what[64];
        std::snprintf(what, sizeof what, "keystroke, engine (SQL), run %d", run);
        print(what, statsOf(times), times.size());
    }
    print("keystroke, engine (SQL), all runs", statsOf(sqlAll), sqlAll.size());
    printStall(sqlStall, 0);

    // Before the slow pattern's own register adds its names.
    std::printf("%-44s %8.1f MB\n", "peak memory (whole run but the slow pattern)", peakMb());
    std::fflush(stdout);
    QTemporaryDir slowFolder;
    slowPattern(slowFolder.path());
    slowFolder.remove();
    folder.remove(); // _Exit skips destructors
    std::_Exit(0);   // skip the exit question
}
