#pragma once
// What every benchmark reports: the middle, the 95th percentile and the worst of its
// timings, the process's peak memory, and the machine's speed of the moment.

#include <QElapsedTimer>

#include <sys/resource.h>

#include <algorithm>
#include <vector>

namespace tarvik::bench {

struct Stats {
    double median = 0, p95 = 0, max = 0;
};

inline Stats statsOf(std::vector<double> ms)
{
    if (ms.empty())
        return {};
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)], ms.back()};
}

// How long `step` took, in milliseconds.
template <typename F> double timeMs(F&& step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    return timer.nsecsElapsed() / 1e6;
}

// The machine's speed of the moment, for reading the other figures: a fixed loop of 60
// million additions, in milliseconds (17.7 ms on the build machine in a quiet spell). A
// virtual machine can be a third slower for minutes while its host is busy; figures taken
// then are not comparable with figures taken at full speed.
inline double machineLoopMs()
{
    std::vector<double> ms;
    for (int run = 0; run < 3; ++run) {
        ms.push_back(timeMs([] {
            volatile unsigned long sum = 0;
            for (unsigned long i = 0; i < 60'000'000UL; ++i)
                sum = sum + i;
        }));
    }
    return *std::min_element(ms.begin(), ms.end());
}

// Peak resident memory of this process so far, in kilobytes (Linux reports ru_maxrss so).
inline long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace tarvik::bench
