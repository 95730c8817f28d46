#pragma once
// Timing helpers for the benchmark programs: run a step many times, print median and p99.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace acerto::bench {

struct Figures {
    double median_ms = 0, p99_ms = 0, min_ms = 0;
};

inline Figures figures_of(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    Figures f;
    f.min_ms = ms.front();
    f.median_ms = ms[ms.size() / 2];
    f.p99_ms = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    return f;
}

// Adds `runs` timings of `step` to `out` (for measurements taken in alternating rounds).
inline void sample(std::vector<double>& out, int runs, const std::function<void()>& step) {
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        step();
        out.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
}

inline Figures measure(int runs, const std::function<void()>& setup, const std::function<void()>& step) {
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        if (setup) setup();
        auto t0 = std::chrono::steady_clock::now();
        step();
        auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return figures_of(std::move(ms));
}

// Prints a step's figures; with a target (ms) above 0, whether its median meets it.
inline void report(const char* what, const Figures& f, double target_ms = 0) {
    if (target_ms <= 0) {
        std::printf("%-58s median %8.3f ms  p99 %8.3f ms\n", what, f.median_ms, f.p99_ms);
        return;
    }
    std::printf("%-58s median %8.3f ms  p99 %8.3f ms  (target <= %.1f ms: %s)\n", what, f.median_ms, f.p99_ms,
                target_ms, f.median_ms <= target_ms ? "met" : "NOT MET");
}

}  // namespace acerto::bench
