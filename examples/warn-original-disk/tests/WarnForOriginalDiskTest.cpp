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
    }  // the resetModel() of the next row, or the fixture after the last, checks what a row left open
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

namespace kit = qel::testing;

// After an answer of 0: warned when the installation asks for it (or the installer refused the
// warning, and nobody was asked), and sent nothing otherwise.
kit::Condition warnedAsAsked(const Installation& installation)
{
    return [installation](const kit::FaultSweep::Run& run) -> std::string {
        const bool shouldWarn = installation.promptForCd == "1" && std::stoi(installation.uiLevel) >= 4;
        if (shouldWarn && !warned() && !run.refuses("MsiProcessMessage")) {
            return "no warning was sent";
        }
        if (!shouldWarn && !sim::messages().empty()) {
            return "a warning was sent where none belongs";
        }
        return "";
    };
}

// After an answer of 1602: the user cancelled the warning.
kit::Condition userCancelled(const Installation& installation)
{
    return [installation](const kit::FaultSweep::Run&) -> std::string {
        return warned() && installation.userAnswer == IDCANCEL ? "" : "the user never cancelled";
    };
}

class WarnForOriginalDiskSweep : public ::testing::TestWithParam<Installation> {};

TEST_P(WarnForOriginalDiskSweep, EveryCaseHolds)
{
    const Installation installation = GetParam();
    const kit::ActionWorld world{installation.name,
                                 [installation](MSIHANDLE session) { setUp(session, installation); },
                                 kit::allOf({kit::whenAnswered(ERROR_SUCCESS, warnedAsAsked(installation)),
                                             kit::whenAnswered(ERROR_INSTALL_USEREXIT, userCancelled(installation))}),
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
