// The action on the platform model: what it answers and sets, row by row, then its fault sweep.
#include "../src/QEL_NAME.h"

#include "QelCustInst/Simulation.h"
#include "QelCustInst/testing/FaultSweep.h"
#include "QelCustInst/testing/SessionTest.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <variant>

namespace {

namespace kit = qel::testing;

// The package's folder: the model's temporary folder, the one place where its files exist, as the
// installer names a folder (backslashes, ending in one).
std::string packageFolder()
{
    std::string folder = sim::tempPath();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    return folder;
}

// An installation from the package's folder, with setup.ini beside the package or not.
void installFrom(MSIHANDLE session, bool withSetupIni)
{
    sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\QEL_NAME\\", packageFolder());
    if (withSetupIni) {
        std::ofstream(sim::tempPath() + "setup.ini") << "[setup]\n";
    }
}

class QEL_NAMETest : public kit::SessionTest {};

// Each row: what lies beside the package, what the action answers and sets.
TEST_F(QEL_NAMETest, SetsWhatItFound)
{
    struct Row {
        bool withSetupIni;
        const char* refused;  // a call the system refuses, or nullptr
        UINT answer;
        const char* found;  // SETUP_INI_FOUND afterwards
    };
    const Row rows[] = {
        {true, nullptr, ERROR_SUCCESS, "1"},
        {false, nullptr, ERROR_SUCCESS, "0"},
        {true, "GetFileAttributesW", ERROR_INSTALL_FAILURE, ""},
    };
    for (const Row& row : rows) {
        // Each row from a fresh model, named in its failures; what it left behind is checked at its end.
        const auto started = startRow(std::string(row.withSetupIni ? "setup.ini there" : "no setup.ini") +
                                      (row.refused != nullptr ? std::string(", ") + row.refused + " refused" : ""));
        installFrom(session, row.withSetupIni);
        if (row.refused != nullptr) {
            sim::failCall(row.refused, 1, INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED);
        }

        EXPECT_EQ(::QEL_NAME(session), row.answer);
        EXPECT_EQ(sim::property(session, "SETUP_INI_FOUND"), row.found);
        if (row.answer == ERROR_INSTALL_FAILURE) {
            // The frame's report is the last message: the action's name and the system's error.
            ASSERT_FALSE(sim::messages().empty());
            const std::string report = std::get<std::string>(sim::messages().back().fields.at(1));
            EXPECT_EQ(report.rfind("QEL_NAME: Error: 5.", 0), 0u) << report;
        }
    }
}

// After an answer of 0, SETUP_INI_FOUND says whether setup.ini is there, as far as the system said.
kit::Condition foundAsTheSystemSaid(bool withSetupIni)
{
    return [withSetupIni](const kit::FaultSweep::Run& run) {
        const bool seen = withSetupIni && !run.refuses("GetFileAttributesW");
        return kit::propertyIs("SETUP_INI_FOUND", seen ? "1" : "0")(run);
    };
}

// Every platform call and allocation of the action fails in turn, in two worlds.
TEST(QEL_NAMESweep, EveryCaseHolds)
{
    for (const bool withSetupIni : {true, false}) {
        const kit::ActionWorld world{withSetupIni ? "SetupIniThere" : "NoSetupIni",
                                     [withSetupIni](MSIHANDLE session) { installFrom(session, withSetupIni); },
                                     kit::whenAnswered(ERROR_SUCCESS, foundAsTheSystemSaid(withSetupIni))};
        kit::expectEveryCaseHolds(kit::sweepAction(&::QEL_NAME, world));
    }
}

}  // namespace
