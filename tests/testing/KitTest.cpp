// The kit's checks themselves: a faulty action must fail the fixture and the sweep, each with the
// problem named, and a sound one must pass them.
//
// The actions below make their platform calls themselves, so that each fault is exactly the one
// planted. Those that end as the library's actions end run in the action frame and raise their
// failures as the library raises its own.
#include "actions/ActionFrame.h"
#include "errors/Raise.h"
#include "testing/FailingAllocation.h"
#include "testing/FaultSweep.h"
#include "testing/SessionTest.h"

#include <gtest/gtest-spi.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <source_location>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace kit = qel::testing;

constexpr PersistingRule rule("KitTest", "KitTest", persisting::none, persisting::none, persisting::none,
                              persisting::noCatchAll);

// A record of the action's own, closed when it goes.
class Record {
public:
    Record() : handle(MsiCreateRecord(1))
    {
        if (handle == 0) {
            raiseMsiError(rule, failedCall("MsiCreateRecord"), ERROR_FUNCTION_FAILED);
        }
    }
    ~Record() { MsiCloseHandle(handle); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    MSIHANDLE handle;
};

void setProperty(MSIHANDLE session, const char* name, const char* value)
{
    if (const UINT result = MsiSetPropertyA(session, name, value); result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall("MsiSetProperty"), result);
    }
}

std::string property(MSIHANDLE session, const char* name)
{
    char value[64] = {};
    DWORD size = sizeof value;
    if (const UINT result = MsiGetPropertyA(session, name, value, &size); result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall("MsiGetProperty"), result);
    }
    return value;
}

// The path of a file in the temporary folder.
std::string tempFile(const char* name)
{
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH) {
        raiseWinError(rule, failedCall("GetTempPath"));
    }
    return std::string(folder, length) + name;
}

// Sound: sets OUTPUT, after making a record and closing it again.
UINT sound(MSIHANDLE session)
{
    return qel::runAction(
        session, "sound", +[](KestMsiHandle& installation) {
            {
                const Record record;
            }
            setProperty(installation.getMsiHandle(), "OUTPUT", "done");
        });
}

// Sound: two records held at once, as code that fills one record from another holds them.
UINT holdsTwoRecordsAtOnce(MSIHANDLE session)
{
    return qel::runAction(
        session, "holdsTwoRecordsAtOnce", +[](KestMsiHandle& installation) {
            {
                const Record first;
                const Record second;
            }
            setProperty(installation.getMsiHandle(), "OUTPUT", "done");
        });
}

// Sound: looks at the temporary folder and reads a system text, releasing both.
UINT searchesAndReadsASystemText(MSIHANDLE session)
{
    return qel::runAction(
        session, "searchesAndReadsASystemText", +[](KestMsiHandle& installation) {
            WIN32_FIND_DATAA found;
            const HANDLE search = FindFirstFileA(tempFile("*").c_str(), &found);
            if (search == INVALID_HANDLE_VALUE) {
                raiseWinError(rule, failedCall("FindFirstFile"));
            }
            FindClose(search);
            char* text = nullptr;
            if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr) != 0) {
                LocalFree(text);
            }
            setProperty(installation.getMsiHandle(), "OUTPUT", "done");
        });
}

// Sound: fails by design when INPUT is not set, as an action with a missing precondition fails,
// the frame reporting why.
UINT failsWithoutItsInput(MSIHANDLE session)
{
    return qel::runAction(
        session, "failsWithoutItsInput", +[](KestMsiHandle& installation) {
            if (property(installation.getMsiHandle(), "INPUT").empty()) {
                raiseMsiError(rule, "INPUT is not set", ERROR_FUNCTION_FAILED);
            }
        });
}

UINT leavesARecordOpen(MSIHANDLE session)
{
    MsiCreateRecord(1);
    return sound(session);
}

UINT leavesASearchOpen(MSIHANDLE session)
{
    WIN32_FIND_DATAA found;
    FindFirstFileA((sim::tempPath() + "*").c_str(), &found);
    return sound(session);
}

