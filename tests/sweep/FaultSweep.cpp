// The fault sweep: every platform call of a run refused in turn, then a second refusal on the way
// an ended action reports, then every allocation of the library failing in turn.
//
// For each scenario (the two actions, and a message processor going through its operations) in
// each world, a clean run records the calls the model saw. Every position of that journal is then
// failed with each plausible result of its function (the calls come from the journal, so a new
// platform call is swept without touching this file). Each case must hold: no sanitizer report,
// nothing leaked, no handle closed twice, the session left open, the action's answer matching
// what it did, nothing but the library's exceptions out of the processor, and a failed
// initialize changing nothing.
#include "FailingAllocation.h"
#include "Simulation.h"
#include "actions/QelCustInst.h"
#include "errors/EKestMsiError.h"
#include "messages/KestMsiMessageProcessor.h"
#include "msi/KestMsiRecord.h"

#include <gtest/gtest.h>
#include <sanitizer/lsan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;

// ---- What a refused call answers ----------------------------------------------------------------

struct Refusal {
    std::int64_t result;
    DWORD lastError;
};

// The plausible failures of each function. A function not listed is taken to fail as most Windows
// calls do: 0 (FALSE, a null handle, no length) with ERROR_FUNCTION_FAILED.
const std::vector<Refusal>& refusalsOf(const std::string& function)
{
    static const std::vector<Refusal> none;
    static const std::vector<Refusal> byDefault{{0, ERROR_FUNCTION_FAILED}};
    static const std::map<std::string, std::vector<Refusal>> table{
        // Calls with no failure of their own.
        {"GetLastError", none},
        {"SetLastError", none},
        {"IsDBCSLeadByte", none},
        {"LocalFree", none},
        {"MsiRecordIsNull", none},
        // The installer's functions answer an error number; 0 is success.
        {"MsiCloseHandle", {{ERROR_INVALID_HANDLE, 0}}},
        {"MsiGetPropertyA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiSetPropertyA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiGetTargetPathA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiGetSourcePathA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiSetTargetPathA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiCreateRecord", {{0, 0}}},
        {"MsiRecordSetStringA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordSetInteger", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordSetStreamA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordGetStringA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordGetInteger", {{static_cast<int>(MSI_NULL_INTEGER), 0}}},
        {"MsiRecordReadStream", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_DATATYPE, 0}}},
        {"MsiRecordGetFieldCount", {{-1, 0}}},
        {"MsiRecordClearData", {{ERROR_INVALID_HANDLE, 0}}},
        {"MsiGetLastErrorRecord", {{0, 0}}},
        // -1 is a failure; 0 (no action taken) is an answer the caller must take as well.
        {"MsiProcessMessage", {{-1, 0}, {0, 0}}},
        // No failure path, but any drive type may come back.
        {"GetDriveTypeA", {{DRIVE_UNKNOWN, 0}, {DRIVE_NO_ROOT_DIR, 0}}},
        // Refused, or a folder that grew longer than the buffer between two calls.
        {"GetTempPathA", {{0, ERROR_ACCESS_DENIED}, {3000, 0}}},
        {"DeleteFileA", {{FALSE, ERROR_ACCESS_DENIED}, {FALSE, ERROR_FILE_NOT_FOUND}}},
        {"FindFirstFileA", {{-1, ERROR_FILE_NOT_FOUND}, {-1, ERROR_ACCESS_DENIED}}},
        {"FindClose", {{FALSE, ERROR_INVALID_HANDLE}}},
        {"FormatMessageA", {{0, ERROR_MR_MID_NOT_FOUND}}},
        {"MessageBoxA", {{0, ERROR_NOT_ENOUGH_MEMORY}}},
        {"LoadStringA", {{0, ERROR_RESOURCE_NAME_NOT_FOUND}}},
    };
    auto it = table.find(function);
    return it == table.end() ? byDefault : it->second;
}

// ---- Worlds --------------------------------------------------------------------------------------

