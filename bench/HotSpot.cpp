#include "HotSpot.h"

#include "errors/PersistingRule.h"
#include "messages/KestMessageProcessor.h"
#include "text/KestCString.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

// Keeps the optimiser from dropping a result.
volatile long sink = 0;

void keep(long value)
{
    sink = sink + value;
}

constexpr std::size_t kilobyte = 1024;
constexpr std::size_t megabyte = 1024 * 1024;

// Path-like single-byte text ending in ".log".
std::string pathText(std::size_t bytes)
{
    std::string text;
    while (text.size() + 4 < bytes) {
        text += "C:\\Program Files\\Vendor\\Setup\\";
    }
    text.resize(bytes - 4);
    return text + ".log";
}

// Text with double-byte characters of the East Asian code pages between ASCII; in a single-byte
// code page its high bytes are characters of their own.
std::string mixedText(std::size_t bytes)
{
    std::string text;
    while (text.size() < bytes) {
        text += "ab\x82\xa0"
                "cd\x83\x5c";
    }
    text.resize(bytes);
    return text;
}

constexpr PersistingRule outerRule{"Bench::install",        "Bench",
                                   persisting::none,        persisting::checked(),
                                   persisting::unchecked(), "Unknown exception was trapped"};
constexpr PersistingRule innerRule{"Bench::copyFiles",      "Bench",
                                   persisting::none,        persisting::none,
                                   persisting::unchecked(), "Unknown exception was trapped"};

// An exception with three history entries, as a report usually shows it.
EKestException threeEntryException()
{
    try {
        persist(outerRule, [] {
            persist(innerRule,
                    [] { throw EKestException("Bench::copyFile", "Bench", 120, "Function Failed: CopyFile()"); });
        });
    } catch (const EKestException& error) {
        return error;
    }
    return EKestException("Bench::copyFile", "Bench", 120, "not raised");
}

// What the log cases share: a processor logging to one file and a baseline stream on another.
struct LogState {
    std::string subjectPath;
    std::string baselinePath;
    std::ofstream subjectFile;
    std::ofstream baselineFile;
    KestMessageProcessor processor;
    EKestException error = threeEntryException();

    explicit LogState(const std::string& folder)
        : subjectPath(folder + "/qel-bench-subject.log"), baselinePath(folder + "/qel-bench-baseline.log"),
          subjectFile(subjectPath, std::ios::out | std::ios::trunc),
          baselineFile(baselinePath, std::ios::out | std::ios::trunc)
    {
        processor.initialize(subjectFile);
    }
    LogState(const LogState&) = delete;
    LogState& operator=(const LogState&) = delete;

    ~LogState()
    {
        subjectFile.close();
        baselineFile.close();
        std::remove(subjectPath.c_str());
        std::remove(baselinePath.c_str());
    }

    void rewind()
    {
        subjectFile.seekp(0);
        baselineFile.seekp(0);
    }

    // The baseline's line: formatted into a fixed buffer, then written.
    template <class... Arguments>
    void baselineLine(const char* format, Arguments... arguments)
    {
        char line[512];
        const int length = std::snprintf(line, sizeof line, format, arguments...);
        baselineFile.write(line, std::min<std::streamsize>(length, sizeof line - 1));
    }
};

const char* const detail = "copying the installation's files to the target folder";

}  // namespace