UINT leavesADatabaseOpen(MSIHANDLE session)
{
    MsiGetActiveDatabase(session);
    return sound(session);
}

UINT leavesAViewOpen(MSIHANDLE session)
{
    const MSIHANDLE database = MsiGetActiveDatabase(session);
    MSIHANDLE view = 0;
    MsiDatabaseOpenViewA(database, "SELECT * FROM `Things`", &view);
    MsiCloseHandle(database);
    return sound(session);
}

UINT leavesASystemTextUnfreed(MSIHANDLE session)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    return sound(session);
}

// Sets OUTPUT, whether or not the installer refuses, and gives `answer`: 0 ignores a refusal, 1603
// fails without a report.
template <UINT answer>
UINT setsOutputAndAnswers(MSIHANDLE session)
{
    MsiSetPropertyA(session, "OUTPUT", "done");
    return answer;
}

// An author's stand-in for a call the model lacks, with the refusals its documentation lists.
BOOL WINAPI ExpandArchive(const char* archive)
{
    return sim::standIn<BOOL>("ExpandArchive", [&] { return archive != nullptr ? TRUE : FALSE; });
}
[[maybe_unused]] const bool expandArchiveRefused = [] {
    kit::FaultSweep::setRefusals("ExpandArchive", {{FALSE, ERROR_DISK_FULL}});
    return true;
}();

// Faulty: a refused expansion is answered 0 with the work undone.
UINT takesARefusedExpansionForDone(MSIHANDLE session)
{
    if (ExpandArchive("data.cab")) {
        MsiSetPropertyA(session, "OUTPUT", "done");
    }
    return ERROR_SUCCESS;
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

// A message to the user is no report of the failure.
UINT warnsThenFailsWithoutAReport(MSIHANDLE session)
{
    const MSIHANDLE warning = MsiCreateRecord(1);
    MsiProcessMessage(session, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_WARNING | MB_OKCANCEL), warning);
    MsiCloseHandle(warning);
    return ERROR_INSTALL_FAILURE;
}

// Nor is an informational line of the action's own, sent before a failure it swallows.
UINT sendsALineThenSwallowsAFailure(MSIHANDLE session)
{
    try {
        const Record line;
        MsiRecordSetStringA(line.handle, 0, "[1]");
        MsiRecordSetStringA(line.handle, 1, "Setting OUTPUT");
        MsiProcessMessage(session, INSTALLMESSAGE_INFO, line.handle);
        setProperty(session, "OUTPUT", "done");
        return ERROR_SUCCESS;
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}

// Starts the model over, as a fixture's resetModel() would: a mistake to name, not to stumble over.
UINT resetsTheModel(MSIHANDLE)
{
    sim::reset();
    return ERROR_SUCCESS;
}

// Sets FOUND to whether setup.ini is in the temporary folder. A search the system refused for
// another reason than a missing file fails the action, unless `everyFailureIsMissing`.
template <bool everyFailureIsMissing>
void lookForTheFile(KestMsiHandle& installation)
{
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(tempFile("setup.ini").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    } else if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND && !everyFailureIsMissing) {
        raiseWinError(rule, failedCall("FindFirstFile"), error);
    }
    setProperty(installation.getMsiHandle(), "FOUND", search != INVALID_HANDLE_VALUE ? "1" : "0");
}

UINT looksForTheFile(MSIHANDLE session)
{
    return qel::runAction(session, "looksForTheFile", &lookForTheFile<false>);
}

UINT takesEveryFailedSearchForAMissingFile(MSIHANDLE session)
{
    return qel::runAction(session, "takesEveryFailedSearchForAMissingFile", &lookForTheFile<true>);
}

// Its strings are out of LeakSanitizer's sight (their addresses kept disguised) until the test
// frees them, so that the process ends without a leak.
constexpr std::uintptr_t disguise = 0x5a5a5a5a;
std::vector<std::uintptr_t> hidden;

