// The fault sweep of the library's own code: the two actions, and a message processor going
// through its operations, each in every world below, swept by the kit's FaultSweep (every platform
// call of a clean run refused in turn with each plausible result, a second refusal on the way an
// ended action reports, every allocation failing in turn). Besides what the sweep checks of every
// case, each must hold here: the action's answer matching what it did, nothing but the library's
// exceptions out of the processor, and a failed initialize changing nothing.
#include "testing/FaultSweep.h"
#include "Simulation.h"
#include "actions/ActionFrame.h"
#include "actions/QelCustInst.h"
#include "errors/EKestMsiError.h"
#include "messages/KestMsiMessageProcessor.h"
#include "msi/Database.h"
#include "msi/KestMsiRecord.h"
#include "msi/Session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

namespace {

namespace fs = std::filesystem;

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

void onDrive(MSIHANDLE session, const char* source, UINT type)
{
    sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Demo\\", source);
    sim::setDrive(std::string(source, 3), type);
}

struct World {
    const char* name;
    void (*change)(MSIHANDLE session);  // what sets it apart from a package on a CD-ROM drive
    bool onlyFiles = false;             // differs from the others only in the temporary folder
    bool onlySource = false;            // differs from the others only in the drive of the source

    void setUp(MSIHANDLE session) const
    {
        onDrive(session, "D:\\Setup\\", DRIVE_CDROM);
        change(session);
    }
};

const World worlds[] = {
    {"CdRom", [](MSIHANDLE) {}},
    {"FixedSource", [](MSIHANDLE session) { onDrive(session, "C:\\Setup\\", DRIVE_FIXED); }, false, true},
    // A disc mounted in a folder of a fixed drive, which code page 1252 cannot spell.
    {"CdInAFolderTheCodePageLacks",
     [](MSIHANDLE session) {
         onDrive(session, "E:\\Диски\\CD\\Setup\\", DRIVE_FIXED);
         sim::setDrive("E:\\Диски\\CD\\", DRIVE_CDROM);
     },
     false, true},
    {"PendingErrorRecord",
     [](MSIHANDLE) {
         sim::setPendingErrorRecord({std::string("[1] failed"), 2228, std::string("the installer's own")});
     }},
    {"TempFolderMissing",
     [](MSIHANDLE) {
         const std::string gone = hostTempFolder() + "/gone";
         sim::setTempPath(gone);
         fs::remove(gone);
     },
     true},
    {"TempFolderIsAFile",
     [](MSIHANDLE) {
         const std::string file = hostTempFolder() + "/file";
         sim::setTempPath(file);
         fs::remove(file);
         std::ofstream(file) << "not a folder";
     },
     true},
    {"TempFolderNamedInCyrillic", [](MSIHANDLE) { sim::setTempPath("C:\\users\\Пользователь\\Temp\\"); }, true},
    {"LogIsAFolder", [](MSIHANDLE) { fs::create_directory(hostTempFolder() + "/setup.log"); }, true},
    {"PersistenceFileIsAFolder", [](MSIHANDLE) { fs::create_directory(hostTempFolder() + "/setup.mpp"); }, true},
    {"LogOnAFullDevice", [](MSIHANDLE) { fs::create_symlink("/dev/full", hostTempFolder() + "/setup.log"); }, true},
    {"TempPathLongerThan2048",
     [](MSIHANDLE) {
         std::string folder = hostTempFolder();
         while (folder.size() <= 2100) {
             folder += "/" + std::string(200, 'd');
         }
         sim::setTempPath(folder);
     },
     true},
};

// ---- Scenarios -----------------------------------------------------------------------------------

namespace kit = qel::testing;

constexpr const char* untouched = "untouched";

// Whether the installer took the frame's report of the action: an informational message whose
// field 0 is "[1]" and whose field 1 begins with the action's name.
bool reportTaken(const char* action)
{
    const std::string start = std::string(action) + ": ";
    const auto& sent = sim::messages();
    return std::any_of(sent.begin(), sent.end(), [&](const sim::Message& message) {
        const auto* text = message.fields.size() == 2 ? std::get_if<std::string>(&message.fields[1]) : nullptr;
        return message.type == INSTALLMESSAGE_INFO && message.fields[0] == sim::Field(std::string("[1]")) && text &&
               text->rfind(start, 0) == 0;
    });
}

// Whether the frame's report met one refusal at most, and none it could not tell. Its calls are
// MsiCreateRecord, MsiRecordSetStringA and MsiProcessMessage (refused with -1); every refusal of
// these counts, also one that met the action's own calls. MsiProcessMessage answering 0 took
// nothing here, but 0 is also what a real installer answers for a message it took.
bool reportMetOneRefusalAtMost(const kit::FaultSweep::Run& run)
{
    std::size_t refusals = 0;
    for (const kit::Fault& fault : run.faults) {
        if (fault.function == "MsiProcessMessage" && fault.refusal.result == 0) {
            return false;
        }
        refusals += fault.function == "MsiCreateRecord" || fault.function == "MsiRecordSetStringA" ||
                            fault.function == "MsiProcessMessage"
                        ? 1
                        : 0;
    }
    return refusals <= 1;
}

// What an action must have done for its answer: its work for 0; for 1603 nothing, and a report the
// installer took, unless two refusals stood in its way (a report is offered twice) or one it could
// not tell.
std::string judgeAction(const kit::FaultSweep::Run& run, const char* action, UINT answer, bool effectDone)
{
    if (answer == ERROR_SUCCESS) {
        return effectDone ? "" : "answered 0 without doing its work";
    }
    if (answer == ERROR_INSTALL_FAILURE && sim::property(run.session, "PROMPT_FOR_CD1") != untouched) {
        return "failed but changed PROMPT_FOR_CD1";
    }
    if (answer == ERROR_INSTALL_FAILURE && reportMetOneRefusalAtMost(run) && !reportTaken(action)) {
        return "its report was lost to a single refusal";
    }
    return "";
}

// Both actions start from PROMPT_FOR_CD1 untouched.
void untouchedProperty(MSIHANDLE session)
{
    sim::setProperty(session, "PROMPT_FOR_CD1", untouched);
}

std::string runningFromCdJudged(const kit::FaultSweep::Run& run, UINT answer)
{
    const std::string expected = sim::sourcePath(run.session, "INSTALLDIR")[0] == 'C' ? "0" : "1";
    // Windows refusing to say what the drive is may make a CD-ROM read as another drive, never the
    // reverse; so may the installer refusing the wide text of a source path whose ANSI text lost
    // characters, which leaves the action with the ANSI text.
    const std::string written = sim::property(run.session, "PROMPT_FOR_CD1");
    const bool refused = run.refusesSystemCall() || run.refuses("MsiGetSourcePathW");
    return judgeAction(run, "qelAreWeRunningFromCD", answer, written == expected || (refused && written == "0"));
}

// Done: the message went out, or the record could not be made and nothing was sent.
std::string promptForOriginalDiskJudged(const kit::FaultSweep::Run& run, UINT answer)
{
    const auto& sent = sim::messages();
    const bool effectDone = sent.empty() || (sent.size() == 1 && sent[0].type == INSTALLMESSAGE_INFO &&
                                             sent[0].fields.size() == 2 && sent[0].fields[1] == sim::Field(26002));
    return judgeAction(run, "qelPromptForOriginalDisk", answer, effectDone);
}

// A processor whose state the sweep can compare before and after a failed initialize.
class ObservedProcessor : public KestMsiMessageProcessor {
public:
    auto state() const
    {
        return std::make_tuple(logActive, std::string(logFileName), static_cast<const std::ostream*>(logStream),
                               ownsStream);
    }
};

// Whether an operation may let std::bad_alloc out: only the two dialogBox forms that, by their
// rule, pass every exception outside the family on unchanged.
enum class Foreign { trapped, passesOn };

// One operation of the processor: only the library's exceptions may come out of it.
template <class Operation>
bool operate(kit::FaultSweep::Run& run, const char* what, Operation&& operation, Foreign foreign = Foreign::trapped)
{
    try {
        run.watched(operation);
        return true;
    } catch (const EKestException&) {
    } catch (const std::bad_alloc&) {
        if (foreign == Foreign::trapped) {
            run.problems.push_back(std::string(what) + " let out std::bad_alloc");
        }
    } catch (...) {
        run.problems.push_back(std::string(what) + " let out something outside the library's family");
    }
    return false;
}

void initializeOrChangeNothing(kit::FaultSweep::Run& run, ObservedProcessor& processor, const KestCString& name)
{
    const auto before = processor.state();
    if (!operate(run, "initialize", [&] { processor.initialize(name); }) && processor.state() != before) {
        run.problems.push_back("a failed initialize(" + name + ") changed the processor");
    }
}

void messageProcessorSteps(kit::FaultSweep::Run& run)
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

// An author's action making the one-line calls that the examples' sweeps do not: a temporary row,
// a query with a parameter, a component's state, a source path, a message of text, the language,
// and the three that change the installation: a feature's and a component's request and a
// directory's target. Its work: what it found and the language, in two properties, and the changes.
UINT WINAPI authorCalls(MSIHANDLE session)
{
    return qel::runAction(session, "authorCalls", [](KestMsiHandle& handle) -> UINT {
        qel::insertTemporary(handle, "SELECT `Name`, `Value` FROM `Setting`", qel::record("Added", "[ProductName]"));
        std::string found;
        for (const KestMsiRecord& row :
             qel::rows(handle, "SELECT `Value` FROM `Setting` WHERE `Name` = ?", qel::record("Added"))) {
            found = qel::format(handle, qel::text(row, 1));
        }
        if (qel::componentState(handle, "Folder").isBeingInstalled()) {
            found += " " + qel::sourcePath(handle, "INSTALLDIR");
        }
        qel::cancelIfAsked(qel::message(handle, INSTALLMESSAGE_WARNING, found, MB_OKCANCEL));
        qel::setFeatureState(handle, "Main", INSTALLSTATE_SOURCE);
        qel::setComponentState(handle, "Folder", INSTALLSTATE_LOCAL);
        qel::setTargetPath(handle, "INSTALLDIR", qel::targetPath(handle, "INSTALLDIR") + "Sub");
        qel::setProperty(handle, "AUTHOR_FOUND", found);
        qel::setProperty(handle, "AUTHOR_LANGUAGE", qel::language(handle));
        return ERROR_SUCCESS;
    });
}

void authorCallsPackage(MSIHANDLE session)
{
    sim::setProperty(session, "ProductName", "Demo");
    sim::setLanguage(session, 1033);
    sim::setFeature(session, "Main", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL, {"Folder"});
    sim::addTable(session, "Setting", {{"Name", "s72"}, {"Value", "S255"}});
    sim::addRow(session, "Setting", {std::string("Port"), std::string("8080")});
}

std::string authorCallsJudged(const kit::FaultSweep::Run& run, UINT answer)
{
    if (answer != ERROR_SUCCESS) {
        return "";
    }
    // A fetch may answer that there are no more rows, and MsiGetLanguage may tell none.
    const std::string found = sim::property(run.session, "AUTHOR_FOUND");
    const std::string source = " " + sim::sourcePath(run.session, "INSTALLDIR");
    const bool foundAll = found == "Demo" + source || (run.refuses("MsiViewFetch") && found == source);
    const bool language = sim::property(run.session, "AUTHOR_LANGUAGE") == "1033" || run.refuses("MsiGetLanguage");
    // The feature's request gave its component SOURCE, and the component's own took it back.
    const bool changed = sim::featureStates(run.session, "Main").action == INSTALLSTATE_SOURCE &&
                         sim::componentStates(run.session, "Folder").action == INSTALLSTATE_LOCAL &&
                         sim::targetPath(run.session, "INSTALLDIR") == "C:\\Program Files\\Demo\\Sub\\";
    return foundAll && language && changed ? "" : "answered 0 without doing its work";
}

struct Scenario {
    const char* name;
    kit::Action action;  // none: the message processor's steps
    void (*prepare)(MSIHANDLE session);
    kit::WorldCheck check;
    bool usesFiles;           // runs in the worlds that differ only in the temporary folder, too
    bool ofTheSource = true;  // runs in the worlds that differ only in the drive of the source