// The model's temporary folder on the host's disk, without its closing separator.
std::string hostTempFolder()
{
    std::string folder = sim::tempPath();
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    return folder;
}

struct World {
    const char* name;
    std::function<void(MSIHANDLE session)> setUp;
    bool onlyFiles = false;  // differs from the others only in the temporary folder
};

void onDrive(MSIHANDLE session, const char* source, UINT type)
{
    sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Demo\\", source);
    sim::setDrive(std::string(source, 3), type);
}

void onCd(MSIHANDLE session)
{
    onDrive(session, "D:\\Setup\\", DRIVE_CDROM);
}

const std::vector<World>& worlds()
{
    static const std::vector<World> all{
        {"CdRom", onCd},
        {"FixedSource", [](MSIHANDLE session) { onDrive(session, "C:\\Setup\\", DRIVE_FIXED); }},
        {"PendingErrorRecord",
         [](MSIHANDLE session) {
             onCd(session);
             sim::setPendingErrorRecord({std::string("[1] failed"), 2228, std::string("the installer's own")});
         }},
        {"TempFolderMissing",
         [](MSIHANDLE session) {
             onCd(session);
             const std::string gone = hostTempFolder() + "/gone";
             sim::setTempPath(gone);
             fs::remove(gone);
         },
         true},
        {"TempFolderIsAFile",
         [](MSIHANDLE session) {
             onCd(session);
             const std::string file = hostTempFolder() + "/file";
             sim::setTempPath(file);
             fs::remove(file);
             std::ofstream(file) << "not a folder";
         },
         true},
        {"LogIsAFolder",
         [](MSIHANDLE session) {
             onCd(session);
             fs::create_directory(hostTempFolder() + "/setup.log");
         },
         true},
        {"PersistenceFileIsAFolder",
         [](MSIHANDLE session) {
             onCd(session);
             fs::create_directory(hostTempFolder() + "/setup.mpp");
         },
         true},
        {"LogOnAFullDevice",
         [](MSIHANDLE session) {
             onCd(session);
             fs::create_symlink("/dev/full", hostTempFolder() + "/setup.log");
         },
         true},
        {"TempPathLongerThan2048",
         [](MSIHANDLE session) {
             onCd(session);
             std::string folder = hostTempFolder();
             while (folder.size() <= 2100) {
                 folder += "/" + std::string(200, 'd');
             }
             sim::setTempPath(folder);
         },
         true},
    };
    return all;
}

// ---- Scenarios -----------------------------------------------------------------------------------

using Problems = std::vector<std::string>;

struct Run {
    MSIHANDLE session;
    FailingAllocation& memory;  // watching while library code runs
    Problems& problems;
    bool systemRefused;  // a Windows call (not the installer's) was given a fault: the drive may read otherwise
};

constexpr const char* untouched = "untouched";

// The answer of an action and what it must have done for that answer.
void checkAction(const Run& run, UINT answer, const char* actionName, bool effectDone)
{
    if (answer == ERROR_SUCCESS) {
        if (!effectDone) {
            run.problems.push_back(std::string(actionName) + " answered 0 without doing its work");
        }
        return;
    }
    if (answer != ERROR_INSTALL_FAILURE) {
        run.problems.push_back(std::string(actionName) + " answered " + std::to_string(answer));
    }
    if (sim::property(run.session, "PROMPT_FOR_CD1") != untouched) {
        run.problems.push_back(std::string(actionName) + " failed but changed PROMPT_FOR_CD1");
    }
    if (sim::calls("MsiProcessMessage") == 0) {
        run.problems.push_back(std::string(actionName) + " failed without a report to the installer");
    }
}

void runningFromCd(Run& run)
{
    sim::setProperty(run.session, "PROMPT_FOR_CD1", untouched);
    const std::string expected = sim::sourcePath(run.session, "INSTALLDIR")[0] == 'C' ? "0" : "1";
    run.memory.resume();
    const UINT answer = qelAreWeRunningFromCD(run.session);
    run.memory.stop();
    // Windows refusing to say what the drive is may make a CD-ROM read as another drive, never the reverse.
    const std::string written = sim::property(run.session, "PROMPT_FOR_CD1");
    checkAction(run, answer, "qelAreWeRunningFromCD", written == expected || (run.systemRefused && written == "0"));
}