void leak()
{
    hidden.push_back(reinterpret_cast<std::uintptr_t>(new std::string(64, 'x')) ^ disguise);
}

UINT leaksMemory(MSIHANDLE session)
{
    leak();
    return sound(session);
}

// Leaks only where INPUT is 1 and the installer refuses to set OUTPUT.
UINT leaksOnOnePath(MSIHANDLE session)
{
    return qel::runAction(
        session, "leaksOnOnePath", +[](KestMsiHandle& installation) {
            if (property(installation.getMsiHandle(), "INPUT") == "1" &&
                MsiSetPropertyA(installation.getMsiHandle(), "OUTPUT", "done") != ERROR_SUCCESS) {
                leak();
            }
        });
}

void freeWhatLeaked()
{
    for (const std::uintptr_t address : hidden) {
        delete reinterpret_cast<std::string*>(address ^ disguise);
    }
    hidden.clear();
}

// ---- Worlds --------------------------------------------------------------------------------------

// The work done: OUTPUT set, whenever the action answers 0.
const kit::ActionWorld world{"World", [](MSIHANDLE) {},
                             kit::whenAnswered(ERROR_SUCCESS, kit::propertyIs("OUTPUT", "done"))};

// A world whose setUp sends a report of its own: the installer's, not the action's.
const kit::ActionWorld reportedBefore{"ReportedBefore",
                                      [](MSIHANDLE session) {
                                          const Record report;
                                          MsiProcessMessage(session, INSTALLMESSAGE_INFO, report.handle);
                                      },
                                      world.check};

// The installer holds an error record of its own: no leftover of the action's.
const kit::ActionWorld pendingErrorRecord{"PendingErrorRecord",
                                          [](MSIHANDLE) {
                                              sim::setPendingErrorRecord({std::string("[1]"), 2228});
                                          },
                                          world.check};

// The package has a table of its own.
const kit::ActionWorld withATable{"WithATable",
                                  [](MSIHANDLE session) {
                                      sim::addTable(session, "Things", {{"Thing", "s72"}});
                                      sim::addRow(session, "Things", {"one"});
                                  },
                                  world.check};

// setup.ini is there, and FOUND must say so unless the system said it was missing.
const kit::ActionWorld fileThere{
    "FileThere", [](MSIHANDLE) { std::ofstream(sim::tempPath() + "setup.ini") << "[setup]\n"; },
    kit::whenAnswered(ERROR_SUCCESS, [](const kit::FaultSweep::Run& run) {
        const bool saidMissing = std::any_of(run.faults.begin(), run.faults.end(), [](const kit::Fault& fault) {
            return fault.function == "FindFirstFileA" && fault.refusal.lastError == ERROR_FILE_NOT_FOUND;
        });
        return kit::propertyIs("FOUND", saidMissing ? "0" : "1")(run);
    })};

bool mentions(const std::vector<std::string>& problems, const std::string& problem)
{
    return std::any_of(problems.begin(), problems.end(),
                       [&](const std::string& found) { return found.find(problem) != std::string::npos; });
}

// ---- The fixture, run by hand ------------------------------------------------------------------

class Fixture : public kit::SessionTest {
public:
    void TestBody() override {}
    using SessionTest::resetModel;
    using SessionTest::SetUp;
    using SessionTest::startRow;
    using SessionTest::TearDown;
    MSIHANDLE handle() const { return session; }
};

// The failures the fixture reported around `body`.
template <class Body>
std::vector<::testing::TestPartResult> fixtureFailures(Body&& body)
{
    ::testing::TestPartResultArray results;
    {
        const ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        Fixture fixture;
        fixture.SetUp();
        body(fixture);
        fixture.TearDown();
    }
    std::vector<::testing::TestPartResult> failures;
    for (int i = 0; i < results.size(); ++i) {
        failures.push_back(results.GetTestPartResult(i));
    }
    return failures;
}

