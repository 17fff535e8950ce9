// What the persisting rule costs: a method body run through persist() against the same body
// called directly, on the normal path (nothing thrown) and on the failure path (an exception
// passing three methods). Ratios only; nothing here asserts on time.
#include "Paired.h"
#include "errors/PersistingRule.h"

using namespace persisting;

namespace {

constexpr int batch = 1000;

constexpr PersistingRule outerRule{"Bench::outer", "Bench", none, checked(), unchecked(), "Unknown exception"};
constexpr PersistingRule middleRule{"Bench::middle", "Bench", none, none, unchecked(), "Unknown exception"};
constexpr PersistingRule innerRule{"Bench::inner", "Bench", none, none, checked(), "Unknown exception"};

[[gnu::noinline]] int plainBody(int value)
{
    benchmark::DoNotOptimize(value);
    return value + 1;
}

[[gnu::noinline]] int guardedBody(int value)
{
    return persist(innerRule, [&] { return plainBody(value); });
}

// The normal path: no exception, so the rule should cost next to nothing.
void persistWithoutExceptionVsDirectCall(benchmark::State& state)
{
    Pair pair;
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < batch; ++i) {
            benchmark::DoNotOptimize(guardedBody(i));
        }
        const double subject = secondsSince(start);

        start = Clock::now();
        for (int i = 0; i < batch; ++i) {
            benchmark::DoNotOptimize(plainBody(i));
        }
        pair.baseline += secondsSince(start);

        pair.subject += subject;
        state.SetIterationTime(subject);
    }
    pair.report(state, "direct");
}
BENCHMARK(persistWithoutExceptionVsDirectCall)->UseManualTime();

[[gnu::noinline]] void raise()
{
    throw EKestException("Bench::inner", "Bench", 1, "raised");
}

// The failure path: three methods under their rules (each adding an entry and copying the
// exception on) against three plain frames that let the same exception pass.
void failureThroughThreeRulesVsPlainUnwinding(benchmark::State& state)
{
    Pair pair;
    for (auto _ : state) {
        auto start = Clock::now();
        try {
            persist(outerRule, [] { persist(middleRule, [] { persist(innerRule, [] { raise(); }); }); });
        } catch (const EKestException& error) {
            benchmark::DoNotOptimize(error.getHistory().size());
        }
        const double subject = secondsSince(start);

        start = Clock::now();
        try {
            [] { [] { [] { raise(); }(); }(); }();
        } catch (const EKestException& error) {
            benchmark::DoNotOptimize(error.getHistory().size());
        }
        pair.baseline += secondsSince(start);

        pair.subject += subject;
        state.SetIterationTime(subject);
    }
    pair.report(state, "plain");
}
BENCHMARK(failureThroughThreeRulesVsPlainUnwinding)->UseManualTime();

}  // namespace
