// The action on the platform model: when it warns, what it sends, and what it answers; then its
// fault sweep.
#include "../src/WarnForOriginalDisk.h"

#include "QelCustInst/Simulation.h"
#include "QelCustInst/testing/FaultSweep.h"
#include "QelCustInst/testing/SessionTest.h"

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

void PrintTo(const Installation& installation, std::ostream* out)
{
    *out << installation.name;
}

void setUp(MSIHANDLE session, const Installation& installation)
{
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
    struct Case {
        Installation installation;
        bool warns;
        UINT answer;
    };
    const Case cases[] = {
        {{"full UI, OK", "1", "5", IDOK}, true, ERROR_SUCCESS},
        {{"full UI, Cancel", "1", "5", IDCANCEL}, true, ERROR_INSTALL_USEREXIT},
        {{"reduced UI, Cancel", "1", "4", IDCANCEL}, true, ERROR_INSTALL_USEREXIT},
        {{"full UI, nobody asked", "1", "5", 0}, true, ERROR_SUCCESS},
        {{"basic UI", "1", "3", IDCANCEL}, false, ERROR_SUCCESS},
        {{"no UI", "1", "2", IDCANCEL}, false, ERROR_SUCCESS},
        {{"fixed drive", "0", "5", IDCANCEL}, false, ERROR_SUCCESS},
        {{"PROMPT_FOR_CD1 unset", std::nullopt, "5", IDCANCEL}, false, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        resetModel();
        setUp(session, c.installation);

        EXPECT_EQ(qelWarnForOriginalDisk(session), c.answer) << c.installation.name;

        EXPECT_EQ(warned(), c.warns) << c.installation.name;
        if (!c.warns) {
            EXPECT_TRUE(sim::messages().empty()) << c.installation.name;
        }
        EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u) << c.installation.name;
    }
}

TEST_F(WarnForOriginalDiskTest, AWarningTheInstallerRefusesFailsTheActionWithAReport)
{
    setUp(session, {"full UI", "1", "5", IDOK});
    sim::failCall("MsiProcessMessage", 1, -1);

    EXPECT_EQ(qelWarnForOriginalDisk(session), static_cast<UINT>(ERROR_INSTALL_FAILURE));

    ASSERT_EQ(sim::messages().size(), 1u);
    EXPECT_EQ(sim::messages()[0].type, INSTALLMESSAGE_INFO);
    const std::string report = std::get<std::string>(sim::messages()[0].fields.at(1));
    EXPECT_EQ(report.rfind("qelWarnForOriginalDisk: ", 0), 0u) << report;
    EXPECT_NE(report.find("Function Failed: MsiProcessMessage()"), std::string::npos) << report;
}

// ---- The fault sweep -----------------------------------------------------------------------------

// Done: warned when the installation asks for it (or the installer refused the warning and nobody
// was asked), and 1602 only when the user cancelled the warning.
std::string judge(const Installation& installation, const qel::testing::FaultSweep::Run& run, UINT answer)
{
    const bool shouldWarn = installation.promptForCd == "1" && std::stoi(installation.uiLevel) >= 4;
    if (answer == ERROR_INSTALL_USEREXIT) {
        return warned() && installation.userAnswer == IDCANCEL ? "" : "answered 1602 but the user never cancelled";
    }
    if (answer == ERROR_SUCCESS && shouldWarn && !warned() && !run.refuses("MsiProcessMessage")) {
        return "answered 0 without warning";
    }
    if (answer == ERROR_SUCCESS && !shouldWarn && !sim::messages().empty()) {
        return "warned where it should not";
    }
    return "";
}

class WarnForOriginalDiskSweep : public ::testing::TestWithParam<Installation> {};

TEST_P(WarnForOriginalDiskSweep, EveryCaseHolds)
{
    const Installation installation = GetParam();
    qel::testing::ActionWorld world{installation.name,
                                    [installation](MSIHANDLE session) { setUp(session, installation); },
                                    [installation](const qel::testing::FaultSweep::Run& run, UINT answer) {
                                        return judge(installation, run, answer);
                                    },
                                    {ERROR_INSTALL_USEREXIT}};
    qel::testing::expectEveryCaseHolds(qel::testing::sweepAction(&qelWarnForOriginalDisk, world));
}

INSTANTIATE_TEST_SUITE_P(, WarnForOriginalDiskSweep,
                         ::testing::Values(Installation{"CdRomOk", "1", "5", IDOK},
                                           Installation{"CdRomCancel", "1", "5", IDCANCEL},
                                           Installation{"CdRomSilent", "1", "2", IDCANCEL},
                                           Installation{"FixedDrive", "0", "5", IDCANCEL}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
