#include "testing/FaultSweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <utility>
#include <variant>

// LeakSanitizer's own check, and its way to leave a block out of later checks, when the test
// executable carries it (-fsanitize=address or -fsanitize=leak); without it the weak references
// stay null and leaks go unchecked.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));
extern "C" void __lsan_ignore_object(const void* block) __attribute__((weak));

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
        if (fault.refusal.lastError != 0) {
            text << " (last error " << fault.refusal.lastError << ")";
        }
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

bool leakCheckerPresent()
{
    return __lsan_do_recoverable_leak_check != nullptr && __lsan_ignore_object != nullptr;
}

// Whether the case leaked memory. Only a case that left some of its allocations unfreed can have
// leaked them, so only then is LeakSanitizer asked. Whatever it finds, the blocks the case left are
// out of every later check: a leak is the case's own, and no later case or world is blamed for it.
bool leakedBy(const FailingAllocation& memory)
{
    if (memory.stillAllocated() == 0 || !leakCheckerPresent()) {
        return false;
    }
    const bool leaked = __lsan_do_recoverable_leak_check() != 0;
    memory.forEachStillAllocated([](const void* block) { __lsan_ignore_object(block); });
    return leaked;
}

// What nothing may leave behind, whatever failed (a close the case refused leaves its handle open,
// and that handle is the installer's doing, not the code's), and memory the case leaked.
void checkLeftovers(MSIHANDLE session, bool leaked, Problems& problems)
{
    for (std::string& problem : sim::leftovers(session).problems()) {
        problems.push_back(std::move(problem));
    }
    if (leaked) {
        problems.push_back("memory leaked (LeakSanitizer's report above shows where)");
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
    bool leaked = false;
    try {
        FailingAllocation memory(c.failedAllocation);
        memory.stop();
        FaultSweep::Run run{session, c.faults, memory, outcome.problems};
        try {
            scenario(run);
        } catch (...) {
            leaked = leakedBy(memory);
            throw;
        }
        leaked = leakedBy(memory);
        outcome.allocations = memory.counted();
    } catch (const std::exception& error) {
        outcome.problems.push_back(std::string("the case itself failed: ") + error.what());
    } catch (...) {
        outcome.problems.push_back("the case itself failed with an exception of no standard class");
    }
    // A scenario that reset the model has a shorter journal than the world's setUp left.
    const std::vector<std::string>& journal = sim::callLog();
    outcome.journal.assign(journal.begin() + static_cast<long>(std::min(setUpCalls, journal.size())), journal.end());
    checkLeftovers(session, leaked, outcome.problems);
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

// Whether a message has the form of the action frame's report: informational, the template "[1]" in
// field 0 and in field 1 "<action>: " and the report, the action named as the CustomAction table
// names it (a letter or underscore, then letters, digits, underscores and periods).
bool isFrameReport(const sim::Message& message)
{
    if (message.type != INSTALLMESSAGE_INFO || message.fields.size() < 2 ||
        message.fields[0] != sim::Field(std::string("[1]"))) {
        return false;
    }
    const auto* text = std::get_if<std::string>(&message.fields[1]);
    if (text == nullptr || text->empty() ||
        !(std::isalpha(static_cast<unsigned char>(text->front())) || text->front() == '_')) {
        return false;
    }
    const std::size_t end = text->find(": ");
    return end != std::string::npos && std::all_of(text->begin(), text->begin() + static_cast<long>(end), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
           });
}

// Whether the action's last offer of a message met a refusal: the last of its calls that make,
// fill or send a message record is one the case refused. The frame offers its report twice at
// most, so a report lost to two refusals ends so; and the journal keeps no arguments, so what a
// refused offer carried is not known.
bool lastOfferRefused(std::size_t journalBefore, const std::vector<Fault>& faults)
{
    const std::vector<std::string>& journal = sim::callLog();
    const auto first = journal.begin() + static_cast<long>(std::min(journalBefore, journal.size()));
    for (auto call = journal.end(); call != first; --call) {
        const std::string& function = *(call - 1);
        if (function != "MsiCreateRecord" && function != "MsiRecordSetStringA" && function != "MsiRecordSetStringW" &&
            function != "MsiProcessMessage") {
            continue;
        }
        const auto nth = static_cast<int>(std::count(first, call, function));
        return std::any_of(faults.begin(), faults.end(),
                           [&](const Fault& fault) { return fault.function == function && fault.nth == nth; });
    }
    return false;
}

// Whether the case stands for a user who cancelled: a call that answered 1602, which the installer
// gives when the user cancelled what it did, or a message answered Cancel. A cancel is a cancel:
// the action may answer 1602 then.
bool userCancelled(const std::vector<Fault>& faults)
{
    return std::any_of(faults.begin(), faults.end(), [](const Fault& fault) {
        return fault.refusal.result == ERROR_INSTALL_USEREXIT ||
               (fault.function == "MsiProcessMessage" && fault.refusal.result == IDCANCEL);
    });
}

// Whether an action that answered 1603 ended on the frame's report: the frame sends it last, once
// the steps have ended, so the last message the installer took since the action began must be it,
// unless the last offer was refused. A line of the action's own sent earlier is no report.
bool endedOnTheFramesReport(std::size_t messagesBefore, std::size_t journalBefore, const std::vector<Fault>& faults)
{
    const std::vector<sim::Message>& sent = sim::messages();
    return lastOfferRefused(journalBefore, faults) || (sent.size() > messagesBefore && isFrameReport(sent.back()));
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
        for (const std::string& function : outcome.journal) {
            if (!hasRow(function) &&
                std::find(report.unlisted.begin(), report.unlisted.end(), function) == report.unlisted.end()) {
                report.unlisted.push_back(function);
            }
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
    // Memory that did not come from operator new under a case's watch (malloc, or allocations of the
    // world's setUp or the scenario's checks) is seen only here. Such a leak cannot be left out of
    // later checks, so once one is found the sweeps after it no longer look for it.
    static bool unattributedLeakFound = false;
    if (leakCheckerPresent()) {
        report.leaksChecked = true;
        if (!unattributedLeakFound && __lsan_do_recoverable_leak_check() != 0) {
            unattributedLeakFound = true;
            report.problems.push_back("memory leaked outside the allocations of the cases' code (LeakSanitizer's "
                                      "report above shows where); later sweeps of this run no longer check for it");
        }
    }
    return report;
}

namespace {

// The Windows functions documented to fail with INVALID_HANDLE_VALUE rather than a null handle,
// without their A or W.
bool answersAnInvalidHandle(std::string function)
{
    static const std::set<std::string> invalidHandleCalls{
        "CreateFile",
        "CreateNamedPipe",
        "CreateMailslot",
        "CreateToolhelp32Snapshot",
        "FindFirstFile",
        "FindFirstFileEx",
        "FindFirstChangeNotification",
        "FindFirstStream",
        "FindFirstVolume",
        "FindFirstVolumeMountPoint",
    };
    if (!function.empty() && (function.back() == 'A' || function.back() == 'W') &&
        invalidHandleCalls.count(function.substr(0, function.size() - 1)) != 0) {
        return true;
    }
    return invalidHandleCalls.count(function) != 0;
}

const std::map<std::string, std::vector<Refusal>>& refusalTable();

// The rows authors gave their own calls.
std::map<std::string, std::vector<Refusal>>& authorRows()
{
    static std::map<std::string, std::vector<Refusal>> rows;
    return rows;
}

// The row of a function (an author's first), or for an A call without one of its own its W twin's:
// the A forms of the file calls refuse as their W forms do. Null for a function without a row.
const std::vector<Refusal>* rowOf(const std::string& function)
{
    if (const auto given = authorRows().find(function); given != authorRows().end()) {
        return &given->second;
    }
    const auto& table = refusalTable();
    auto it = table.find(function);
    if (it == table.end() && !function.empty() && function.back() == 'A') {
        it = table.find(function.substr(0, function.size() - 1) + 'W');
    }
    return it == table.end() ? nullptr : &it->second;
}

}  // namespace

const std::vector<Refusal>& FaultSweep::refusalsOf(const std::string& function)
{
    static const std::vector<Refusal> installerFailure{{ERROR_FUNCTION_FAILED, 0}};
    static const std::vector<Refusal> invalidHandle{{-1, ERROR_FUNCTION_FAILED}};
    static const std::vector<Refusal> zeroWithLastError{{0, ERROR_FUNCTION_FAILED}};
    if (const std::vector<Refusal>* row = rowOf(function)) {
        return *row;
    }
    if (function.rfind("Msi", 0) == 0) {
        return installerFailure;
    }
    return answersAnInvalidHandle(function) ? invalidHandle : zeroWithLastError;
}

bool FaultSweep::hasRow(const std::string& function)
{
    return rowOf(function) != nullptr;
}

void FaultSweep::setRefusals(const std::string& function, std::vector<Refusal> refusals)
{
    authorRows()[function] = std::move(refusals);
}

namespace {

const std::map<std::string, std::vector<Refusal>>& refusalTable()
{
    static const std::vector<Refusal> none;
    static const std::map<std::string, std::vector<Refusal>> table{
        // Calls with no failure of their own.
        {"GetLastError", none},
        {"SetLastError", none},
        {"IsDBCSLeadByte", none},
        {"GetACP", none},
        {"LocalFree", none},
        {"MsiRecordIsNull", none},
        // The installer's functions answer an error number; 0 is success.
        {"MsiCloseHandle", {{ERROR_INVALID_HANDLE, 0}}},
        // The W calls refuse as their A twins do.
        {"MsiGetPropertyA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiGetPropertyW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiSetPropertyA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiSetPropertyW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiGetTargetPathA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiGetTargetPathW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiGetSourcePathA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiGetSourcePathW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiSetTargetPathA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiSetTargetPathW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_DIRECTORY, 0}, {ERROR_FUNCTION_FAILED, 0}}},
        {"MsiCreateRecord", {{0, 0}}},
        {"MsiRecordSetStringA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordSetStringW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordSetInteger", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordSetStreamA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordGetStringA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordGetStringW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}}},
        {"MsiRecordGetInteger", {{static_cast<int>(MSI_NULL_INTEGER), 0}}},
        {"MsiRecordReadStream", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_DATATYPE, 0}}},
        {"MsiRecordGetFieldCount", {{-1, 0}}},
        {"MsiRecordDataSize", {{0, 0}}},
        {"MsiRecordClearData", {{ERROR_INVALID_HANDLE, 0}}},
        {"MsiGetLastErrorRecord", {{0, 0}}},
        // -1 is a failure; 0 (no action taken) is an answer the caller must take as well.
        {"MsiProcessMessage", {{-1, 0}, {0, 0}}},
        {"MsiGetActiveDatabase", {{0, 0}}},
        {"MsiDatabaseOpenViewA", {{ERROR_BAD_QUERY_SYNTAX, 0}, {ERROR_INVALID_HANDLE, 0}}},
        {"MsiDatabaseOpenViewW", {{ERROR_BAD_QUERY_SYNTAX, 0}, {ERROR_INVALID_HANDLE, 0}}},
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
        {"MsiFormatRecordW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_INVALID_PARAMETER, 0}, {ERROR_MORE_DATA, 0}}},
        {"MsiEvaluateConditionA", {{MSICONDITION_ERROR, 0}}},
        {"MsiEvaluateConditionW", {{MSICONDITION_ERROR, 0}}},
        {"MsiGetMode", none},
        {"MsiGetLanguage", {{0, 0}, {ERROR_INVALID_HANDLE, 0}}},
        {"MsiGetFeatureStateA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_FEATURE, 0}}},
        {"MsiGetFeatureStateW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_FEATURE, 0}}},
        {"MsiSetFeatureStateA", {{ERROR_FUNCTION_FAILED, 0}, {ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_FEATURE, 0}}},
        {"MsiSetFeatureStateW", {{ERROR_FUNCTION_FAILED, 0}, {ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_FEATURE, 0}}},
        {"MsiGetComponentStateA", {{ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_COMPONENT, 0}}},
        {"MsiGetComponentStateW", {{ERROR_INVALID_HANDLE, 0}, {ERROR_UNKNOWN_COMPONENT, 0}}},
        {"MsiSetComponentStateA",
         {{ERROR_FUNCTION_FAILED, 0},
          {ERROR_INSTALL_USEREXIT, 0},
          {ERROR_INVALID_HANDLE, 0},
          {ERROR_UNKNOWN_COMPONENT, 0}}},
        {"MsiSetComponentStateW",
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
        {"MsiDoActionW",
         {{ERROR_FUNCTION_NOT_CALLED, 0},
          {ERROR_INSTALL_FAILURE, 0},
          {ERROR_INSTALL_SUSPEND, 0},
          {ERROR_INSTALL_USEREXIT, 0},
          {ERROR_INVALID_DATA, 0},
          {ERROR_INVALID_HANDLE_STATE, 0}}},
        // No failure path, but any drive type may come back.
        {"GetDriveTypeA", {{DRIVE_UNKNOWN, 0}, {DRIVE_NO_ROOT_DIR, 0}}},
        {"GetDriveTypeW", {{DRIVE_UNKNOWN, 0}, {DRIVE_NO_ROOT_DIR, 0}}},
        {"GetVolumePathNameA",
         {{FALSE, ERROR_FILE_NOT_FOUND}, {FALSE, ERROR_INVALID_NAME}, {FALSE, ERROR_FILENAME_EXCED_RANGE}}},
        {"GetVolumePathNameW",
         {{FALSE, ERROR_FILE_NOT_FOUND}, {FALSE, ERROR_INVALID_NAME}, {FALSE, ERROR_FILENAME_EXCED_RANGE}}},
        // Refused, or a folder that grew longer than the buffer between two calls.
        {"GetTempPathA", {{0, ERROR_ACCESS_DENIED}, {3000, 0}}},
        {"GetTempPathW", {{0, ERROR_ACCESS_DENIED}, {3000, 0}}},
        {"DeleteFileA", {{FALSE, ERROR_ACCESS_DENIED}, {FALSE, ERROR_FILE_NOT_FOUND}}},
        {"DeleteFileW",
         {{FALSE, ERROR_ACCESS_DENIED},
          {FALSE, ERROR_FILE_NOT_FOUND},
          {FALSE, ERROR_SHARING_VIOLATION},
          {FALSE, ERROR_INVALID_NAME}}},
        {"FindFirstFileA", {{-1, ERROR_FILE_NOT_FOUND}, {-1, ERROR_ACCESS_DENIED}}},
        {"FindFirstFileW",
         {{-1, ERROR_FILE_NOT_FOUND}, {-1, ERROR_PATH_NOT_FOUND}, {-1, ERROR_ACCESS_DENIED}, {-1, ERROR_INVALID_NAME}}},
        {"FindClose", {{FALSE, ERROR_INVALID_HANDLE}}},
        // A file in use by another process, or one the user may not write; a full disk.
        {"CreateFileA", {{-1, ERROR_ACCESS_DENIED}, {-1, ERROR_SHARING_VIOLATION}}},
        {"CreateFileW",
         {{-1, ERROR_FILE_NOT_FOUND},
          {-1, ERROR_PATH_NOT_FOUND},
          {-1, ERROR_ACCESS_DENIED},
          {-1, ERROR_SHARING_VIOLATION},
          {-1, ERROR_FILE_EXISTS},
          {-1, ERROR_INVALID_NAME}}},
        {"WriteFile", {{FALSE, ERROR_DISK_FULL}}},
        // A synchronous read ends with TRUE and 0 bytes; these are its failures.
        {"ReadFile", {{FALSE, ERROR_HANDLE_EOF}, {FALSE, ERROR_ACCESS_DENIED}, {FALSE, ERROR_INVALID_HANDLE}}},
        {"FlushFileBuffers", {{FALSE, ERROR_ACCESS_DENIED}, {FALSE, ERROR_DISK_FULL}}},
        {"GetFileSizeEx", {{FALSE, ERROR_INVALID_HANDLE}, {FALSE, ERROR_ACCESS_DENIED}}},
        {"MoveFileExW",
         {{FALSE, ERROR_FILE_NOT_FOUND},
          {FALSE, ERROR_PATH_NOT_FOUND},
          {FALSE, ERROR_ACCESS_DENIED},
          {FALSE, ERROR_SHARING_VIOLATION},
          {FALSE, ERROR_ALREADY_EXISTS},
          {FALSE, ERROR_DISK_FULL}}},
        {"CopyFileW",
         {{FALSE, ERROR_FILE_NOT_FOUND},
          {FALSE, ERROR_PATH_NOT_FOUND},
          {FALSE, ERROR_ACCESS_DENIED},
          {FALSE, ERROR_SHARING_VIOLATION},
          {FALSE, ERROR_FILE_EXISTS},
          {FALSE, ERROR_DISK_FULL}}},
        {"CreateDirectoryW",
         {{FALSE, ERROR_ALREADY_EXISTS}, {FALSE, ERROR_PATH_NOT_FOUND}, {FALSE, ERROR_ACCESS_DENIED}}},
        {"RemoveDirectoryW",
         {{FALSE, ERROR_FILE_NOT_FOUND},
          {FALSE, ERROR_DIR_NOT_EMPTY},
          {FALSE, ERROR_ACCESS_DENIED},
          {FALSE, ERROR_SHARING_VIOLATION}}},
        {"GetFileAttributesW",
         {{static_cast<std::int64_t>(INVALID_FILE_ATTRIBUTES), ERROR_FILE_NOT_FOUND},
          {static_cast<std::int64_t>(INVALID_FILE_ATTRIBUTES), ERROR_PATH_NOT_FOUND},
          {static_cast<std::int64_t>(INVALID_FILE_ATTRIBUTES), ERROR_ACCESS_DENIED}}},
        // Conversions fail for a buffer too small or text the caller asked to be refused; GetCPInfo
        // for a code page the system lacks.
        {"MultiByteToWideChar", {{0, ERROR_INSUFFICIENT_BUFFER}, {0, ERROR_NO_UNICODE_TRANSLATION}}},
        {"WideCharToMultiByte", {{0, ERROR_INSUFFICIENT_BUFFER}, {0, ERROR_NO_UNICODE_TRANSLATION}}},
        {"GetCPInfo", {{FALSE, ERROR_INVALID_PARAMETER}}},
        {"CloseHandle", {{FALSE, ERROR_INVALID_HANDLE}}},
        {"Sleep", none},
        {"GetTickCount", none},
        {"FormatMessageA", {{0, ERROR_MR_MID_NOT_FOUND}}},
        {"MessageBoxA", {{0, ERROR_NOT_ENOUGH_MEMORY}}},
        {"LoadStringA", {{0, ERROR_RESOURCE_NAME_NOT_FOUND}}},
    };
    return table;
}

}  // namespace

SweepReport sweepAction(Action action, const ActionWorld& world)
{
    auto scenario = [&](FaultSweep::Run& run) {
        // The faults were armed right before the scenario began, so they count from here as well.
        const std::size_t messagesBefore = sim::messages().size();
        const std::size_t journalBefore = sim::callLog().size();
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
            (answer == ERROR_INSTALL_USEREXIT && userCancelled(run.faults)) ||
            std::find(world.alsoAccepted.begin(), world.alsoAccepted.end(), answer) != world.alsoAccepted.end();
        if (!accepted) {
            run.problems.push_back("the action answered " + std::to_string(answer));
        }
        if (answer == ERROR_INSTALL_FAILURE && !endedOnTheFramesReport(messagesBefore, journalBefore, run.faults)) {
            run.problems.push_back(
                "the action answered 1603 without a report to the installer (the action frame's report, sent last)");
        }
        if (world.check) {
            if (std::string problem = world.check(run, answer); !problem.empty()) {
                run.problems.push_back(std::move(problem));
            }
        }
    };
    SweepReport report = FaultSweep(world.name, world.setUp, scenario).run();
    report.worldChecked = static_cast<bool>(world.check);
    return report;
}

Condition propertyIs(std::string name, std::string value)
{
    return [name = std::move(name), value = std::move(value)](const FaultSweep::Run& run) -> std::string {
        const std::string found = sim::property(run.session, name);
        return found == value ? "" : name + " is \"" + found + "\" rather than \"" + value + "\"";
    };
}

WorldCheck whenAnswered(UINT answer, Condition condition)
{
    return [answer, condition = std::move(condition)](const FaultSweep::Run& run, UINT given) -> std::string {
        if (given != answer) {
            return "";
        }
        const std::string found = condition(run);
        return found.empty() ? "" : "answered " + std::to_string(answer) + ", but " + found;
    };
}

WorldCheck allOf(std::vector<WorldCheck> checks)
{
    return [checks = std::move(checks)](const FaultSweep::Run& run, UINT answer) {
        std::string problems;
        for (const WorldCheck& check : checks) {
            if (std::string problem = check(run, answer); !problem.empty()) {
                problems += (problems.empty() ? "" : "; ") + problem;
            }
        }
        return problems;
    };
}

std::string summaryOf(const SweepReport& report)
{
    std::ostringstream line;
    line << "sweep " << report.name << ": " << report.cases << " cases run, " << report.held << " held ("
         << report.calls << " calls, " << report.allocations << " allocations)";
    if (!report.leaksChecked) {
        line << "; no leak check without LeakSanitizer";
    }
    if (!report.worldChecked) {
        line << "; no world check, so an answer's work was not looked at";
    }
    if (!report.unlisted.empty()) {
        line << "; refused by their kind, with no row of their own:";
        for (const std::string& function : report.unlisted) {
            line << ' ' << function;
        }
    }
    return line.str();
}

void expectEveryCaseHolds(const SweepReport& report, std::source_location where)
{
    const int line = static_cast<int>(where.line());
    for (const std::string& problem : report.problems) {
        ADD_FAILURE_AT(where.file_name(), line) << report.name << ": " << problem;
    }
    std::printf("%s\n", summaryOf(report).c_str());
    if (report.held != report.cases) {
        ADD_FAILURE_AT(where.file_name(), line)
            << report.name << ": " << report.cases - report.held << " of " << report.cases << " cases did not hold";
    }
}

}  // namespace qel::testing
