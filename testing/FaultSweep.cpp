#include "testing/FaultSweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <optional>
#include <sstream>
#include <utility>

// LeakSanitizer's own check, when the test executable carries it (-fsanitize=address or
// -fsanitize=leak); without it the weak reference stays null and leaks go unchecked.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace qel::testing {
namespace {

using Problems = std::vector<std::string>;

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
    const char* separator = "";
    for (const Fault& fault : c.faults) {
        text << separator << fault.function << " #" << fault.nth << " -> " << fault.refusal.result;
        separator = "; ";
    }
    if (c.failedAllocation != 0) {
        text << separator << "allocation #" << c.failedAllocation << " fails";
    }
    if (c.faults.empty() && c.failedAllocation == 0) {
        text << "clean run";
    }
    return text.str();
}

bool leakCheckEachCase()
{
    static const bool each = std::getenv("QEL_SWEEP_LEAK_EACH_CASE") != nullptr;
    return each && __lsan_do_recoverable_leak_check != nullptr;
}

bool refused(const Case& c, const std::string& function)
{
    return std::any_of(c.faults.begin(), c.faults.end(),
                       [&](const Fault& fault) { return fault.function == function; });
}

// What no case may leave behind, whatever failed. A refused close leaves its handle open, and that
// one handle is the installer's fault, not the code's.
void checkLeftovers(MSIHANDLE session, const Case& c, Problems& problems)
{
    const auto info = sim::handleInfo(session);
    if (!info || !info->open || info->closeCalls != 0) {
        problems.push_back("the session was closed");
    }
    if (sim::badCloses() != 0) {
        problems.push_back("a handle was closed twice, or one never handed out was closed");
    }
    // An error record the code never took is still the installer's.
    if (const MSIHANDLE pending = MsiGetLastErrorRecord()) {
        MsiCloseHandle(pending);
    }
    const std::size_t records = sim::openHandles(sim::HandleKind::record);
    if (records > (refused(c, "MsiCloseHandle") ? 1u : 0u)) {
        problems.push_back(std::to_string(records) + " record handles left open");
    }
    if (sim::openFindHandles() > (refused(c, "FindClose") ? 1u : 0u)) {
        problems.push_back("a search handle left open");
    }
    if (sim::liveLocalAllocations() != 0 || sim::badLocalFrees() != 0) {
        problems.push_back("system message buffers not freed exactly once");
    }
    if (leakCheckEachCase() && __lsan_do_recoverable_leak_check() != 0) {
        problems.push_back("memory leaked (see the report above)");
    }
}

Outcome runCase(const FaultSweep::SetUp& setUp, const FaultSweep::Scenario& scenario, const Case& c)
{
    Outcome outcome;
    sim::reset();
    const MSIHANDLE session = sim::openSession();
    setUp(session);
    // The case's journal starts here, where the faults are armed and count calls from: the calls
    // the world's setUp made are no part of it.
    const std::size_t setUpCalls = sim::callLog().size();
    for (const Fault& fault : c.faults) {
        sim::failCall(fault.function, fault.nth, fault.refusal.result,
                      fault.refusal.lastError ? std::optional<DWORD>(fault.refusal.lastError) : std::nullopt);
    }
    try {
        FailingAllocation memory(c.failedAllocation);
        memory.stop();
        FaultSweep::Run run{session, c.faults, memory, outcome.problems};
        scenario(run);
        outcome.allocations = memory.counted();
    } catch (const std::exception& error) {
        outcome.problems.push_back(std::string("the case itself failed: ") + error.what());
    } catch (...) {
        outcome.problems.push_back("the case itself failed with an exception of no standard class");
    }
    const std::vector<std::string>& journal = sim::callLog();
    outcome.journal.assign(journal.begin() + static_cast<long>(setUpCalls), journal.end());
    checkLeftovers(session, c, outcome.problems);
    return outcome;
}

