#pragma once

#include <QElapsedTimer>
#include <algorithm>
#include <vector>

// Machines running these are shared: medians of interleaved runs, and ratios to a floor
// measured beside the code under test, say more than any single time.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

template <class F> double millisecondsOf(F&& run)
{
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e6;
}
