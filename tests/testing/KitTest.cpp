// The kit's checks themselves: a faulty action must fail the fixture and the sweep, each with the
// problem named, and a sound one must pass them.
#include "testing/FailingAllocation.h"
#include "testing/FaultSweep.h"
#include "testing/SessionTest.h"

#include <gtest/gtest-spi.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace kit = qel::testing;

// Sends `type` with a record of its own; a record that cannot be made is asked for once more.
void send(MSIHANDLE session, INSTALLMESSAGE type)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const MSIHANDLE record = MsiCreateRecord(1)) {
            MsiProcessMessage(session, type, record);
            MsiCloseHandle(record);
            return;
        }
    }
}

// Sound: sets OUTPUT through a record it makes and closes, answers 0, or 1603 with a report when
// the installer refuses.
UINT sound(MSIHANDLE session)
{
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        send(session, INSTALLMESSAGE_INFO);
        return ERROR_INSTALL_FAILURE;
    }
    MsiCloseHandle(record);
    if (MsiSetPropertyA(session, "OUTPUT", "done") != ERROR_SUCCESS) {
        send(session, INSTALLMESSAGE_INFO);
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

UINT leavesARecordOpen(MSIHANDLE session)
{
    MsiCreateRecord(1);
    return sound(session);
}

UINT closesTheSession(MSIHANDLE session)
{
    MsiCloseHandle(session);
    return ERROR_SUCCESS;
}

UINT closesARecordTwice(MSIHANDLE session)
{
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiCloseHandle(record);
    MsiCloseHandle(record);
    return sound(session);
}

UINT throwsAcrossTheBoundary(MSIHANDLE session)
{
    sound(session);
    throw std::runtime_error("out of the action");
}

UINT failsWithoutAReport(MSIHANDLE session)
{
    MsiSetPropertyA(session, "OUTPUT", "done");
    return ERROR_INSTALL_FAILURE;
}

// A message to the user is no report of the failure.
UINT warnsThenFailsWithoutAReport(MSIHANDLE session)
{
    send(session, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_WARNING | MB_OKCANCEL));
    return ERROR_INSTALL_FAILURE;
}

UINT answersAnUnknownCode(MSIHANDLE session)
{
    sound(session);
    return 5;
}

// Answers 0 whether or not the property was set.
UINT ignoresARefusal(MSIHANDLE session)
{
    MsiSetPropertyA(session, "OUTPUT", "done");
    return ERROR_SUCCESS;
}

// Its strings are out of LeakSanitizer's sight (their addresses kept disguised) until the test
// frees them, so that the process ends without a leak.
constexpr std::uintptr_t disguise = 0x5a5a5a5a;
std::vector<std::uintptr_t> hidden;

UINT leaksMemory(MSIHANDLE session)
{
    hidden.push_back(reinterpret_cast<std::uintptr_t>(new std::string(64, 'x')) ^ disguise);
    return sound(session);
}

void freeWhatLeaked()
{
    for (const std::uintptr_t address : hidden) {
        delete reinterpret_cast<std::string*>(address ^ disguise);
    }
    hidden.clear();
}

const kit::ActionWorld world{"World", [](MSIHANDLE) {},
                             [](const kit::FaultSweep::Run& run, UINT answer) {
                                 return answer == ERROR_SUCCESS && sim::property(run.session, "OUTPUT") != "done"
                                            ? "answered 0 without doing its work"
                                            : "";
                             }};

// A world whose setUp sends a report of its own: the installer's, not the action's.
const kit::ActionWorld reportedBefore{"ReportedBefore", [](MSIHANDLE session) { send(session, INSTALLMESSAGE_INFO); },
                                      world.check};

bool mentions(const kit::SweepReport& report, const std::string& problem)
{
    return std::any_of(report.problems.begin(), report.problems.end(),
                       [&](const std::string& found) { return found.find(problem) != std::string::npos; });
}

TEST(FaultSweepKit, ASoundActionHoldsInEveryCase)
{
    const kit::SweepReport report = kit::sweepAction(&sound, world);

    EXPECT_TRUE(report.problems.empty()) << report.problems.front();
    EXPECT_EQ(report.held, report.cases);
    // The clean run, each refusal of its three calls, the second refusals after them and the
    // allocation failures: the sweep did not stop at the clean run.
    EXPECT_EQ(report.calls, 3u);
    EXPECT_GT(report.cases, 4u);
}

TEST(FaultSweepKit, EachFaultOfAnActionIsFoundAndNamed)
{
    struct Case {
        kit::Action action;
        const char* problem;
        const kit::ActionWorld& in = world;
    };
    const Case cases[] = {
        {leavesARecordOpen, "record handles left open"},
        {closesTheSession, "the session was closed"},
        {closesARecordTwice, "closed twice"},
        {throwsAcrossTheBoundary, "an exception left the action"},
        {failsWithoutAReport, "1603 without a report"},
        {warnsThenFailsWithoutAReport, "clean run: the action answered 1603 without a report"},
        {failsWithoutAReport, "clean run: the action answered 1603 without a report", reportedBefore},
        {answersAnUnknownCode, "the action answered 5"},
        {ignoresARefusal, "MsiSetPropertyA #1 -> 6: answered 0 without doing its work"},
    };
    for (const Case& c : cases) {
        const kit::SweepReport report = kit::sweepAction(c.action, c.in);

        EXPECT_LT(report.held, report.cases) << c.problem;
        EXPECT_TRUE(mentions(report, c.problem)) << c.problem;
    }
}

