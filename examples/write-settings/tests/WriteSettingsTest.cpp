// The actions on the platform model, in whole installations: what the settings file holds after a
// first installation, a failed or cancelled one, a repair and a removal; then their fault sweep.
#include "../src/WriteSettings.h"

#include "QelCustInst/Simulation.h"
#include "QelCustInst/actions/ActionFrame.h"
#include "QelCustInst/errors/Raise.h"
#include "QelCustInst/testing/FaultSweep.h"
#include "QelCustInst/testing/SessionTest.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// ---- The package and the installation ------------------------------------------------------------

// The package's table: Setting, Name, Value (formatted), Condition, Feature_, Sequence.
const std::vector<std::vector<sim::Field>> settingRows{
    {"Port", "Port", "8080", sim::Null{}, "Main", 1},
    {"DataFolder", "DataFolder", "[INSTALLDIR]data", sim::Null{}, "Main", 2},
    {"Product", "Product", "[ProductName] [ProductVersion]", sim::Null{}, "Main", 3},
    {"LogLevel", "LogLevel", "debug", "QEL_DEBUG = 1", "Main", 4},
    {"Separators", "Separators", "a;b=c%d", sim::Null{}, "Main", 5},
    {"Extra", "Extra", "yes", sim::Null{}, "Extras", 6},
};

// INSTALLDIR, as the installer names it (Windows' form of a folder under the model's temporary
// folder) and on the host's disk.
std::string installDir()
{
    std::string folder = sim::tempPath() + "Write Settings\\";
    for (char& c : folder) {
        c = c == '/' ? '\\' : c;
    }
    return folder;
}
fs::path settingsFile()
{
    return fs::path(sim::tempPath()) / "Write Settings" / "settings.ini";
}

// What the file holds, line by line; none when there is no file.
std::optional<Lines> written()
{
    std::ifstream file(settingsFile(), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::stringstream text;
    text << file.rdbuf();
    Lines lines;
    std::string all = text.str();
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t end = all.find("\r\n", at);
        lines.push_back(all.substr(at, end - at));
        at = end == std::string::npos ? all.size() : end + 2;
    }
    return lines;
}

// The lines of the first `rows` rows of the table, formatted, that the installation writes.
Lines everyLine(const std::string& folder, bool debug, std::size_t rows = settingRows.size())
{
    const Lines all{"Port=8080", "DataFolder=" + folder + "data", "Product=Write Settings 1.0.0", "LogLevel=debug",
                    "Separators=a;b=c%d"};
    Lines lines;
    for (std::size_t row = 0; row < rows && row < all.size(); ++row) {
        if (all[row] != "LogLevel=debug" || debug) {
            lines.push_back(all[row]);
        }
    }
    return lines;
}

// An action after the settings' writing that fails the installation, with its report.
UINT WINAPI failLate(MSIHANDLE session)
{
    return qel::runAction(session, "qelFailLate", [](KestMsiHandle&) {
        static constexpr PersistingRule rule("failLate", "WriteSettingsTest", persisting::none, persisting::none,
                                             persisting::none, persisting::noCatchAll);
        raiseException(rule, "the installation fails after the settings were written");
    });
}
UINT WINAPI scheduleFailLate(MSIHANDLE session)
{
    return MsiDoActionA(session, "qelFailLate");
}

// A session as the installer runs the package: its table, properties, folder and custom actions.
struct Installation {
    const char* name;
    enum Kind { first, repair, removal } kind = first;
    bool debug = false;
    bool failsLate = false;
    int cancelAtMessage = 0;  // the nth message the installer takes is answered Cancel (0: none)
    bool fileBefore = false;  // the settings file is there when it starts
    bool emptyTable = false;
    std::size_t rows = settingRows.size();  // the first rows of the table the package has
};

void PrintTo(const Installation& installation, std::ostream* out)
{
    *out << installation.name;
}

