// The actions on the platform model, in whole installations: what the settings file holds after a
// first installation, a failed or cancelled one, a repair and a removal; then their fault sweep.
#include "../src/WriteSettings.h"

#include "QelCustInst/Simulation.h"
#include "QelCustInst/testing/FaultSweep.h"
#include "QelCustInst/testing/SessionTest.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// ---- The package and the installation ------------------------------------------------------------

// The package the Wine run installs (wine/make-package.sh), as the build made it; with only the
// first `rows` rows of its table QelSetting (Sequence 1, 2, ...), made once from it and removed
// when the tests end.
constexpr std::size_t allRows = 7;
std::string package(std::size_t rows = allRows)
{
    struct Made {
        ~Made()
        {
            for (const fs::path& file : files) {
                fs::remove(file);
            }
        }
        std::vector<fs::path> files;
    };
    static Made made;
    if (rows >= allRows) {
        return WRITE_SETTINGS_PACKAGE;
    }
    const fs::path shorter = fs::path(::testing::TempDir()) /
                             ("WriteSettings-" + std::to_string(getpid()) + "-" + std::to_string(rows) + ".msi");
    if (!fs::exists(shorter)) {
        fs::copy_file(WRITE_SETTINGS_PACKAGE, shorter);
        made.files.push_back(shorter);
        // A row a query at a time: libmsi's DELETE of several rows leaves every other one.
        std::string cut = "msibuild '" + shorter.string() + "'";
        for (std::size_t row = rows + 1; row <= allRows; ++row) {
            cut += " -q 'DELETE FROM `QelSetting` WHERE `Sequence` = " + std::to_string(row) + "'";
        }
        EXPECT_EQ(std::system(cut.c_str()), 0) << cut;
    }
    return shorter.string();
}

// INSTALLDIR, as the installer names it (Windows' form of a folder under the model's temporary
// folder) and on the host's disk.
std::string installDir()
{
    std::string folder = sim::tempPath() + "Write Settings\\";
    std::replace(folder.begin(), folder.end(), '/', '\\');
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
    const std::string all{std::istreambuf_iterator<char>(file), {}};
    Lines lines;
    for (std::size_t at = 0, end = 0; at < all.size(); at = end + 2) {
        end = std::min(all.find("\r\n", at), all.size());
        lines.push_back(all.substr(at, end - at));
    }
    return lines;
}

// The lines of the first `rows` rows of the table, formatted, that the installation writes (not
// the sixth's, of a feature not installed, nor the seventh's, whose condition fails).
Lines everyLine(const std::string& folder, bool debug, std::size_t rows = allRows)
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

// The package's actions with QEL_FAIL_LATE = 1: a second writing, handed no deferred data, fails
// the installation after the settings were written.
UINT WINAPI scheduleFailLate(MSIHANDLE session)
{
    const UINT set = MsiDoActionA(session, "qelFailLateData");
    return set != ERROR_SUCCESS ? set : MsiDoActionA(session, "qelFailLate");
}

// An installation of the package: what it is given and what happens around it.
struct Installation {
    const char* name;
    enum Kind { first, repair, removal } kind = first;
    bool debug = false;
    bool failsLate = false;
    int cancelAtMessage = 0;     // the nth message the installer takes is answered Cancel (0: none)
    bool fileBefore = false;     // the settings file is there when it starts
    std::size_t rows = allRows;  // the first rows of the table the package has
};

// The world's name in the sweep's test names.
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
    // What the command line gives (the Wine run gives INSTALLDIR too), and whether the product is
    // on the machine already; then the package, as costing leaves it.
    sim::setProperty(session, "INSTALLDIR", installDir());
    sim::setProperty(session, "QEL_DEBUG", installation.debug ? "1" : "");
    sim::setProperty(session, "Installed", installation.kind != Installation::first ? "1" : "");
    sim::setProperty(session, "REMOVE", installation.kind == Installation::removal ? "ALL" : "");
    sim::loadPackage(session, package(installation.rows));
    for (const auto& [entry, function] : {std::pair{"qelScheduleSettings", &qelScheduleSettings},
                                          {"qelWriteSettings", &qelWriteSettings},
                                          {"qelRemoveSettings", &qelRemoveSettings},
                                          {"qelScheduleRemoval", &qelScheduleRemoval}}) {
        sim::bindAction(session, entry, function);
    }
    if (installation.cancelAtMessage > 0) {
        sim::beforeCall("MsiProcessMessage", installation.cancelAtMessage,
                        [] { sim::setProcessMessageResult(IDCANCEL); });
    }
}

// The immediate actions in the sequence's order, as the package schedules them.
std::vector<sim::Step> immediateActions(const Installation& installation)
{
    std::vector<sim::Step> steps{installation.kind == Installation::removal ? "qelScheduleRemoval"
                                                                            : "qelScheduleSettings"};
    if (installation.failsLate) {
        steps.emplace_back(&scheduleFailLate);
    }
    return steps;
}

class WriteSettingsTest : public qel::testing::SessionTest {};