// Whatever platform calls a world's setUp makes, the sweep refuses each call of the code under test
// and nothing else, and each case names the call it refused: here two MsiSetPropertyA calls, each
// setting a property of its own.
TEST(FaultSweepKit, TheRefusedCallIsTheOneNamedWhateverTheSetUpCalled)
{
    const std::vector<std::pair<const char*, kit::FaultSweep::SetUp>> setUps = {
        {"no call", [](MSIHANDLE) {}},
        {"the function swept", [](MSIHANDLE session) { MsiSetPropertyA(session, "INPUT", "1"); }},
        {"other functions",
         [](MSIHANDLE session) {
             char value[8];
             DWORD size = sizeof value;
             MsiGetPropertyA(session, "INPUT", value, &size);
             send(session, INSTALLMESSAGE_INFO);
         }},
    };
    const char* const outputs[] = {"OUTPUT1", "OUTPUT2"};
    auto setsBoth = [&](kit::FaultSweep::Run& run) {
        const std::size_t before = sim::calls("MsiSetPropertyA");
        for (const char* output : outputs) {
            MsiSetPropertyA(run.session, output, "done");
        }
        for (const kit::Fault& fault : run.faults) {
            if (fault.function != "MsiSetPropertyA" ||
                static_cast<std::size_t>(fault.nth) > sim::calls(fault.function) - before) {
                run.problems.push_back("the refused call is none the code made");
            }
        }
        for (int nth = 1; nth <= 2; ++nth) {
            const bool refused = std::any_of(run.faults.begin(), run.faults.end(), [&](const kit::Fault& fault) {
                return fault.function == "MsiSetPropertyA" && fault.nth == nth;
            });
            if (sim::property(run.session, outputs[nth - 1]).empty() != refused) {
                run.problems.push_back(std::string(outputs[nth - 1]) + (refused ? " set" : " not set"));
            }
        }
    };
    for (const auto& [name, setUp] : setUps) {
        const kit::SweepReport report = kit::FaultSweep(name, setUp, setsBoth).sweepingAfterEachRefusal(false).run();

        EXPECT_TRUE(report.problems.empty()) << name << ": " << report.problems.front();
        // The clean run and the two refusals of MsiSetPropertyA at each of its two calls.
        EXPECT_EQ(report.calls, 2u) << name;
        EXPECT_EQ(report.cases, 5u) << name;
    }
}

// Only where LeakSanitizer watches: a leak elsewhere would fail the memory checker's run instead.
TEST(FaultSweepKit, ALeakIsFoundWhereLeakSanitizerWatches)
{
    if (!kit::sweepAction(&sound, world).leaksChecked) {
        GTEST_SKIP() << "no LeakSanitizer in this build";
    }
    hidden.reserve(10000);  // made now: growing inside the action would be an allocation the sweep fails
    const kit::SweepReport report = kit::sweepAction(&leaksMemory, world);
    freeWhatLeaked();
    EXPECT_TRUE(mentions(report, "memory leaked"));
}

// Under AddressSanitizer a nothrow allocation of another allocator than the one delete frees with
// aborts the test; std::stable_sort takes its buffer so.
TEST(FaultSweepKit, NothrowAllocationsAreCountedFailedAndFreedByDelete)
{
    std::vector<int> numbers{3, 1, 2};
    {
        kit::FailingAllocation counting(0);
        ::operator delete(::operator new(8, std::nothrow));
        counting.stop();
        if (counting.counted() == 0) {
            GTEST_SKIP() << "operator new is not the kit's here (valgrind's memcheck puts in its own)";
        }
    }
    kit::FailingAllocation memory(2);
    void* first = ::operator new(8, std::nothrow);
    void* second = ::operator new(8, std::nothrow);
    memory.stop();
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr) << "the second allocation fails, without an exception";
    ::operator delete(first);
    kit::FailingAllocation counting(0);
    std::stable_sort(numbers.begin(), numbers.end());
    counting.stop();
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
}

// The fixture, run by hand around a case body.
class Fixture : public kit::SessionTest {
public:
    void TestBody() override {}
    using SessionTest::SetUp;
    using SessionTest::TearDown;
    MSIHANDLE handle() const { return session; }
};

void around(void (*body)(MSIHANDLE session))
{
    Fixture fixture;
    fixture.SetUp();
    body(fixture.handle());
    fixture.TearDown();
}

TEST(SessionTestKit, ACaseThatLeavesHandlesWrongFails)
{
    EXPECT_NONFATAL_FAILURE(around([](MSIHANDLE) { MsiCreateRecord(1); }), "record handles left open");
    EXPECT_NONFATAL_FAILURE(around([](MSIHANDLE session) { MsiGetActiveDatabase(session); }),
                            "database or view handles left open");
    EXPECT_NONFATAL_FAILURE(around([](MSIHANDLE session) { MsiCloseHandle(session); }), "the session was closed");
    EXPECT_NONFATAL_FAILURE(around([](MSIHANDLE) {
                                const MSIHANDLE record = MsiCreateRecord(1);
                                MsiCloseHandle(record);
                                MsiCloseHandle(record);
                            }),
                            "closed twice");
}

TEST(SessionTestKit, TheInstallersPendingErrorRecordIsNoLeftover)
{
    around([](MSIHANDLE session) {
        EXPECT_NE(session, 0u);
        EXPECT_TRUE(sim::handleInfo(session)->open);
        sim::setPendingErrorRecord({std::string("[1]"), 2228});
    });
}

}  // namespace