// ---- The planted faults, each tried on the fixture and the sweep ----------------------------------

struct Planted {
    const char* name;
    kit::Action action;
    const char* fixtureFinds;  // nullptr: not the fixture's to find in a clean run
    const char* sweepFinds;    // nullptr: a sound action, every case holds
    const kit::ActionWorld& in = world;
};

const Planted planted[] = {
    {"sound", sound, nullptr, nullptr},
    {"two records held at once", holdsTwoRecordsAtOnce, nullptr, nullptr},
    {"the installer's pending error record", sound, nullptr, nullptr, pendingErrorRecord},
    {"a search and a system text, released", searchesAndReadsASystemText, nullptr, nullptr},
    {"a file looked for", looksForTheFile, nullptr, nullptr, fileThere},
    {"a failure by design, reported", failsWithoutItsInput, nullptr, nullptr},
    {"a record left open", leavesARecordOpen, "record handle", "record handle"},
    {"a search left open", leavesASearchOpen, "search handle", "search handle left open"},
    {"a database left open", leavesADatabaseOpen, "database handle", "database handle left open"},
    {"a view left open", leavesAViewOpen, "view handle", "view handle left open", withATable},
    {"a system text never freed", leavesASystemTextUnfreed, "system message buffer", "system message buffer"},
    {"the session closed", closesTheSession, "the session was closed", "the session was closed"},
    {"the model reset", resetsTheModel, "the session was closed", "the session was closed"},
    {"a record closed twice", closesARecordTwice, "closed twice", "closed twice"},
    {"an exception out of the action", throwsAcrossTheBoundary, nullptr, "an exception left the action"},
    {"1603 without a report", setsOutputAndAnswers<ERROR_INSTALL_FAILURE>, nullptr, "1603 without"},
    {"1603 after a warning", warnsThenFailsWithoutAReport, nullptr, "clean run: the action answered 1603 without"},
    {"1603 after the world's report", setsOutputAndAnswers<ERROR_INSTALL_FAILURE>, nullptr,
     "clean run: the action answered 1603 without", reportedBefore},
    {"1603 after a line of its own", sendsALineThenSwallowsAFailure, nullptr,
     "MsiSetPropertyA #1 -> 6: the action answered 1603 without"},
    {"an unknown answer", setsOutputAndAnswers<5>, nullptr, "the action answered 5"},
    {"a refusal ignored", setsOutputAndAnswers<ERROR_SUCCESS>, nullptr,
     "MsiSetPropertyA #1 -> 6: answered 0, but OUTPUT is \"\" rather than \"done\""},
    {"a stand-in's refusal ignored", takesARefusedExpansionForDone, nullptr,
     "ExpandArchive #1 -> 0 (last error 112): answered 0, but OUTPUT is \"\" rather than \"done\""},
    {"a refused search taken for a missing file", takesEveryFailedSearchForAMissingFile, nullptr,
     "FindFirstFileA #1 -> -1 (last error 5): answered 0, but FOUND is \"0\" rather than \"1\"", fileThere},
};

TEST(KitChecks, EachPlantedFaultIsFoundAndNamedAndNoSoundActionIsBlamed)
{
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.name);
        // Run as a whole case, and as the first row of a table case that starts its second row
        // with resetModel(): either way the fixture names what the action left behind.
        auto once = [&](Fixture& fixture) {
            p.in.setUp(fixture.handle());
            try {
                p.action(fixture.handle());
            } catch (const std::exception&) {
                // gtest reports an exception out of a case; the fixture looks at what is left.
            }
        };
        auto firstRow = [&](Fixture& fixture) {
            once(fixture);
            fixture.resetModel();
            sound(fixture.handle());
        };
        for (const auto& failures : {fixtureFailures(once), fixtureFailures(firstRow)}) {
            std::vector<std::string> messages;
            for (const auto& failure : failures) {
                messages.push_back(failure.message());
            }
            if (p.fixtureFinds == nullptr) {
                EXPECT_TRUE(messages.empty()) << "the fixture blamed it: " << messages.front();
            } else {
                EXPECT_TRUE(mentions(messages, p.fixtureFinds)) << "the fixture missed: " << p.fixtureFinds;
            }
        }

        const kit::SweepReport report = kit::sweepAction(p.action, p.in);
        EXPECT_TRUE(report.unlisted.empty()) << "no row of its own for " << report.unlisted.front();
        if (p.sweepFinds == nullptr) {
            EXPECT_TRUE(report.problems.empty()) << "the sweep blamed it: " << report.problems.front();
            EXPECT_EQ(report.held, report.cases);
            EXPECT_GT(report.cases, report.calls);  // the sweep did not stop at the clean run
        } else {
            EXPECT_LT(report.held, report.cases);
            EXPECT_TRUE(mentions(report.problems, p.sweepFinds)) << "the sweep missed: " << p.sweepFinds;
        }
    }
}

