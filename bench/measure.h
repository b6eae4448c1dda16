// What the end-to-end benchmarks measure with: this process's CPU time and percentiles.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace bench {

inline double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t at =
        std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    return v[at];
}

}  // namespace bench