    kit::SweepReport sweep(const World& world) const
    {
        const std::string title = std::string(name) + " in " + world.name;
        if (action == nullptr) {
            // The processor reports nothing of its own, so no second refusal is swept after the first.
            return kit::FaultSweep(
                       title, [&](MSIHANDLE session) { world.setUp(session); }, messageProcessorSteps)
                .sweepingAfterEachRefusal(false)
                .run();
        }
        return kit::sweepAction(action, {title,
                                         [&](MSIHANDLE session) {
                                             world.setUp(session);
                                             prepare(session);
                                         },
                                         check});
    }
};

const Scenario scenarios[] = {
    {"RunningFromCd", qelAreWeRunningFromCD, untouchedProperty, runningFromCdJudged, false},
    {"PromptForOriginalDisk", qelPromptForOriginalDisk, untouchedProperty, promptForOriginalDiskJudged, false},
    {"MessageProcessor", nullptr, nullptr, {}, true},
    {"AuthorCalls", authorCalls, authorCallsPackage, authorCallsJudged, false, false},
};

// ---- The sweep -----------------------------------------------------------------------------------

// A scenario and a world; the case's name says which.
using Sweep = std::pair<const Scenario*, const World*>;

// ctest lists a case by its scenario and world, not by two addresses.
void PrintTo(const Sweep& sweep, std::ostream* out)
{
    *out << sweep.first->name << " in " << sweep.second->name;
}

class FaultSweep : public ::testing::TestWithParam<Sweep> {};

TEST_P(FaultSweep, EveryCaseHolds)
{
    const auto [scenario, world] = GetParam();
    const kit::SweepReport report = scenario->sweep(*world);
    kit::expectEveryCaseHolds(report);
    // Every call the library makes is refused as its documentation says it fails.
    EXPECT_TRUE(report.unlisted.empty()) << "no row of its own for " << report.unlisted.front();
}

std::vector<Sweep> everyScenarioInEveryWorld()
{
    std::vector<Sweep> all;
    for (const Scenario& scenario : scenarios) {
        for (const World& world : worlds) {
            if ((scenario.usesFiles || !world.onlyFiles) && (scenario.ofTheSource || !world.onlySource)) {
                all.emplace_back(&scenario, &world);
            }
        }
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(, FaultSweep, ::testing::ValuesIn(everyScenarioInEveryWorld()), [](const auto& info) {
    return std::string(info.param.first->name) + "_" + info.param.second->name;
});

}  // namespace
