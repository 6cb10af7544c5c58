#pragma once

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

}  // namespace orvel::bench