void setUp(MSIHANDLE session, const Installation& installation)
{
    fs::create_directories(settingsFile().parent_path());
    if (installation.fileBefore) {
        std::ofstream(settingsFile()) << "Port=1\r\n";
    }
    sim::setDirectory(session, "INSTALLDIR", installDir(), "C:\\Setup\\");
    sim::setProperty(session, "ProductName", "Write Settings");
    sim::setProperty(session, "ProductVersion", "1.0.0");
    if (installation.debug) {
        sim::setProperty(session, "QEL_DEBUG", "1");
    }
    if (installation.kind == Installation::repair) {
        sim::setMode(session, MSIRUNMODE_MAINTENANCE, true);
    }
    if (installation.kind == Installation::removal) {
        sim::setMode(session, MSIRUNMODE_MAINTENANCE, true);
        sim::setProperty(session, "REMOVE", "ALL");
    }
    sim::addTable(session, "QelSetting",
                  {{"Setting", "s72"},
                   {"Name", "s72"},
                   {"Value", "S255"},
                   {"Condition", "S255"},
                   {"Feature_", "s38"},
                   {"Sequence", "i2"}});
    // Main goes on the machine; Extras, above the installation's level, does not (on a removal
    // both leave).
    const bool removal = installation.kind == Installation::removal;
    sim::setFeature(session, "Main", removal ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT,
                    removal ? INSTALLSTATE_ABSENT : INSTALLSTATE_LOCAL);
    sim::setFeature(session, "Extras", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN);
    for (std::size_t row = 0; !installation.emptyTable && row < installation.rows; ++row) {
        sim::addRow(session, "QelSetting", settingRows[row]);
    }
    constexpr int deferred = sim::customActionDll | sim::customActionInScript | sim::customActionNoImpersonate;
    sim::addCustomAction(session, "qelWriteSettings", deferred, &qelWriteSettings);
    sim::addCustomAction(session, "qelRollbackSettings", deferred | sim::customActionRollback, &qelRemoveSettings);
    sim::addCustomAction(session, "qelRemoveSettings", deferred, &qelRemoveSettings);
    sim::addCustomAction(session, "qelFailLate", deferred, &failLate);
    if (installation.cancelAtMessage > 0) {
        sim::beforeCall("MsiProcessMessage", installation.cancelAtMessage,
                        [] { sim::setProcessMessageResult(IDCANCEL); });
    }
}

// The immediate actions in the sequence's order, as the package schedules them.
std::vector<sim::Step> immediateActions(const Installation& installation)
{
    std::vector<sim::Step> steps;
    if (installation.kind == Installation::removal) {
        steps.emplace_back(&qelScheduleRemoval);
    } else {
        steps.emplace_back(&qelScheduleSettings);
    }
    if (installation.failsLate) {
        steps.emplace_back(&scheduleFailLate);
    }
    return steps;
}

sim::Installation install(MSIHANDLE session, const Installation& installation)
{
    return sim::runInstallation(session, immediateActions(installation));
}

class WriteSettingsTest : public qel::testing::SessionTest {};