void promptForOriginalDisk(Run& run)
{
    sim::setProperty(run.session, "PROMPT_FOR_CD1", untouched);
    run.memory.resume();
    const UINT answer = qelPromptForOriginalDisk(run.session);
    run.memory.stop();
    // Done: the message went out, or the record could not be made and nothing was sent.
    const auto& sent = sim::messages();
    const bool effectDone = sent.empty() || (sent.size() == 1 && sent[0].type == INSTALLMESSAGE_INFO &&
                                             sent[0].fields.size() == 2 && sent[0].fields[1] == sim::Field(26002));
    checkAction(run, answer, "qelPromptForOriginalDisk", effectDone);
}

// A processor whose state the sweep can compare before and after a failed initialize.
class ObservedProcessor : public KestMsiMessageProcessor {
public:
    auto state() const { return std::make_tuple(logActive, std::string(logFileName), logStream, ownsStream); }
};

// Whether an operation may let std::bad_alloc out: only the two dialogBox forms that, by their
// rule, pass every exception outside the family on unchanged.
enum class Foreign { trapped, passesOn };

// One operation of the processor: only the library's exceptions may come out of it.
template <class Operation>
bool operate(Run& run, const char* what, Operation&& operation, Foreign foreign = Foreign::trapped)
{
    run.memory.resume();
    try {
        operation();
        run.memory.stop();
        return true;
    } catch (const EKestException&) {
        run.memory.stop();
    } catch (const std::bad_alloc&) {
        run.memory.stop();
        if (foreign == Foreign::trapped) {
            run.problems.push_back(std::string(what) + " let out std::bad_alloc");
        }
    } catch (...) {
        run.memory.stop();
        run.problems.push_back(std::string(what) + " let out something outside the library's family");
    }
    return false;
}

void initializeOrChangeNothing(Run& run, ObservedProcessor& processor, const KestCString& name)
{
    const auto before = processor.state();
    if (!operate(run, "initialize", [&] { processor.initialize(name); }) && processor.state() != before) {
        run.problems.push_back("a failed initialize(" + name + ") changed the processor");
    }
}

void messageProcessor(Run& run)
{
    KestMsiHandle installation(run.session, true);
    const EKestException plain("Sweep::run", "Sweep", 1, "a plain failure");
    const EKestMsiError installerError(ERROR_FUNCTION_FAILED, "Sweep::run", "Sweep", 2,
                                       "Function Failed: MsiSetProperty()");
    const KestCString missingFolderLog = "missing/setup.log";
    const KestCString log = "setup.log";
    {
        ObservedProcessor processor;
        initializeOrChangeNothing(run, processor, missingFolderLog);
        initializeOrChangeNothing(run, processor, log);
        operate(run, "logMessage", [&] { processor.logMessage("%s %d%%\n", "formatted", 100); });
        operate(run, "writeLog", [&] { processor.writeLog("%s\n", "written"); });
        operate(run, "logMessage(exception)", [&] { processor.logMessage(plain); });
        operate(run, "messageBox(exception)", [&] { processor.messageBox(nullptr, MB_OK, plain); });
        operate(run, "uninitialize", [&] { processor.uninitialize(); });
        operate(run, "uninitialize again", [&] { processor.uninitialize(); });
        operate(run, "dialogBox(number)", [&] { processor.dialogBox(installation, INSTALLMESSAGE_INFO, 26002); });
        // The record is the caller's, made before the call.
        std::optional<KestMsiRecord> record;
        try {
            record.emplace(2);
            record->setStringField(1, "sent as a record");
        } catch (const EKestException&) {
            record.reset();
        }
        if (record) {
            operate(
                run, "dialogBox(record)", [&] { processor.dialogBox(installation, INSTALLMESSAGE_INFO, *record); },
                Foreign::passesOn);
        }
        operate(
            run, "dialogBox(error)", [&] { processor.dialogBox(installation, INSTALLMESSAGE_ERROR, installerError); },
            Foreign::passesOn);
        run.memory.resume();
    }  // the processor goes: its stream is closed under the watch
    run.memory.stop();
}

