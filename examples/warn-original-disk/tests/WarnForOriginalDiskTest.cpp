// The action on the platform model: when it warns, what it sends, and what it answers; then its
// fault sweep.
#include "../src/WarnForOriginalDisk.h"

#include "QelCustInst/Simulation.h"
#include "QelCustInst/testing/FaultSweep.h"
#include "QelCustInst/testing/SessionTest.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

const INSTALLMESSAGE warning = static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_WARNING | MB_OKCANCEL);

// A session as the installer runs it: PROMPT_FOR_CD1 as the package's earlier action left it (or
// unset), UILevel as the installer sets it, and the user's answer to any message box.
struct Installation {
    const char* name;
    std::optional<std::string> promptForCd;
    const char* uiLevel;
    int userAnswer;
};

// The world's name in the sweep's test names.
void PrintTo(const Installation& installation, std::ostream* out)
{
    *out << installation.name;
}

// The session of the package the Wine run installs, with the action's code bound to its entry.
void setUp(MSIHANDLE session, const Installation& installation)
{
    sim::loadPackage(session, WARN_ORIGINAL_DISK_PACKAGE);
    sim::bindAction(session, "qelWarnForOriginalDisk", &qelWarnForOriginalDisk);
    if (installation.promptForCd) {
        sim::setProperty(session, "PROMPT_FOR_CD1", *installation.promptForCd);
    }
    sim::setProperty(session, "UILevel", installation.uiLevel);
    sim::setProcessMessageResult(installation.userAnswer);
}

// Whether the 26002 warning with OK and Cancel is the one message the installer received.
bool warned()
{
    const auto& sent = sim::messages();
    return sent.size() == 1 && sent[0].type == warning &&
           sent[0].fields == std::vector<sim::Field>{sim::Null{}, sim::Field(26002)};
}

class WarnForOriginalDiskTest : public qel::testing::SessionTest {};

TEST_F(WarnForOriginalDiskTest, WarnsOnlyFromACdRomWithDialogsShownAndAnswersTheUser)
{
    const struct {
        Installation installation;
        bool warns;  // the warning is the one message sent; else none is
        UINT answer;
    } cases[] = {
        {{"full UI, OK", "1", "5", IDOK}, true, ERROR_SUCCESS},
        {{"full UI, Cancel", "1", "5", IDCANCEL}, true, ERROR_INSTALL_USEREXIT},
        {{"reduced UI, Cancel", "1", "4", IDCANCEL}, true, ERROR_INSTALL_USEREXIT},
        {{"full UI, nobody asked", "1", "5", 0}, true, ERROR_SUCCESS},
        {{"basic UI", "1", "3", IDCANCEL}, false, ERROR_SUCCESS},
        {{"fixed drive", "0", "5", IDCANCEL}, false, ERROR_SUCCESS},
        {{"PROMPT_FOR_CD1 unset", std::nullopt, "5", IDCANCEL}, false, ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        const auto row = startRow(c.installation.name);  // a fresh model; checked at the row's end
        setUp(session, c.installation);

        EXPECT_EQ(MsiDoActionA(session, "qelWarnForOriginalDisk"), c.answer);
        EXPECT_TRUE(c.warns ? warned() : sim::messages().empty());
    }
}

TEST_F(WarnForOriginalDiskTest, ThePackageHoldsTheWarningsText)
{
    setUp(session, {"full UI", "1", "5", IDOK});
    const auto errors = sim::rows(session, "Error");
    EXPECT_NE(std::find_if(errors.begin(), errors.end(),
                           [](const auto& row) {
                               return row.at(0) == sim::Field(26002) && row.at(1) != sim::Field(sim::Null{});
                           }),
              errors.end());
}

TEST_F(WarnForOriginalDiskTest, AWarningTheInstallerRefusesFailsTheActionWithAReport)
{
    setUp(session, {"full UI", "1", "5", IDOK});
    sim::failCall("MsiProcessMessage", 1, -1);

    EXPECT_EQ(qelWarnForOriginalDisk(session), static_cast<UINT>(ERROR_INSTALL_FAILURE));

    ASSERT_EQ(sim::messages().size(), 1u);
    EXPECT_EQ(sim::messages()[0].type, INSTALLMESSAGE_INFO);
    const std::string report = sim::messages()[0].text;  // as the installer logs it
    EXPECT_EQ(report.rfind("qelWarnForOriginalDisk: ", 0), 0u) << report;
    EXPECT_NE(report.find("Function Failed: MsiProcessMessage()"), std::string::npos) << report;
}

// ---- The fault sweep -----------------------------------------------------------------------------

namespace kit = qel::testing;

// After 0: warned when the installation asks for it (or the installer refused the warning, and
// nobody was asked), and sent nothing otherwise. After 1602: the user cancelled the warning.
std::string judge(const Installation& installation, const kit::FaultSweep::Run& run, UINT answer)
{
    const bool shouldWarn = installation.promptForCd == "1" && std::stoi(installation.uiLevel) >= 4;
    if (answer == ERROR_INSTALL_USEREXIT && !(warned() && installation.userAnswer == IDCANCEL)) {
        return "answered 1602 but the user never cancelled";
    }
    if (answer == ERROR_SUCCESS && shouldWarn && !warned() && !run.refuses("MsiProcessMessage")) {
        return "answered 0 but no warning was sent";
    }
    if (answer == ERROR_SUCCESS && !shouldWarn && !sim::messages().empty()) {
        return "answered 0 with a warning sent where none belongs";
    }
    return "";
}

class WarnForOriginalDiskSweep : public ::testing::TestWithParam<Installation> {};

TEST_P(WarnForOriginalDiskSweep, EveryCaseHolds)
{
    const Installation installation = GetParam();
    const kit::ActionWorld world{
        installation.name,
        [installation](MSIHANDLE session) { setUp(session, installation); },
        [installation](const kit::FaultSweep::Run& run, UINT answer) { return judge(installation, run, answer); },
        {ERROR_INSTALL_USEREXIT}};
    kit::expectEveryCaseHolds(kit::sweepAction(&qelWarnForOriginalDisk, world));
}

INSTANTIATE_TEST_SUITE_P(, WarnForOriginalDiskSweep,
                         ::testing::Values(Installation{"CdRomOk", "1", "5", IDOK},
                                           Installation{"CdRomCancel", "1", "5", IDCANCEL},
                                           Installation{"CdRomSilent", "1", "2", IDCANCEL},
                                           Installation{"FixedDrive", "0", "5", IDCANCEL}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
