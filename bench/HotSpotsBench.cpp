// The hot spots under Google Benchmark on the host: each reports the library's and the
// baseline's time per run, their ratio and its goal as counters. The model's
// journal of calls is off, so the library is timed and not the model's bookkeeping.
#include "HotSpot.h"
#include "Paired.h"
#include "Simulation.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

const std::vector<HotSpot>& table()
{
    static const std::vector<HotSpot> spots = hotSpots(std::filesystem::temp_directory_path().string());
    return spots;
}

// The counters come from the fastest batch of each side: other work on the machine only ever
// slows a batch down.
void timeSpot(benchmark::State& state, const HotSpot& spot)
{
    sim::reset();
    sim::setJournal(false);
    const long count = batchSize(spot, 0.0005);
    double subjectBest = 1e300;
    double baselineBest = 1e300;
    for (auto _ : state) {
        auto start = Clock::now();
        for (long i = 0; i < count; ++i) {
            spot.subject();
        }
        const double subject = secondsSince(start);

        start = Clock::now();
        for (long i = 0; i < count; ++i) {
            spot.baseline();
        }
        const double baseline = secondsSince(start);
        spot.between();

        subjectBest = std::min(subjectBest, subject);
        baselineBest = std::min(baselineBest, baseline);
        state.SetIterationTime(subject);
    }
    const double runs = static_cast<double>(count);
    state.counters["library_ns"] = subjectBest / runs * 1e9;
    state.counters["baseline_ns"] = baselineBest / runs * 1e9;
    state.counters["ratio"] = subjectBest / baselineBest;
    state.counters["goal"] = spot.goal;
    sim::setJournal(true);
}

const bool registered = [] {
    for (const HotSpot& spot : table()) {
        benchmark::RegisterBenchmark(("hot/" + spot.name).c_str(), timeSpot, spot)->UseManualTime();
    }
    return true;
}();

}  // namespace
