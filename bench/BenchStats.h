#pragma once
// What every benchmark reports: the middle, the 95th percentile and the worst of its
// timings, and the process's peak memory.

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

// Peak resident memory of this process so far, in kilobytes (Linux reports ru_maxrss so).
inline long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace tarvik::bench