// An author's stand-in is journaled and counted by its own name, and refused where a fault is armed
// for it, with the fault's last error.
TEST(KitChecks, AStandInIsJournaledAndRefusedByItsOwnName)
{
    sim::reset();
    EXPECT_TRUE(ExpandArchive("data.cab"));
    sim::failCall("ExpandArchive", 1, FALSE, ERROR_DISK_FULL);
    EXPECT_FALSE(ExpandArchive("data.cab"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(ExpandArchive("data.cab"));
    EXPECT_EQ(sim::calls("ExpandArchive"), 3u);
    EXPECT_EQ(sim::callLog().back(), "ExpandArchive");
}

// A table case whose second row of three leaks: however the rows are started, the failure names
// that row and points at the line that started it, not at the next row's.
TEST(KitChecks, ALeakInATableIsBlamedOnTheRowThatLeaked)
{
    enum class Start { row, namedReset, reset };
    const std::pair<Start, const char*> starts[] = {
        {Start::row, "the row \"second\" left behind: "},
        {Start::namedReset, "the row \"second\" left behind: "},
        {Start::reset, "the row begun here left behind: "},
    };
    for (const auto& [start, blames] : starts) {
        SCOPED_TRACE(blames);
        int leakingLine = 0;
        const auto failures = fixtureFailures([&](Fixture& fixture) {
            for (const char* name : {"first", "second", "third"}) {
                const std::source_location where = std::source_location::current();
                const bool leaks = std::string(name) == "second";
                leakingLine = leaks ? static_cast<int>(where.line()) : leakingLine;
                auto run = [&] { (leaks ? leavesARecordOpen : sound)(fixture.handle()); };
                if (start == Start::row) {
                    const auto row = fixture.startRow(name, where);
                    run();
                } else {
                    start == Start::namedReset ? fixture.resetModel(name, where) : fixture.resetModel(where);
                    run();
                }
            }
        });
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].line_number(), leakingLine);
        EXPECT_NE(std::string(failures[0].message()).find(blames), std::string::npos) << failures[0].message();
    }
}

// Whatever platform calls a world's setUp makes, the sweep refuses each call of the code under test
// and nothing else, and each case names the call it refused: here two MsiSetPropertyA calls, each
// setting a property of its own.
TEST(FaultSweepKit, TheRefusedCallIsTheOneNamedWhateverTheSetUpCalled)
{
    const std::vector<std::pair<const char*, kit::FaultSweep::SetUp>> setUps = {
        {"the function swept", [](MSIHANDLE session) { MsiSetPropertyA(session, "INPUT", "1"); }},
        {"other functions",
         [](MSIHANDLE session) {
             char value[8];
             DWORD size = sizeof value;
             MsiGetPropertyA(session, "INPUT", value, &size);
             const Record report;
             MsiProcessMessage(session, INSTALLMESSAGE_INFO, report.handle);
         }},
    };
    const char* const outputs[] = {"OUTPUT1", "OUTPUT2"};
    auto setsBoth = [&](kit::FaultSweep::Run& run) {
        for (const char* output : outputs) {
            MsiSetPropertyA(run.session, output, "done");
        }
        // A refusal counted from the set-up's calls would miss the code's: its property set anyway.
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
        // The clean run and the two refusals of MsiSetPropertyA at each of its two calls, and none of
        // another function or of a call the set-up made.
        EXPECT_EQ(report.calls, 2u) << name;
        EXPECT_EQ(report.cases, 5u) << name;
    }
}