// What the file holds afterwards (none: no file), which actions ran, and, after a first
// installation, that the writing moved the progress bar by what its immediate action reserved.
TEST_F(WriteSettingsTest, TheFileHoldsTheTablesSettingsUntilTheProductGoes)
{
    using enum Installation::Kind;
    enum File { none, settings, empty, asBefore };
    const struct {
        Installation installation;
        UINT answer;
        File file;
        std::vector<std::string> ran;
    } cases[] = {
        {{"first installation"}, ERROR_SUCCESS, settings, {"qelScheduleSettings", "qelWriteSettings"}},
        {{.name = "QEL_DEBUG", .debug = true}, ERROR_SUCCESS, settings, {"qelScheduleSettings", "qelWriteSettings"}},
        {{.name = "an empty table", .rows = 0}, ERROR_SUCCESS, empty, {"qelScheduleSettings", "qelWriteSettings"}},
        // The rollback action removes the file the writing left.
        {{.name = "a later action fails", .failsLate = true},
         ERROR_INSTALL_FAILURE,
         none,
         {"qelScheduleSettings", "Action2", "qelWriteSettings", "qelFailLate", "qelRollbackSettings"}},
        // Messages: the progress added (1) and the log (2) of qelScheduleSettings; then
        // qelWriteSettings' ActionStart (3), ActionData (4) and progress (5).
        {{.name = "cancel while written", .cancelAtMessage = 5},
         ERROR_INSTALL_USEREXIT,
         none,
         {"qelScheduleSettings", "qelWriteSettings", "qelRollbackSettings"}},
        {{.name = "cancel before", .cancelAtMessage = 1}, ERROR_INSTALL_USEREXIT, none, {"qelScheduleSettings"}},
        {{.name = "repair", .kind = repair, .fileBefore = true}, ERROR_SUCCESS, asBefore, {"qelScheduleSettings"}},
        {{.name = "removal", .kind = removal, .fileBefore = true},
         ERROR_SUCCESS,
         none,
         {"qelScheduleRemoval", "qelRemoveSettings"}},
        {{.name = "removal, no file", .kind = removal},
         ERROR_SUCCESS,
         none,
         {"qelScheduleRemoval", "qelRemoveSettings"}},
    };
    for (const auto& c : cases) {
        const auto row = startRow(c.installation.name);  // a fresh model; checked at the row's end
        setUp(session, c.installation);

        const sim::Installation installation = sim::runInstallation(session, immediateActions(c.installation));

        EXPECT_EQ(installation.result, c.answer);
        const std::optional<Lines> files[] = {std::nullopt, everyLine(installDir(), c.installation.debug), Lines{},
                                              Lines{"Port=1"}};
        EXPECT_EQ(written(), files[c.file]);
        std::vector<std::string> ran;
        for (const sim::ActionRun& run : installation.runs) {
            ran.push_back(run.action);
        }
        EXPECT_EQ(ran, c.ran);
        const sim::Progress progress = sim::progress();
        EXPECT_EQ(progress.malformed, 0);
        if (c.answer == ERROR_SUCCESS && c.installation.kind == first) {
            EXPECT_EQ(progress.total, 10000 * static_cast<long long>(files[c.file]->size()));
            EXPECT_EQ(progress.done, progress.total);
        }
    }
}

TEST_F(WriteSettingsTest, AWritingWithoutItsDataFailsWithAReportAndWritesNothing)
{
    setUp(session, {"first installation"});
    const auto scheduleWithoutData = [](MSIHANDLE installation) -> UINT {
        MsiSetPropertyA(installation, "qelWriteSettings", "no deferred data");
        return MsiDoActionA(installation, "qelWriteSettings");
    };

    EXPECT_EQ(sim::runInstallation(session, {+scheduleWithoutData}).result, UINT{ERROR_INSTALL_FAILURE});
    EXPECT_EQ(written(), std::nullopt);
    ASSERT_FALSE(sim::messages().empty());
    const std::string report = sim::messages().back().text;  // as the installer logs it
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
// DeleteFileW may say the file was not there (its error ERROR_FILE_NOT_FOUND): the file may stay.
std::string judge(const Installation& installation, const qel::testing::FaultSweep::Run& run, UINT answer)
{
    const std::optional<Lines> file = written();
    const bool deleteRefused = run.refuses("DeleteFileW");
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
    // MsiDoAction answers 1602 when the user cancelled in the action it ran: the frame, like the
    // test's own immediate action, passes that answer on.
    if (answer == ERROR_INSTALL_USEREXIT && installation.cancelAtMessage == 0 && !run.refuses("MsiDoActionA") &&
        !run.refuses("MsiDoActionW")) {
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

// The first installation with two settings, one of them formatted: every call and allocation of a
// setting is swept in both, and a third would only make the sweep longer. The failed installation
// with one, for the same reason: what it adds is the rollback.
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

INSTANTIATE_TEST_SUITE_P(
    , WriteSettingsSweep,
    ::testing::Values(Installation{.name = "FirstInstallation", .rows = 2},
                      Installation{.name = "LaterActionFails", .failsLate = true, .rows = 1},
                      Installation{.name = "Removal", .kind = Installation::removal, .fileBefore = true, .rows = 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
