#pragma once
// A keystroke timed until its answer is listed, and how long the window's event loop stood
// still meanwhile: an answer worked out off the window's thread only helps if the window
// keeps answering while it is.

#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace tarvik::bench {

// How long the event loop of this thread went without turning: a 1 ms timer notes the
// largest gap between its ticks. Work done inside one event (a key event that answers
// before it returns) keeps the timer from ticking at all, so the time from the last tick to
// stop() counts as a gap too, as does the time from start() to the first tick.
class StallWatch {
public:
    StallWatch()
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        m_longest = 0;
        m_last = 0;
        m_clock.start();
        m_ticker.start();
    }

    // The longest stall since start(), in milliseconds.
    double stop()
    {
        tick();
        m_ticker.stop();
        return m_longest / 1e6;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }

    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_last = 0, m_longest = 0;
};

// After an answer, the list may change once more (a first screen, then the rest) before
// the keystroke counts as answered.
constexpr int kSettleMs = 30;
constexpr int kAnswerLimitMs = 60000;

struct Answer {
    double ms = 0, stallMs = 0;
    bool answered = false;
};

// `ch` typed into `box`, timed until `list` shows the answer: within the key event when
// the window answers there, otherwise when the list is next reset, however late, with the
// event loop turning meanwhile.
inline Answer answeredKey(QLineEdit* box, QAbstractItemModel* list, QChar ch, StallWatch& stalls)
{
    QElapsedTimer clock;
    qint64 changed = -1;
    QEventLoop wait;
    QTimer settled, limit;
    settled.setSingleShot(true);
    limit.setSingleShot(true);
    QObject::connect(&settled, &QTimer::timeout, &wait, &QEventLoop::quit);
    QObject::connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    const auto listChanged = [&] {
        changed = clock.nsecsElapsed();
        settled.start(kSettleMs);
    };
    const QMetaObject::Connection resets =
        QObject::connect(list, &QAbstractItemModel::modelReset, listChanged);
    const QMetaObject::Connection layouts =
        QObject::connect(list, &QAbstractItemModel::layoutChanged, listChanged);
    stalls.start();
    clock.start();
    QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    const qint64 returned = clock.nsecsElapsed();
    limit.start(kAnswerLimitMs);
    wait.exec();
    Answer answer;
    answer.stallMs = stalls.stop();
    QObject::disconnect(resets);
    QObject::disconnect(layouts);
    answer.answered = changed >= 0;
    answer.ms = std::max(returned, changed) / 1e6;
    return answer;
}

} // namespace tarvik::bench