TEST_F(WriteSettingsTest, TheFileHoldsTheTablesSettingsUntilTheProductGoes)
{
    enum class File { none, settings, settingsWithDebug, empty, asBefore };
    struct Case {
        Installation installation;
        UINT answer;
        File file;  // afterwards
        std::vector<std::string> ran;
    };
    const Case cases[] = {
        {{"first installation"}, ERROR_SUCCESS, File::settings, {"Action1", "qelWriteSettings"}},
        {{"first installation, QEL_DEBUG", Installation::first, true},
         ERROR_SUCCESS,
         File::settingsWithDebug,
         {"Action1", "qelWriteSettings"}},
        {{"an empty table", Installation::first, false, false, 0, false, true},
         ERROR_SUCCESS,
         File::empty,
         {"Action1", "qelWriteSettings"}},
        // The rollback action removes the file the writing left.
        {{"a later action fails", Installation::first, false, true},
         ERROR_INSTALL_FAILURE,
         File::none,
         {"Action1", "Action2", "qelWriteSettings", "qelFailLate", "qelRollbackSettings"}},
        // Messages: the progress added (1) and the log (2) of qelScheduleSettings; then
        // qelWriteSettings' ActionStart (3), ActionData (4) and progress (5).
        {{"the user cancels while the settings are written", Installation::first, false, false, 5},
         ERROR_INSTALL_USEREXIT,
         File::none,
         {"Action1", "qelWriteSettings", "qelRollbackSettings"}},
        {{"the user cancels before", Installation::first, false, false, 1},
         ERROR_INSTALL_USEREXIT,
         File::none,
         {"Action1"}},
        {{"a repair keeps the file", Installation::repair, false, false, 0, true},
         ERROR_SUCCESS,
         File::asBefore,
         {"Action1"}},
        {{"the product is removed", Installation::removal, false, false, 0, true},
         ERROR_SUCCESS,
         File::none,
         {"Action1", "qelRemoveSettings"}},
        {{"the product is removed, the file already gone", Installation::removal},
         ERROR_SUCCESS,
         File::none,
         {"Action1", "qelRemoveSettings"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.installation.name);
        resetModel();
        setUp(session, c.installation);

        const sim::Installation installation = install(session, c.installation);

        EXPECT_EQ(installation.result, c.answer);
        switch (c.file) {
        case File::none:
            EXPECT_EQ(written(), std::nullopt);
            break;
        case File::settings:
        case File::settingsWithDebug:
            EXPECT_EQ(written(), everyLine(installDir(), c.file == File::settingsWithDebug));
            break;
        case File::empty:
            EXPECT_EQ(written(), Lines{});
            break;
        case File::asBefore:
            EXPECT_EQ(written(), Lines{"Port=1"});
            break;
        }
        std::vector<std::string> ran;
        for (const sim::ActionRun& run : installation.runs) {
            ran.push_back(run.action);
        }
        EXPECT_EQ(ran, c.ran);
    }
}

TEST_F(WriteSettingsTest, TheWritingMovesTheProgressBarItsImmediateActionReserved)
{
    setUp(session, {"first installation"});

    ASSERT_EQ(install(session, {"first installation"}).result, static_cast<UINT>(ERROR_SUCCESS));

    const sim::Progress progress = sim::progress();
    EXPECT_EQ(progress.total, 4 * 10000);
    EXPECT_EQ(progress.done, progress.total);
    EXPECT_EQ(progress.malformed, 0);
}

TEST_F(WriteSettingsTest, AWritingWithoutItsDataFailsWithAReportAndWritesNothing)
{
    setUp(session, {"first installation"});
    const auto scheduleWithoutData = [](MSIHANDLE installation) -> UINT {
        MsiSetPropertyA(installation, "qelWriteSettings", "no deferred data");
        return MsiDoActionA(installation, "qelWriteSettings");
    };

    const sim::Installation installation = sim::runInstallation(session, {+scheduleWithoutData});

    EXPECT_EQ(installation.result, static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(written(), std::nullopt);
    ASSERT_FALSE(sim::messages().empty());
    const std::string report = std::get<std::string>(sim::messages().back().fields.at(1));
    EXPECT_NE(report.find("qelWriteSettings: Error: 0."), std::string::npos) << report;
    EXPECT_NE(report.find("The deferred data is malformed at byte 17: an entry without '='"), std::string::npos)
        << report;
}

// ---- The fault sweep -----------------------------------------------------------------------------

// The immediate actions of the swept installation, and what its last case ran.
std::vector<sim::Step> sweptSteps;
sim::Installation lastInstallation;

// The whole installation as one action for the sweep: the immediate actions, then the script. It
// allocates nothing of its own, so that each allocation the sweep fails is the actions'.
UINT WINAPI installSwept(MSIHANDLE session)
{
    lastInstallation = sim::runInstallation(session, sweptSteps);
    return lastInstallation.result;
}

// Done: for 0, the file holds exactly the settings (a repair keeps it, a removal leaves none); for
// a failure or a cancel, no file is left, unless the action that would remove it failed. A refused
// DeleteFileA may say the file was not there (its error ERROR_FILE_NOT_FOUND): the file may stay.
std::string judge(const Installation& installation, const qel::testing::FaultSweep::Run& run, UINT answer)
{
    const std::optional<Lines> file = written();
    const bool deleteRefused = run.refuses("DeleteFileA");
    if (answer == ERROR_SUCCESS) {
        switch (installation.kind) {
        case Installation::first: {
            // A fetch may answer that there are no more rows: the settings before it are written.
            const Lines all = everyLine(installDir(), installation.debug, installation.rows);
            const bool cutShort = run.refuses("MsiViewFetch") && file && file->size() < all.size() &&
                                  std::equal(file->begin(), file->end(), all.begin());
            return file == all || cutShort ? "" : "answered 0 without the settings written";
        }
        case Installation::repair:
            return file == Lines{"Port=1"} ? "" : "a repair changed the settings file";
        case Installation::removal:
            return file && !deleteRefused ? "answered 0 with the settings file left" : "";
        }
    }
    // MsiDoAction answers 1602 when the user cancelled in the action it ran; the test's own
    // immediate action passes that answer on.
    if (answer == ERROR_INSTALL_USEREXIT && installation.cancelAtMessage == 0 && !run.refuses("MsiDoActionA")) {
        return "answered 1602 but the user never cancelled";
    }
    bool removalFailed = false;
    for (const sim::ActionRun& run : lastInstallation.runs) {
        removalFailed |= run.action == "qelRollbackSettings" && run.result != ERROR_SUCCESS;
    }
    if (file && installation.kind == Installation::first && !removalFailed && !deleteRefused) {
        return "a failed installation left the settings file";
    }
    return "";
}

class WriteSettingsSweep : public ::testing::TestWithParam<Installation> {};

TEST_P(WriteSettingsSweep, EveryCaseHolds)
{
    const Installation installation = GetParam();
    sweptSteps = immediateActions(installation);
    qel::testing::ActionWorld world{installation.name,
                                    [installation](MSIHANDLE session) { setUp(session, installation); },
                                    [installation](const qel::testing::FaultSweep::Run& run, UINT answer) {
                                        return judge(installation, run, answer);
                                    },
                                    {ERROR_INSTALL_USEREXIT}};
    qel::testing::expectEveryCaseHolds(qel::testing::sweepAction(&installSwept, world));
}

// The first installation with two settings, one of them formatted: every call and allocation of a
// setting is swept in both, and a third would only make the sweep longer. The failed installation
// with one, for the same reason: what it adds is the rollback.
Installation sweptWith(Installation installation, std::size_t rows)
{
    installation.rows = rows;
    return installation;
}

INSTANTIATE_TEST_SUITE_P(, WriteSettingsSweep,
                         ::testing::Values(sweptWith({"FirstInstallation"}, 2),
                                           sweptWith({"LaterActionFails", Installation::first, false, true}, 1),
                                           sweptWith({"Removal", Installation::removal, false, false, 0, true}, 0)),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
