// KestCString against plain baselines. Each benchmark times its subject and its baseline in the
// same iterations and reports the subject's time per iteration (manual time) with counters for
// the baseline's time and the ratio subject / baseline. Nothing here asserts on time.
#include "text/KestCString.h"

#include "Paired.h"
#include "Simulation.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Japanese-looking text: double-byte characters of code page 932 between runs of ASCII.
KestCString mixedText(std::size_t bytes)
{
    std::string text;
    text.reserve(bytes + 2);
    while (text.size() < bytes) {
        text += "ab\x82\xa0"
                "cd\x83\x5c";
    }
    text.resize(bytes);
    return KestCString(text);
}

// getLength of a long text under code page 932 (double-byte pairs are skipped) against the same text under code page
// 1252.
void getLengthDoubleByteVsSingleByte(benchmark::State& state)
{
    sim::reset();
    sim::setJournal(false);  // time the library, not the model's bookkeeping
    const KestCString text = mixedText(static_cast<std::size_t>(state.range(0)));
    Pair pair;
    for (auto _ : state) {
        sim::setCodePage(932);
        auto start = Clock::now();
        benchmark::DoNotOptimize(text.getLength());
        const double subject = secondsSince(start);

        sim::setCodePage(1252);
        start = Clock::now();
        benchmark::DoNotOptimize(text.getLength());
        pair.baseline += secondsSince(start);

        pair.subject += subject;
        state.SetIterationTime(subject);
    }
    pair.report(state, "cp1252");
}
BENCHMARK(getLengthDoubleByteVsSingleByte)->Arg(1 << 10)->Arg(1 << 14)->UseManualTime();

// find of a text near the end under code page 932 against std::string::find of the same bytes.
void findDoubleByteVsByteSearch(benchmark::State& state)
{
    sim::reset();
    sim::setJournal(false);  // time the library, not the model's bookkeeping
    KestCString text = mixedText(static_cast<std::size_t>(state.range(0)));
    text += ".log";
    Pair pair;
    for (auto _ : state) {
        sim::setCodePage(932);
        auto start = Clock::now();
        benchmark::DoNotOptimize(text.find(".log"));
        const double subject = secondsSince(start);

        start = Clock::now();
        benchmark::DoNotOptimize(text.std::string::find(".log"));
        pair.baseline += secondsSince(start);

        pair.subject += subject;
        state.SetIterationTime(subject);
    }
    pair.report(state, "stdfind");
}
BENCHMARK(findDoubleByteVsByteSearch)->Arg(1 << 10)->Arg(1 << 14)->UseManualTime();

// formatV of a long text (measured first, then written into a string of its own) against
// snprintf of the same text into a fixed buffer that is large enough.
void formatLongTextVsFixedBuffer(benchmark::State& state)
{
    const std::string part(static_cast<std::size_t>(state.range(0)), 'x');
    std::vector<char> fixed(part.size() + 64);
    KestCString text;
    Pair pair;
    for (auto _ : state) {
        auto start = Clock::now();
        text.format("%s-%d-%s", part.c_str(), 42, "tail");
        benchmark::DoNotOptimize(text.data());
        const double subject = secondsSince(start);

        start = Clock::now();
        std::snprintf(fixed.data(), fixed.size(), "%s-%d-%s", part.c_str(), 42, "tail");
        benchmark::DoNotOptimize(fixed.data());
        pair.baseline += secondsSince(start);

        pair.subject += subject;
        state.SetIterationTime(subject);
    }
    pair.report(state, "snprintf");
}
BENCHMARK(formatLongTextVsFixedBuffer)->Arg(200)->Arg(10000)->UseManualTime();

}  // namespace