std::vector<HotSpot> hotSpots(const std::string& folder)
{
    auto log = std::make_shared<LogState>(folder);
    auto rewind = [log] { log->rewind(); };
    std::vector<HotSpot> spots;

    spots.push_back({"logMessage(format)", 1.3,
                     [log] { log->processor.logMessage("Step %d of %d: %s\n", 7, 12, detail); },
                     [log] { log->baselineLine("Step %d of %d: %s\n", 7, 12, detail); }, rewind});

    spots.push_back({"writeLog", 1.3, [log] { log->processor.writeLog("MSGBOX >>> %s. RESULT = %d.\n", detail, 1); },
                     [log] { log->baselineLine("MSGBOX >>> %s. RESULT = %d.\n", detail, 1); }, rewind});

    // The baseline writes the same five lines from texts it already holds.
    auto history = std::make_shared<EKestHistory>(log->error.getHistory());
    spots.push_back({"exception report", 1.5, [log] { log->processor.logMessage(log->error); },
                     [log, history] {
                         log->baselineLine("Error: %d. %s. %s.\n", 0, "Program Exception", "Unknown exception");
                         log->baselineLine("HISTORY:\n");
                         for (const EKestExceptionInfo& entry : *history) {
                             log->baselineLine("\tT: %s, F: %s, L: %d, C: %s\n", entry.getContext().c_str(),
                                               entry.getFileName().c_str(), entry.getLine(),
                                               entry.getComment().c_str());
                         }
                     },
                     rewind});

    // Into a string that already holds a text, as the baseline writes into a buffer it has.
    auto part = std::make_shared<std::string>(90, 'x');
    auto formattedText = std::make_shared<KestCString>(std::string(100, 'o'));
    spots.push_back({"formatV 100 bytes", 1.5,
                     [part, formattedText] {
                         formattedText->format("%s-%d-%s", part->c_str(), 42, "tail");
                         keep(static_cast<long>(formattedText->size()));
                     },
                     [part] {
                         char text[256];
                         keep(std::snprintf(text, sizeof text, "%s-%d-%s", part->c_str(), 42, "tail"));
                     },
                     [] {}});

    auto path = std::make_shared<KestCString>(pathText(16 * kilobyte));
    spots.push_back({"find 16 KB single-byte", 3.0, [path] { keep(path->find(".log")); },
                     [path] { keep(static_cast<long>(path->std::string::find(".log"))); }, [] {}});

    // Growth: one run on 1 MB against 1024 runs on 1 KB. A linear cost keeps it near 1 (the 1 MB
    // text misses the caches, and formatV gets fresh pages for it); a quadratic one would make it
    // some 1000.
    auto small = std::make_shared<KestCString>(mixedText(kilobyte) + ".log");
    auto large = std::make_shared<KestCString>(mixedText(megabyte) + ".log");
    auto growth = [&spots, small, large](const char* name, long (*run)(const KestCString&)) {
        spots.push_back({name, 4.0, [large, run] { keep(run(*large)); },
                         [small, run] {
                             for (std::size_t i = 0; i < megabyte / kilobyte; ++i) {
                                 keep(run(*small));
                             }
                         },
                         [] {}});
    };
    growth("getLength 1 MB / 1 KB", [](const KestCString& text) -> long { return text.getLength(); });
    growth("byteToCharIndex 1 MB / 1 KB",
           [](const KestCString& text) -> long { return text.byteToCharIndex(static_cast<int>(text.size()) - 1); });
    growth("find 1 MB / 1 KB", [](const KestCString& text) -> long { return text.find(".log"); });
    growth("formatV 1 MB / 1 KB", [](const KestCString& text) -> long {
        KestCString copy;
        copy.format("%s", text.c_str());
        return static_cast<long>(copy.size());
    });
    return spots;
}

namespace {

double secondsOf(const std::function<void()>& run, long count)
{
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        run();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

long batchSize(const HotSpot& spot, double seconds)
{
    long count = 1;
    while (secondsOf(spot.subject, count) < seconds && count < (1L << 24)) {
        spot.between();
        count *= 2;
    }
    spot.between();
    return count;
}

HotSpotTiming timeHotSpot(const HotSpot& spot, double seconds)
{
    // Other work on the machine only ever slows a batch down, so the fastest batch of each side
    // is the best estimate of its cost.
    const long count = batchSize(spot, std::min(seconds / 40, 0.001));
    double subject = 1e300;
    double baseline = 1e300;
    double spent = 0;
    for (int round = 0; round < 5 || spent < seconds; ++round) {
        const double s = secondsOf(spot.subject, count);
        const double b = secondsOf(spot.baseline, count);
        spot.between();
        subject = std::min(subject, s);
        baseline = std::min(baseline, b);
        spent += s + b;
    }
    return {subject / static_cast<double>(count) * 1e9, baseline / static_cast<double>(count) * 1e9};
}
