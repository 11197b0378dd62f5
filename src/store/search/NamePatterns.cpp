// The copy's answers to patterns: matched on a thread of their own, so that no pattern holds
// up the window, and cancelled by the next search.
#include "store/register/Platform.h"
#include "store/search/NameCopy.h"

#include "store/text/LikePattern.h"

#include <chrono>

namespace tarvik {

struct NameCopy::PatternSearch {
    QString text;
    KeyPattern pattern;
    std::uint64_t epoch = 0;
    std::uint64_t generation = 0;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::optional<QVector<qint64>> rows;
    FoldedNames::Places places;                    // where the rows stand, for the next keystroke
    std::shared_ptr<const PatternSearch> narrowed; // whose rows alone are tried, when set
};

namespace {

// The engine's pattern for the text: the one Statements::partsWithNameLike binds.
KeyPattern patternFor(const QString& text)
{
    return KeyPattern(QStringLiteral("*") + text + QStringLiteral("*"));
}

// Whether every row of `text` is among those of `earlier`, a pattern searched before on the
// same names, or in another form than the program writes.
//
// The text is the earlier one with more characters after it, and the earlier one is a whole
// pattern (valid: no class left open), so the pattern *text* reads as the tokens of *earlier
// followed by those of the characters added, then a star: no token of the earlier text reads
// differently once more follows, as a class ends at its own ']'. A name that matches
// *earlier·more* is some text, then a part matching earlier, then a part matching more*; the
// last two together match *, so the name matches *earlier*. The engine reads a key that is
// not in the program's own form through its folded name, but a pattern that is plain text
// between stars as bytes; such keys are therefore always tried again.
bool narrows(const KeyPattern& earlier, const QString& earlierText, const QString& text)
{
    return earlier.isValid() && text.size() > earlierText.size() && text.startsWith(earlierText);
}

// The rows and places of the second half after those of the first. Places kept for one half
// only are no use: they are dropped, so that they count fewer than the rows.
void joinHalves(QVector<qint64>& rows, FoldedNames::Places& places, const QVector<qint64>& rest,
                const FoldedNames::Places& restPlaces)
{
    const bool complete =
        places.size() == std::size_t(rows.size()) && restPlaces.size() == std::size_t(rest.size());
    rows.append(rest);
    if (complete)
        places.insert(places.end(), restPlaces.begin(), restPlaces.end());
    else
        places.clear();
}

} // namespace

bool NameCopy::startPatternSearch(const QString& text)
{
    cancelPatternSearch();
    if (isPlainText(text) || !text.isValidUtf16())
        return false;
    m_reader.takeEnded();
    if (m_names && !confirmUnchanged())
        dropCopy();
    if (!m_names) {
        startLoading();
        return false;
    }
    auto search = std::make_shared<PatternSearch>();
    search->text = text;
    search->pattern = patternFor(text);
    search->epoch = m_epoch;
    search->generation = m_names->generation();
    // Only rows whose places were all kept can be narrowed.
    if (m_found && m_found->epoch == m_epoch && m_found->generation == search->generation &&
        m_found->rows && m_found->places.size() == std::size_t(m_found->rows->size()) &&
        narrows(m_found->pattern, m_found->text, text)) {
        search->narrowed = m_found;
        ++m_searchesNarrowed;
    }
    m_search = search;
    // Nothing changes the names while the thread runs: every change cancels it and waits
    // for it first.
    const FoldedNames* names = m_names.get();
    m_searcher = std::thread([this, search, names, hold = m_holdSearches] {
        // Both cores may be busy matching; the window's thread must still paint and take
        // the next keystroke at once. The second half's thread inherits this.
        platform::lowerThisThreadsPriority();
        while (hold->load() && !search->cancel.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const FoldedNames::Places* among = search->narrowed ? &search->narrowed->places : nullptr;
        if (std::thread::hardware_concurrency() < 2) {
            search->rows = names->match(search->pattern, &search->cancel, among, &search->places);
        } else {
            // The second half of the names on a core of its own, joined after the first.
            std::optional<QVector<qint64>> rest;
            FoldedNames::Places restPlaces;
            std::thread second([&] {
                rest = names->match(search->pattern, &search->cancel, among, &restPlaces, {1, 2});
            });
            search->rows =
                names->match(search->pattern, &search->cancel, among, &search->places, {0, 2});
            second.join();
            if (!rest)
                search->rows.reset();
            else if (search->rows)
                joinHalves(*search->rows, search->places, *rest, restPlaces);
        }
        search->narrowed.reset(); // searches would otherwise hold all their forerunners
        if (!search->rows)
            ++m_searchesCancelled;
        search->done.store(true);
        QMetaObject::invokeMethod(
            this, [this, search] { takePatternResult(search); }, Qt::QueuedConnection);
    });
    return true;
}

void NameCopy::cancelPatternSearch()
{
    if (m_search)
        m_search->cancel.store(true);
    m_search.reset();
    if (m_searcher.joinable())
        m_searcher.join();
}

void NameCopy::waitForSearch()
{
    if (m_searcher.joinable())
        m_searcher.join();
}

bool NameCopy::isSearching() const
{
    return m_search && !m_search->done.load();
}

void NameCopy::takePatternResult(const std::shared_ptr<PatternSearch>& search)
{
    // A newer search, or names changed since: this result answers nobody.
    if (search != m_search || !search->rows || search->epoch != m_epoch || !m_names ||
        m_names->generation() != search->generation)
        return;
    if (m_searcher.joinable())
        m_searcher.join(); // done: only its last instructions may still run
    m_search.reset();
    m_found = search;
    emit patternFound(search->text);
}

std::optional<QVector<qint64>> NameCopy::findPattern(const QString& text)
{
    if (m_found && m_found->text == text && m_found->epoch == m_epoch &&
        m_found->generation == m_names->generation())
        return m_found->rows;
    m_found.reset();
    return m_names->match(patternFor(text));
}

} // namespace tarvik
