// Paired timings: a subject and its baseline timed in the same iterations, reported as the
// subject's time per iteration (manual time) with counters for the baseline and the ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Totals of one paired benchmark, turned into counters at the end.
struct Pair {
    double subject = 0;
    double baseline = 0;

    void report(benchmark::State& state, const char* baselineName) const
    {
        const double iterations = static_cast<double>(state.iterations());
        if (iterations == 0 || baseline <= 0) {
            return;
        }
        state.counters[std::string(baselineName) + "_ns"] = benchmark::Counter(baseline / iterations * 1e9);
        state.counters["ratio"] = benchmark::Counter(subject / baseline);
    }
};