// Each plausible refusal of the call at `position` of a case's journal.
std::vector<Fault> faultsAt(const std::vector<std::string>& journal, std::size_t position)
{
    const std::string& function = journal[position];
    const int nth =
        static_cast<int>(std::count(journal.begin(), journal.begin() + static_cast<long>(position) + 1, function));
    std::vector<Fault> faults;
    for (const Refusal& refusal : FaultSweep::refusalsOf(function)) {
        faults.push_back(Fault{function, nth, refusal});
    }
    return faults;
}

// Whether the code sent a report to the installer since it began: a message of type
// INSTALLMESSAGE_INFO, as the action frame sends one when it fails the action. A call the case
// refused took nothing and the journal keeps no arguments, so such a call counts as an attempt:
// its type is unknown.
bool reportedSince(std::size_t messagesBefore, std::size_t callsBefore, const std::vector<Fault>& faults)
{
    const std::vector<sim::Message>& sent = sim::messages();
    const bool info =
        std::any_of(sent.begin() + static_cast<long>(messagesBefore), sent.end(), [](const sim::Message& m) {
            return (static_cast<unsigned>(m.type) & 0xFF000000u) == static_cast<unsigned>(INSTALLMESSAGE_INFO);
        });
    const std::size_t made = sim::calls("MsiProcessMessage") - callsBefore;
    return info || std::any_of(faults.begin(), faults.end(), [&](const Fault& fault) {
               return fault.function == "MsiProcessMessage" && static_cast<std::size_t>(fault.nth) <= made;
           });
}

}  // namespace

bool FaultSweep::Run::refuses(const std::string& function) const
{
    return std::any_of(faults.begin(), faults.end(), [&](const Fault& fault) { return fault.function == function; });
}

bool FaultSweep::Run::refusesSystemCall() const
{
    return std::any_of(faults.begin(), faults.end(),
                       [](const Fault& fault) { return fault.function.rfind("Msi", 0) != 0; });
}

FaultSweep::FaultSweep(std::string name, SetUp setUp, Scenario scenario)
    : name(std::move(name)), setUp(std::move(setUp)), scenario(std::move(scenario))
{
}

FaultSweep& FaultSweep::sweepingAfterEachRefusal(bool on)
{
    afterEachRefusal = on;
    return *this;
}

