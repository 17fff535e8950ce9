// The fault sweep: an action (or any piece of library code) run again and again on the platform
// model, each time with one more thing going wrong, and checked after every run.
//
// A clean run records the platform calls the model saw once the world was set up (its journal).
// Then every position of that journal is refused in turn with each plausible result of its
// function (a failed MsiGetPropertyA answers ERROR_INVALID_HANDLE or ERROR_FUNCTION_FAILED,
// MsiProcessMessage -1 or 0, ...). After each such refusal the sweep also refuses, in turn, every
// later call of that run (the way an ended action reports goes through the installer too) and
// fails every allocation of that run in turn; last, every allocation of the clean run fails in
// turn. The calls come from the journal, so a new platform call in the code is swept even before it
// has a row of its own in refusalsOf: it is refused as its kind of call fails (see refusalsOf), and
// the report names it, so that its row gets written with the refusals its documentation lists.
//
// After every case the sweep checks what nothing may leave behind, whatever failed (sim::leftovers():
// the session still open and never closed, no handle closed twice, no record, search or file handle
// left open but for one whose close the case refused, every system message buffer freed once). With
// LeakSanitizer in the test executable (-fsanitize=address) it also checks that no memory leaked:
// after each case that left a block of its allocations unfreed, so that a leak is blamed on the
// case that made it, and once more after the whole sweep for memory that did not come from operator
// new. Without the sanitizer there is no leak check, and the report says so.
//
// For a custom action, sweepAction does all of this and checks the action's answers; the world's
// check says what the answers mean in that world:
//
//     TEST(MyActionSweep, EveryCaseHolds)
//     {
//         namespace kit = qel::testing;
//         const kit::ActionWorld world{"CdRom",
//             [](MSIHANDLE session) { sim::setProperty(session, "INPUT", "1"); },
//             kit::whenAnswered(ERROR_SUCCESS, kit::propertyIs("OUTPUT", "done"))};
//         kit::expectEveryCaseHolds(kit::sweepAction(&myAction, world));
//     }
//
// Run a sweep from a plain TEST, not from a SessionTest case: it resets the model for every case.
#pragma once

#include "../testing/FailingAllocation.h"
#include "QelCustInst/Simulation.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <source_location>
#include <string>
#include <vector>

namespace qel::testing {

// What a refused call answers: its result (converted to the function's own result type) and what
// GetLastError answers afterwards (0: left as it was).
struct Refusal {
    std::int64_t result;
    DWORD lastError;
};

// One refused call: the nth call of the function, counted from the end of the world's setUp.
struct Fault {
    std::string function;
    int nth;
    Refusal refusal;
};

// What one sweep ran and found.
struct SweepReport {
    std::string name;
    std::size_t cases = 0;
    std::size_t held = 0;
    std::size_t calls = 0;              // platform calls of the clean run, after the world's setUp
    std::size_t allocations = 0;        // allocations of the clean run
    bool leaksChecked = false;          // LeakSanitizer was there to look
    std::vector<std::string> problems;  // "<the case's faults>: <what went wrong>"
    bool worldChecked = true;           // an action's sweep had a world check to judge its answers
    std::vector<std::string> unlisted;  // functions of the clean run refused without a row of their own
};

// One line: "sweep NAME: N cases run, M held (C calls, A allocations)", what was not checked, and
// the calls refused without a row of their own.
std::string summaryOf(const SweepReport& report);

class FaultSweep {
public:
    // What the code under test is given in one case.
    struct Run {
        MSIHANDLE session;                   // the case's session, open and set up by the world
        const std::vector<Fault>& faults;    // the refusals armed for this case
        FailingAllocation& memory;           // stopped; watched() resumes it around library code
        std::vector<std::string>& problems;  // add what is wrong with this case

        // Runs `code` with its allocations counted (and the chosen one failed), then stops the
        // watch again, also when `code` throws.
        template <class Code>
        void watched(Code&& code) const
        {
            memory.resume();
            try {
                code();
            } catch (...) {
                memory.stop();
                throw;
            }
            memory.stop();
        }

        // Whether a call of this function is refused in this case.
        bool refuses(const std::string& function) const;
        // Whether a Windows call (one not of the installer, whose names begin with "Msi") is
        // refused in this case: a system that refuses to answer may make the world read otherwise.
        bool refusesSystemCall() const;
    };