struct Scenario {
    const char* name;
    void (*run)(Run&);
    bool reports;    // an ended run reports to the installer: a second fault is swept on that path
    bool usesFiles;  // runs in the worlds that differ only in the temporary folder, too
};

const Scenario scenarios[] = {
    {"RunningFromCd", runningFromCd, true, false},
    {"PromptForOriginalDisk", promptForOriginalDisk, true, false},
    {"MessageProcessor", messageProcessor, false, true},
};

// ---- Cases ---------------------------------------------------------------------------------------

struct Fault {
    std::string function;
    int nth;  // the call of that function, counted from the start of the case
    Refusal refusal;
};

struct Case {
    std::vector<Fault> faults;
    std::size_t failedAllocation = 0;  // 0: none
};

struct Outcome {
    Problems problems;
    std::vector<std::string> journal;
    std::size_t allocations = 0;
};

std::string describe(const Case& c)
{
    std::ostringstream text;
    for (const Fault& fault : c.faults) {
        text << fault.function << " #" << fault.nth << " -> " << fault.refusal.result << "; ";
    }
    if (c.failedAllocation != 0) {
        text << "allocation #" << c.failedAllocation << " fails";
    }
    return text.str();
}

// A leak check takes the sanitizer tens of milliseconds, so by default it runs once after all the
// cases of a scenario in a world; QEL_SWEEP_LEAK_EACH_CASE=1 runs it after each, to find the case.
bool leakCheckEachCase()
{
    static const bool each = std::getenv("QEL_SWEEP_LEAK_EACH_CASE") != nullptr;
    return each;
}

// What no case may leave behind, whatever failed.
void checkLeftovers(MSIHANDLE session, const Case& c, Problems& problems)
{
    const auto info = sim::handleInfo(session);
    if (!info || !info->open || info->closeCalls != 0) {
        problems.push_back("the session was closed");
    }
    if (sim::badCloses() != 0) {
        problems.push_back("a handle was closed twice, or one never handed out was closed");
    }
    // An error record the library never took is still the installer's.
    if (const MSIHANDLE pending = MsiGetLastErrorRecord()) {
        MsiCloseHandle(pending);
    }
    const bool closeRefused = std::any_of(c.faults.begin(), c.faults.end(),
                                          [](const Fault& fault) { return fault.function == "MsiCloseHandle"; });
    if (sim::openHandles(sim::HandleKind::record) > (closeRefused ? 1u : 0u)) {
        problems.push_back(std::to_string(sim::openHandles(sim::HandleKind::record)) + " record handles left open");
    }
    const bool findCloseRefused =
        std::any_of(c.faults.begin(), c.faults.end(), [](const Fault& fault) { return fault.function == "FindClose"; });
    if (sim::openFindHandles() > (findCloseRefused ? 1u : 0u)) {
        problems.push_back("a search handle left open");
    }
    if (sim::liveLocalAllocations() != 0 || sim::badLocalFrees() != 0) {
        problems.push_back("system message buffers not freed exactly once");
    }
    if (leakCheckEachCase() && __lsan_do_recoverable_leak_check() != 0) {
        problems.push_back("memory leaked (see the report above)");
    }
}