SweepReport FaultSweep::run() const
{
    SweepReport report;
    report.name = name;
    auto check = [&](const Case& c) {
        Outcome outcome = runCase(setUp, scenario, c);
        ++report.cases;
        if (outcome.problems.empty()) {
            ++report.held;
        }
        for (const std::string& problem : outcome.problems) {
            report.problems.push_back(describe(c) + ": " + problem);
        }
        return outcome;
    };

    const Outcome clean = check(Case{});
    report.calls = clean.journal.size();
    report.allocations = clean.allocations;
    // No call in the clean run would leave nothing to refuse, and every case would hold.
    if (clean.journal.empty()) {
        report.problems.push_back("the clean run made no platform call: is the model's journal off?");
    }
    for (std::size_t position = 0; position < clean.journal.size(); ++position) {
        for (const Fault& first : faultsAt(clean.journal, position)) {
            const Outcome faulted = check(Case{{first}, 0});
            if (!afterEachRefusal) {
                continue;
            }
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
    if (__lsan_do_recoverable_leak_check != nullptr) {
        report.leaksChecked = true;
        if (__lsan_do_recoverable_leak_check() != 0) {
            report.problems.push_back(
                "memory leaked (see the report above); QEL_SWEEP_LEAK_EACH_CASE=1 finds the case");
        }
    }
    return report;
}

const std::vector<Refusal>& FaultSweep::refusalsOf(const std::string& function)
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
        {"MsiGetActiveDatabase", {{0, 0}}},
        {"MsiDatabaseOpenViewA", {{ERROR_BAD_QUERY_SYNTAX, 0}, {ERROR_INVALID_HANDLE, 0}}},
        {"MsiViewExecute", {{ERROR_FUNCTION_FAILED, 0}, {ERROR_INVALID_HANDLE, 0}}},
        // ERROR_NO_MORE_ITEMS: the rows ended sooner.
        {"MsiViewFetch",
         {{ERROR_NO_MORE_ITEMS, 0},
          {ERROR_FUNCTION_FAILED, 0},
          {ERROR_INVALID_HANDLE, 0},
          {ERROR_INVALID_HANDLE_STATE, 0}}},
        {"MsiViewClose", {{ERROR_FUNCTION_FAILED, 0}, {ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_HANDLE_STATE, 0}}},
        {"MsiViewModify",
         {{ERROR_ACCESS_DENIED, 0},
          {ERROR_FUNCTION_FAILED, 0},
          {ERROR_INVALID_DATA, 0},
          {ERROR_INVALID_HANDLE, 0},
          {ERROR_INVALID_HANDLE_STATE, 0},
          {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiViewGetColumnInfo",
         {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_HANDLE_STATE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        // ERROR_MORE_DATA: the text grew between the length query and the read.
        {"MsiFormatRecordA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}, {ERROR_MORE_DATA, 0}}},
        {"MsiEvaluateConditionA", {{MSICONDITION_ERROR, 0}}},
        {"MsiGetMode", none},
        {"MsiGetLanguage", {{0, 0}, {ERROR_INVALID_HANDLE, 0}}},
        {"MsiGetFeatureStateA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_FEATURE, 0}}},
        {"MsiSetFeatureStateA", {{ERROR_FUNCTION_FAILED, 0}, {ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_FEATURE, 0}}},
        {"MsiGetComponentStateA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_COMPONENT, 0}}},
        {"MsiSetComponentStateA",
         {{ERROR_FUNCTION_FAILED, 0},
          {ERROR_INSTALL_USEREXIT, 0},
          {ERROR_INVALID_HANDLE, 0},
          {ERROR_UNKNOWN_COMPONENT, 0}}},
        {"MsiDoActionA",
         {{ERROR_FUNCTION_NOT_CALLED, 0},
          {ERROR_INSTALL_FAILURE, 0},
          {ERROR_INSTALL_SUSPEND, 0},
          {ERROR_INSTALL_USEREXIT, 0},
          {ERROR_INVALID_DATA, 0},
          {ERROR_INVALID_HANDLE_STATE, 0}}},
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

SweepReport sweepAction(Action action, const ActionWorld& world)
{
    auto scenario = [&](FaultSweep::Run& run) {
        // The faults were armed right before the scenario began, so they count from here as well.
        const std::size_t messagesBefore = sim::messages().size();
        const std::size_t callsBefore = sim::calls("MsiProcessMessage");
        UINT answer = ERROR_SUCCESS;
        bool crossed = false;
        run.watched([&] {
            try {
                answer = action(run.session);
            } catch (...) {
                crossed = true;
            }
        });
        if (crossed) {
            run.problems.push_back("an exception left the action");
            return;
        }
        const bool accepted =
            answer == ERROR_SUCCESS || answer == ERROR_INSTALL_FAILURE ||
            std::find(world.alsoAccepted.begin(), world.alsoAccepted.end(), answer) != world.alsoAccepted.end();
        if (!accepted) {
            run.problems.push_back("the action answered " + std::to_string(answer));
        }
        if (answer == ERROR_INSTALL_FAILURE && !reportedSince(messagesBefore, callsBefore, run.faults)) {
            run.problems.push_back("the action answered 1603 without a report to the installer");
        }
        if (world.check) {
            if (std::string problem = world.check(run, answer); !problem.empty()) {
                run.problems.push_back(std::move(problem));
            }
        }
    };
    return FaultSweep(world.name, world.setUp, scenario).run();
}

std::string summaryOf(const SweepReport& report)
{
    std::ostringstream line;
    line << "sweep " << report.name << ": " << report.cases << " cases run, " << report.held << " held ("
         << report.calls << " calls, " << report.allocations << " allocations)";
    if (!report.leaksChecked) {
        line << "; no leak check without LeakSanitizer";
    }
    return line.str();
}

void expectEveryCaseHolds(const SweepReport& report)
{
    for (const std::string& problem : report.problems) {
        ADD_FAILURE() << report.name << ": " << problem;
    }
    std::printf("%s\n", summaryOf(report).c_str());
    EXPECT_EQ(report.held, report.cases) << report.name;
}

}  // namespace qel::testing
