// The library's hot spots, each paired with a baseline that does the same work with the standard
// library alone. The same table is timed by Google Benchmark on the host (HotSpotsBench.cpp) and
// by the small timing program of the Windows build (HotSpotsMain.cpp); both print the ratio
// subject / baseline beside its goal. Nothing here asserts on time.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct HotSpot {
    std::string name;
    double goal;                    // the ratio aimed for
    std::function<void()> subject;  // one run of the library's code
    std::function<void()> baseline;
    std::function<void()> between;  // untimed, after each batch: rewinds the log files
};

// The table; log files are written in `folder` (which must exist) and removed with the last copy
// of the table's state.
std::vector<HotSpot> hotSpots(const std::string& folder);

// The number of runs that makes a batch of the subject take about `seconds`.
long batchSize(const HotSpot& spot, double seconds);

struct HotSpotTiming {
    double subjectNs;  // per run, the fastest batch
    double baselineNs;
};

// Batches of the subject and of its baseline, alternating, for about `seconds` in all.
HotSpotTiming timeHotSpot(const HotSpot& spot, double seconds);
