// The hot spots under Google Benchmark on the host: each reports the library's time per run
// (manual time) with counters for the baseline's time, the ratio and its goal. The model's
// journal of calls is off, so the library is timed and not the model's bookkeeping.
#include "HotSpot.h"
#include "Paired.h"
#include "Simulation.h"

#include <filesystem>
#include <memory>

namespace {

const std::vector<HotSpot>& table()
{
    static const std::vector<HotSpot> spots = hotSpots(std::filesystem::temp_directory_path().string());
    return spots;
}

void timeSpot(benchmark::State& state, const HotSpot& spot)
{
    sim::reset();
    sim::setJournal(false);
    const long count = batchSize(spot, 0.0005);
    Pair pair;
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
        // Per run, so that the counters read as times of one run.
        pair.baseline += secondsSince(start) / static_cast<double>(count);
        spot.between();

        pair.subject += subject / static_cast<double>(count);
        state.SetIterationTime(subject);  // of the whole batch: the counters give one run
    }
    pair.report(state, "baseline");
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