Outcome runCase(const Scenario& scenario, const World& world, const Case& c)
{
    Outcome outcome;
    sim::reset();
    const MSIHANDLE session = sim::openSession();
    world.setUp(session);
    bool systemRefused = false;
    for (const Fault& fault : c.faults) {
        sim::failCall(fault.function, fault.nth, fault.refusal.result,
                      fault.refusal.lastError ? std::optional<DWORD>(fault.refusal.lastError) : std::nullopt);
        systemRefused = systemRefused || fault.function.rfind("Msi", 0) != 0;
    }
    try {
        FailingAllocation memory(c.failedAllocation);
        memory.stop();
        Run run{session, memory, outcome.problems, systemRefused};
        scenario.run(run);
        outcome.allocations = memory.counted();
    } catch (const std::exception& error) {
        outcome.problems.push_back(std::string("the case itself failed: ") + error.what());
    }
    outcome.journal = sim::callLog();
    checkLeftovers(session, c, outcome.problems);
    return outcome;
}

// ---- The sweep -----------------------------------------------------------------------------------

// The faults of one call of a journal: each plausible refusal of the call at `position`.
std::vector<Fault> faultsAt(const std::vector<std::string>& journal, std::size_t position)
{
    const std::string& function = journal[position];
    const int nth =
        static_cast<int>(std::count(journal.begin(), journal.begin() + static_cast<long>(position) + 1, function));
    std::vector<Fault> faults;
    for (const Refusal& refusal : refusalsOf(function)) {
        faults.push_back(Fault{function, nth, refusal});
    }
    return faults;
}

struct Sweep {
    const Scenario* scenario;
    const World* world;
};

void PrintTo(const Sweep& sweep, std::ostream* out)
{
    *out << sweep.scenario->name << " in " << sweep.world->name;
}

class FaultSweep : public ::testing::TestWithParam<Sweep> {
protected:
    void sweep()
    {
        const auto [scenario, world] = GetParam();
        std::size_t run = 0;
        std::size_t held = 0;
        auto check = [&](const Case& c) {
            Outcome outcome = runCase(*scenario, *world, c);
            ++run;
            if (outcome.problems.empty()) {
                ++held;
            }
            for (const std::string& problem : outcome.problems) {
                ADD_FAILURE() << describe(c) << ": " << problem;
            }
            return outcome;
        };

        const Outcome clean = check(Case{});
        // No call in the clean run would leave nothing to refuse, and every case would hold.
        ASSERT_FALSE(clean.journal.empty()) << "the clean run made no platform call: is the model's journal off?";
        for (std::size_t position = 0; position < clean.journal.size(); ++position) {
            for (const Fault& first : faultsAt(clean.journal, position)) {
                const Outcome faulted = check(Case{{first}, 0});
                if (!scenario->reports) {
                    continue;
                }
                // A second refusal anywhere after the first, on the way the ended action reports;
                // then memory running out at each allocation of that run, its report's included.
                for (std::size_t later = position + 1; later < faulted.journal.size(); ++later) {
                    for (const Fault& second : faultsAt(faulted.journal, later)) {
                        check(Case{{first, second}, 0});
                    }
                }
                for (std::size_t nth = 1; nth <= faulted.allocations; ++nth) {
                    check(Case{{first}, nth});
                }
            }
        }
        for (std::size_t nth = 1; nth <= clean.allocations; ++nth) {
            check(Case{{}, nth});
        }
        sim::reset();
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "memory leaked; QEL_SWEEP_LEAK_EACH_CASE=1 finds the case";
        std::printf("sweep %s in %s: %zu cases run, %zu held (%zu calls, %zu allocations)\n", scenario->name,
                    world->name, run, held, clean.journal.size(), clean.allocations);
        EXPECT_EQ(held, run);
    }
};

TEST_P(FaultSweep, EveryCaseHolds)
{
    sweep();
}

std::vector<Sweep> everyScenarioInEveryWorld()
{
    std::vector<Sweep> all;
    for (const Scenario& scenario : scenarios) {
        for (const World& world : worlds()) {
            if (scenario.usesFiles || !world.onlyFiles) {
                all.push_back(Sweep{&scenario, &world});
            }
        }
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(, FaultSweep, ::testing::ValuesIn(everyScenarioInEveryWorld()), [](const auto& info) {
    return std::string(info.param.scenario->name) + "_" + info.param.world->name;
});

}  // namespace