// A call without a row of its own is refused as its kind of call fails, never with a success; the
// functions below have no row.
TEST(FaultSweepKit, ACallWithoutARowIsRefusedAsItsKindFails)
{
    const struct {
        const char* function;
        std::int64_t result;
        DWORD lastError;
    } unlisted[] = {
        {"MsiSourceListAddSourceA", ERROR_FUNCTION_FAILED, 0},  // an installer call: its failure code
        {"MsiProvideQualifiedComponentW", ERROR_FUNCTION_FAILED, 0},
        {"SetFileAttributesW", FALSE, ERROR_FUNCTION_FAILED},  // a BOOL call: FALSE and a last error
        {"CreateFileMappingW", 0, ERROR_FUNCTION_FAILED},      // a handle call documented to answer NULL
        {"CreateNamedPipeA", -1, ERROR_FUNCTION_FAILED},       // ... or INVALID_HANDLE_VALUE
        {"FindFirstFileExW", -1, ERROR_FUNCTION_FAILED},
        {"FindFirstVolumeW", -1, ERROR_FUNCTION_FAILED},
        {"CreateToolhelp32Snapshot", -1, ERROR_FUNCTION_FAILED},
        {"GetComputerNameExW", 0, ERROR_FUNCTION_FAILED},
    };
    for (const auto& call : unlisted) {
        SCOPED_TRACE(call.function);
        EXPECT_FALSE(kit::FaultSweep::hasRow(call.function));
        const auto& refusals = kit::FaultSweep::refusalsOf(call.function);
        ASSERT_EQ(refusals.size(), 1u);
        EXPECT_EQ(refusals[0].result, call.result);
        EXPECT_EQ(refusals[0].lastError, call.lastError);
    }
    // A row of its own wins, also one that says the call cannot fail.
    EXPECT_TRUE(kit::FaultSweep::refusalsOf("GetLastError").empty());
    EXPECT_EQ(kit::FaultSweep::refusalsOf("CreateFileW").size(), 6u);

    kit::SweepReport report;
    report.name = "new calls";
    report.unlisted = {"SetFileAttributesW", "MsiSourceListAddSourceA"};
    EXPECT_NE(kit::summaryOf(report).find("no row of their own: SetFileAttributesW MsiSourceListAddSourceA"),
              std::string::npos)
        << kit::summaryOf(report);
}

