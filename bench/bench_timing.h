// Clocks and the median-of-repetitions timer the benchmarks share. Header only: each
// benchmark is its own executable.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace bench {

// Processor time of the whole process (driver threads included): the machine is shared, so
// wall time would mostly measure the neighbours.
inline double processMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Processor time of the calling thread alone: with work handed to other threads, the main
// thread's share is the load's critical path when the machine is shared.
inline double threadMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Wall time, for work that waits on the kernel (file reads) rather than computing.
inline double wallMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Median milliseconds of run() over repetitions, on the given clock.
template <typename F> double medianMs(int repetitions, F&& run, double (*clock)() = processMs) {
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const double start = clock();
        run();
        times.push_back(clock() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace bench