    using Scenario = std::function<void(Run&)>;
    using SetUp = std::function<void(MSIHANDLE session)>;

    // `setUp` builds the world on a fresh model and session before every case; `scenario` runs
    // the code under test and adds the problems it sees to the run.
    FaultSweep(std::string name, SetUp setUp, Scenario scenario);

    // Whether each refused call is followed by a second refusal at every later call of its run,
    // and by failed allocations of that run. On by default: it is how the way an ended action
    // reports gets swept. Code that does not report may turn it off to sweep faster.
    FaultSweep& sweepingAfterEachRefusal(bool on);

    // Runs every case; leaves the model reset.
    SweepReport run() const;

    // The plausible refusals of a platform function; functions that cannot fail (GetLastError,
    // MsiRecordIsNull, ...) have none. A function without a row is refused as its kind of call
    // fails: an installer function (its name begins with "Msi") answers ERROR_FUNCTION_FAILED; a
    // function documented to answer INVALID_HANDLE_VALUE (CreateFile, FindFirstFile, ...) answers it
    // with the last error ERROR_FUNCTION_FAILED; any other Windows function answers 0 (FALSE, a null
    // handle, no length) with that last error.
    static const std::vector<Refusal>& refusalsOf(const std::string& function);
    // Whether the function has a row of its own among the refusals.
    static bool hasRow(const std::string& function);
    // Gives a call of the author's own (a stand-in, sim::standIn) the refusals its documentation
    // lists, as the rows of the model's calls do; they take the place of any it had.
    static void setRefusals(const std::string& function, std::vector<Refusal> refusals);

private:
    std::string name;
    SetUp setUp;
    Scenario scenario;
    bool afterEachRefusal = true;
};

// A custom action as the installer calls it.
using Action = UINT(WINAPI*)(MSIHANDLE session);

// A world's judgement of a case: "" when the action's answer and what it did are right, else what
// is wrong.
using WorldCheck = std::function<std::string(const FaultSweep::Run& run, UINT answer)>;

// A world for sweepAction: its name, how to build it, and how to judge an answer in it.
struct ActionWorld {
    std::string name;
    FaultSweep::SetUp setUp;
    // Called after every case with the action's answer. Say here what "the work done" is for 0, what
    // must stay untouched after 1603, and whether an answer in alsoAccepted fits the world: the
    // sweep's own checks cannot see an action that swallows a refusal and answers 0 without its
    // work done. whenAnswered and allOf below build the usual checks. May be empty.
    WorldCheck check = {};
    // Answers besides 0 and ERROR_INSTALL_FAILURE (1603) that the action may give, such as
    // ERROR_INSTALL_USEREXIT (1602) from the action's own logic.
    std::vector<UINT> alsoAccepted = {};
};

// The sweep of an action in a world. Besides what every sweep checks, each case must hold: no
// exception out of the action; the answer 0, 1603 or one of alsoAccepted; with 1603, the action
// frame's report as the last message the action sent to the installer (an INSTALLMESSAGE_INFO
// message whose record has the template "[1]" in field 0 and "<action's name>: <report>" in field
// 1, as qel::runAction sends it), or a last offer of a message that the case refused (the last
// MsiCreateRecord, MsiRecordSetStringA or MsiProcessMessage call of the action: what it carried is
// not known); and the world's check.
SweepReport sweepAction(Action action, const ActionWorld& world);

// What a world's check looks at after a case: "" when it holds, else what was found instead.
using Condition = std::function<std::string(const FaultSweep::Run& run)>;

// The property holds `value` ("" for a property that is not set). Found instead:
// `OUTPUT is "" rather than "done"`.
Condition propertyIs(std::string name, std::string value);

// The check most actions need: after the answer `answer`, `condition` holds. For 0 it says what the
// work done is; for 1603, what a failed action must leave as it was. A problem reads
// `answered 0, but OUTPUT is "" rather than "done"`.
WorldCheck whenAnswered(UINT answer, Condition condition);

// Every check in turn; the problems of those that fail, joined by "; ".
WorldCheck allOf(std::vector<WorldCheck> checks);

// A GoogleTest failure for every problem of the report, and its summary on standard output. The
// failures point at the line that calls this function.
void expectEveryCaseHolds(const SweepReport& report, std::source_location where = std::source_location::current());

}  // namespace qel::testing