// Only where LeakSanitizer watches: a leak elsewhere would fail the memory checker's run instead.
// The leak belongs to the cases that made it: those fail, and no other case or world is blamed.
TEST(FaultSweepKit, ALeakIsBlamedOnTheCasesThatMadeIt)
{
    if (!kit::sweepAction(&sound, world).leaksChecked) {
        GTEST_SKIP() << "no LeakSanitizer in this build";
    }
    hidden.reserve(10000);  // made now: growing inside the action would be an allocation the sweep fails
    const kit::SweepReport everywhere = kit::sweepAction(&leaksMemory, world);
    const kit::ActionWorld onePath{"OnePath", [](MSIHANDLE session) { sim::setProperty(session, "INPUT", "1"); }};
    const kit::SweepReport leaking = kit::sweepAction(&leaksOnOnePath, onePath);
    const kit::SweepReport elsewhere = kit::sweepAction(&leaksOnOnePath, {"Elsewhere", [](MSIHANDLE) {}});
    freeWhatLeaked();

    EXPECT_TRUE(mentions(everywhere.problems, "clean run: memory leaked"));
    EXPECT_EQ(everywhere.held, 0u);
    // Only a refused MsiSetPropertyA leaks, and a case that leaked is not held.
    for (const std::string& problem : leaking.problems) {
        EXPECT_NE(problem.find("MsiSetPropertyA #1 -> "), std::string::npos) << problem;
    }
    EXPECT_TRUE(mentions(leaking.problems, "MsiSetPropertyA #1 -> 6: memory leaked"));
    EXPECT_EQ(leaking.cases - leaking.held, leaking.problems.size());
    EXPECT_TRUE(elsewhere.problems.empty()) << elsewhere.problems.front();
    EXPECT_EQ(elsewhere.held, elsewhere.cases);
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
    {
        // A constructor that throws out of a nothrow new has its block freed by the nothrow delete.
        struct Throwing {
            Throwing() { throw 1; }
        };
        kit::FailingAllocation watched(0);
        try {
            delete new (std::nothrow) Throwing;
        } catch (int) {
        }
        watched.stop();
        EXPECT_EQ(watched.stillAllocated(), 0u) << "a block the nothrow delete freed is still counted";
    }
    kit::FailingAllocation counting(0);
    std::stable_sort(numbers.begin(), numbers.end());
    counting.stop();
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
}

// A failure of the sweep or the fixture points at the author's test: the line that asked for the
// sweep's verdict; for what the case left before its first row, the resetModel() that ended it; for
// what a row left, the resetModel() that began the row (ALeakInATableIsBlamedOnTheRowThatLeaked).
TEST(KitChecks, FailuresPointAtTheAuthorsTest)
{
    ::testing::TestPartResultArray results;
    int verdictLine = 0;
    {
        const ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        verdictLine = __LINE__ + 1;
        kit::expectEveryCaseHolds(kit::sweepAction(&leavesARecordOpen, world));
    }
    ASSERT_GT(results.size(), 0);
    for (int i = 0; i < results.size(); ++i) {
        EXPECT_STREQ(results.GetTestPartResult(i).file_name(), __FILE__);
        EXPECT_EQ(results.GetTestPartResult(i).line_number(), verdictLine);
    }

    int resetLine = 0;
    const auto failures = fixtureFailures([&](Fixture& fixture) {
        leavesARecordOpen(fixture.handle());
        resetLine = __LINE__ + 1;
        fixture.resetModel();
        leavesARecordOpen(fixture.handle());
    });
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_STREQ(failures[0].file_name(), __FILE__);
    EXPECT_EQ(failures[0].line_number(), resetLine);
    EXPECT_STREQ(failures[1].file_name(), __FILE__);
    EXPECT_EQ(failures[1].line_number(), resetLine);
    EXPECT_NE(std::string(failures[1].message()).find("after the case: the row begun here"), std::string::npos);
}

// A case whose body ends on the library's exception, registered only in the run that the test
// below starts.
class ThrowsFromItsBody : public kit::SessionTest {
    void TestBody() override { raiseException(rule, "the body's own failure"); }
};

[[maybe_unused]] const bool throwingCaseRegistered =
    std::getenv("QEL_KIT_THROWING_CASE") != nullptr &&
    (::testing::RegisterTest("Throwing", "FromItsBody", nullptr, nullptr, __FILE__, __LINE__,
                             []() -> kit::SessionTest* { return new ThrowsFromItsBody; }),
     true);

TEST(SessionTestKit, ALibraryExceptionOutOfACaseShowsItsReport)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    FILE* run = popen(("QEL_KIT_THROWING_CASE=1 '" + self + "' --gtest_filter=Throwing.FromItsBody 2>&1").c_str(), "r");
    ASSERT_NE(run, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, run)) > 0;) {
        output.append(buffer, read);
    }
    EXPECT_NE(pclose(run), 0) << output;
    EXPECT_NE(output.find("HISTORY"), std::string::npos) << output;
    EXPECT_NE(output.find("C: the body's own failure"), std::string::npos) << output;
}

}  // namespace
