#pragma once

#include <time.h>

#include <algorithm>
#include <vector>

namespace orvel::bench {

// What a benchmark prints of its samples.
struct Figures {
    double median = 0;
    double p95 = 0;
    double max = 0;
};

// The median, 95th percentile and largest of `samples`; all zero for none.
inline Figures summarise(std::vector<double> samples) {
    if (samples.empty()) {
        return {};
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2],
            samples[std::min(samples.size() - 1, samples.size() * 95 / 100)], samples.back()};
}

// CPU time of the calling thread so far, in microseconds: what a step costs, not how long the
// shared machine made it wait.
inline double threadMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// The thread CPU time of one run of `step`, in microseconds.
template <class Step>
double micros(Step step) {
    const double start = threadMicros();
    step();
    return threadMicros() - start;
}

}  // namespace orvel::bench
