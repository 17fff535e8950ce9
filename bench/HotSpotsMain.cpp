// The timing program of the hot spots, for builds without Google Benchmark (the Windows build,
// run under Wine): prints one line per hot spot with both times and the ratio beside its goal.
//
//   qel_hotspots [--seconds S] [FOLDER]    S: time per hot spot (default 1); FOLDER: for the logs
#include "HotSpot.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    double seconds = 1;
    std::string folder = ".";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (!argument.empty() && argument[0] != '-') {
            folder = argument;
        } else {
            std::fprintf(stderr, "usage: qel_hotspots [--seconds S] [FOLDER]\n");
            return 2;
        }
    }
    if (!(seconds > 0)) {
        std::fprintf(stderr, "qel_hotspots: --seconds needs a positive number\n");
        return 2;
    }
    try {
        std::printf("%-28s %14s %14s %8s %8s\n", "hot spot", "library ns", "baseline ns", "ratio", "goal");
        for (const HotSpot& spot : hotSpots(folder)) {
            const HotSpotTiming timing = timeHotSpot(spot, seconds);
            std::printf("%-28s %14.1f %14.1f %7.2fx %6s%.1fx\n", spot.name.c_str(), timing.subjectNs, timing.baselineNs,
                        timing.subjectNs / timing.baselineNs, "<= ", spot.goal);
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qel_hotspots: %s\n", error.what());
        return 1;
    }
    return 0;
}
