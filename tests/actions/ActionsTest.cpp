#include "actions/ActionFrame.h"
#include "actions/QelCustInst.h"
#include "msi/KestMsiBoolProperty.h"
#include "testing/FailingAllocation.h"
#include "testing/SessionTest.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

using qel::testing::FailingAllocation;

class RunningFromCdTest : public qel::testing::SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Demo\\", "D:\\Setup\\");
    }
};

TEST_F(RunningFromCdTest, OnlyACdRomDriveSetsThePropertyToOne)
{
    struct Case {
        UINT driveType;
        const char* expected;
    };
    for (const Case c :
         {Case{DRIVE_CDROM, "1"}, Case{DRIVE_FIXED, "0"}, Case{DRIVE_REMOVABLE, "0"}, Case{DRIVE_REMOTE, "0"},
          Case{DRIVE_RAMDISK, "0"}, Case{DRIVE_NO_ROOT_DIR, "0"}, Case{DRIVE_UNKNOWN, "0"}}) {
        sim::setDrive("D:\\", c.driveType);
        sim::setProperty(session, "PROMPT_FOR_CD1", "untouched");

        EXPECT_EQ(qelAreWeRunningFromCD(session), 0u);
        EXPECT_EQ(sim::property(session, "PROMPT_FOR_CD1"), c.expected) << "drive type " << c.driveType;
    }
    EXPECT_TRUE(sim::handleInfo(session)->open);
    EXPECT_EQ(sim::handleInfo(session)->closeCalls, 0);
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
}

TEST_F(RunningFromCdTest, TheVolumeRootOfTheSourcePathGoesToGetDriveType)
{
    struct Case {
        const char* sourcePath;
        bool volumeCallFails;
        const char* asked;  // what GetDriveTypeA is given
        const char* expected;
    };
    const Case cases[] = {
        {"D:\\", false, "D:\\", "1"},
        {"D:\\Setup\\", false, "D:\\", "1"},                        // a package kept in a folder of the disc
        {"d:\\Setup\\Program Files\\Demo\\", false, "D:\\", "1"},   // an uncompressed package's tree
        {"C:\\Mnt\\Disc\\Setup\\", false, "C:\\Mnt\\Disc\\", "1"},  // a disc mounted in a folder
        {"C:\\Mnt\\Setup\\", false, "C:\\", "0"},
        {"\\\\server\\share\\Setup\\", false, "\\\\server\\share\\", "0"},
        {"setup\\", false, "C:\\", "0"},
        // Without a volume root the whole path is asked, which names no root.
        {"D:\\Setup\\", true, "D:\\Setup\\", "0"},
        {"D:\\", true, "D:\\", "1"},
    };
    sim::setDrive("D:\\", DRIVE_CDROM);
    sim::setDrive("C:\\Mnt\\Disc\\", DRIVE_CDROM);
    sim::setDrive("\\\\server\\share\\", DRIVE_REMOTE);
    for (const Case& c : cases) {
        sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Demo\\", c.sourcePath);
        if (c.volumeCallFails) {
            sim::failCall("GetVolumePathNameA", 1, FALSE, ERROR_FILENAME_EXCED_RANGE);
        }
        const std::size_t calls = sim::callLog().size();

        ASSERT_EQ(qelAreWeRunningFromCD(session), 0u) << c.sourcePath;

        EXPECT_EQ(sim::driveTypeQueries().back(), c.asked) << c.sourcePath;
        EXPECT_EQ(sim::property(session, "PROMPT_FOR_CD1"), c.expected) << c.sourcePath;
        const std::vector<std::string> order(sim::callLog().begin() + static_cast<std::ptrdiff_t>(calls),
                                             sim::callLog().end());
        EXPECT_EQ(order, (std::vector<std::string>{"MsiGetTargetPathA", "MsiGetTargetPathA", "MsiGetSourcePathA",
                                                   "MsiGetSourcePathA", "GetVolumePathNameA", "GetDriveTypeA",
                                                   "MsiSetPropertyA"}))
            << c.sourcePath;
    }
}

TEST_F(RunningFromCdTest, AFailedTargetQueryEndsTheActionBeforeAnythingElse)
{
    sim::setDrive("D:\\", DRIVE_CDROM);
    sim::setProperty(session, "PROMPT_FOR_CD1", "before");
    sim::failCall("MsiGetTargetPathA", 2, ERROR_INVALID_HANDLE);

    EXPECT_EQ(qelAreWeRunningFromCD(session), ERROR_INSTALL_FAILURE);

    EXPECT_EQ(sim::calls("MsiGetSourcePathA"), 0u);
    EXPECT_EQ(sim::calls("GetVolumePathNameA"), 0u);
    EXPECT_EQ(sim::calls("GetDriveTypeA"), 0u);
    EXPECT_EQ(sim::property(session, "PROMPT_FOR_CD1"), "before");
    EXPECT_TRUE(sim::handleInfo(session)->open);
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
}

TEST_F(RunningFromCdTest, AnEndedActionTellsTheInstallerLogWhatHappened)
{
    sim::failCall("MsiSetPropertyA", 1, ERROR_FUNCTION_FAILED);

    EXPECT_EQ(qelAreWeRunningFromCD(session), ERROR_INSTALL_FAILURE);

    ASSERT_EQ(sim::messages().size(), 1u);
    const sim::Message& report = sim::messages().front();
    EXPECT_EQ(report.type, INSTALLMESSAGE_INFO);
    ASSERT_EQ(report.fields.size(), 2u);
    EXPECT_EQ(report.fields[0], sim::Field(std::string("[1]"))) << "the report is data, never a template";
    const std::string text = std::get<std::string>(report.fields[1]);
    EXPECT_EQ(text.rfind("qelAreWeRunningFromCD: Error: 1627. Program Exception. ", 0), 0u) << text;
    EXPECT_NE(text.find("\tT: KestMsiProperty::write, F: KestMsiProperty, L: "), std::string::npos) << text;
    EXPECT_NE(text.find(", C: Function Failed: MsiSetProperty()\n"), std::string::npos) << text;
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
}

// Memory running out anywhere in an action ended by a refused call: the report may shrink to a
// fixed text, but the installer's log always learns which action failed.
TEST_F(RunningFromCdTest, AnActionEndedWithoutMemoryStillReportsItsName)
{
    for (std::size_t nth = 1;; ++nth) {
        resetModel();
        sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Demo\\", "D:\\Setup\\");
        sim::failCall("MsiSetPropertyA", 1, ERROR_FUNCTION_FAILED);

        FailingAllocation memory(nth);
        const UINT answer = qelAreWeRunningFromCD(session);
        memory.stop();

        EXPECT_EQ(answer, ERROR_INSTALL_FAILURE) << "allocation " << nth;
        ASSERT_EQ(sim::messages().size(), 1u) << "allocation " << nth;
        const sim::Message& report = sim::messages().front();
        ASSERT_EQ(report.fields.size(), 2u);
        const std::string text = std::get<std::string>(report.fields[1]);
        EXPECT_EQ(text.rfind("qelAreWeRunningFromCD: ", 0), 0u) << text;
        EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
        EXPECT_EQ(sim::badCloses(), 0u);
        if (!memory.failed()) {
            EXPECT_NE(text.find("Function Failed: MsiSetProperty()"), std::string::npos) << text;
            break;
        }
    }
}

// How the frame reports steps that an exception ended, and what a refused report turns into: the
// installer is asked twice at most, the second time with a line of fixed text.
class ActionFrameTest : public qel::testing::SessionTest {};

TEST_F(ActionFrameTest, AnEndedActionIsReportedOnceTakenAndAskedTwiceAtMost)
{
    using Steps = void (*)(KestMsiHandle&);
    const Steps libraryFailure = [](KestMsiHandle& installation) {
        KestMsiBoolProperty flag(installation, "FLAG");
        flag.write();  // refused below: MsiSetPropertyA #1
    };
    const Steps standardFailure = [](KestMsiHandle&) { throw std::runtime_error("disk on fire"); };
    const Steps foreignFailure = [](KestMsiHandle&) { throw 42; };
    constexpr const char* full = "myAction: Error: 1627. Program Exception. ";
    constexpr const char* fixed = "myAction: the action failed, and its full report could not be made.\n";
    struct Refusal {
        const char* function;
        int nth;
        std::int64_t result;
    };
    struct Case {
        const char* what;
        Steps steps;
        std::vector<Refusal> refusals;
        std::vector<std::string> taken;  // the reports the installer took, each as far as given
        std::size_t asked;               // MsiProcessMessage calls
    };
    const Case cases[] = {
        {"a library exception", libraryFailure, {}, {full}, 1},
        {"its report refused", libraryFailure, {{"MsiProcessMessage", 1, -1}}, {fixed}, 2},
        {"its report refused twice",
         libraryFailure,
         {{"MsiProcessMessage", 1, -1}, {"MsiProcessMessage", 2, -1}},
         {},
         2},
        {"its report's record refused", libraryFailure, {{"MsiCreateRecord", 1, 0}}, {fixed}, 1},
        {"its report's text refused", libraryFailure, {{"MsiRecordSetStringA", 2, ERROR_INVALID_HANDLE}}, {fixed}, 1},
        {"its report answered 0", libraryFailure, {{"MsiProcessMessage", 1, 0}}, {}, 1},
        {"a standard exception",
         standardFailure,
         {},
         {"myAction: an unexpected exception ended the action: disk on fire\n"},
         1},
        {"its report refused once",
         standardFailure,
         {{"MsiProcessMessage", 1, -1}},
         {"myAction: an unexpected exception ended the action: disk on fire\n"},
         2},
        {"an exception of no standard class",
         foreignFailure,
         {},
         {"myAction: an unexpected exception ended the action.\n"},
         1},
    };
    for (const Case& c : cases) {
        resetModel();
        sim::failCall("MsiSetPropertyA", 1, ERROR_FUNCTION_FAILED);
        for (const Refusal& refusal : c.refusals) {
            sim::failCall(refusal.function, refusal.nth, refusal.result);
        }

        EXPECT_EQ(qel::runAction(session, "myAction", c.steps), ERROR_INSTALL_FAILURE) << c.what;

        std::vector<std::string> taken;
        for (const sim::Message& message : sim::messages()) {
            EXPECT_EQ(message.type, INSTALLMESSAGE_INFO) << c.what;
            ASSERT_EQ(message.fields.size(), 2u) << c.what;
            EXPECT_EQ(message.fields[0], sim::Field(std::string("[1]"))) << c.what;
            taken.push_back(std::get<std::string>(message.fields[1]));
        }
        ASSERT_EQ(taken.size(), c.taken.size()) << c.what;
        for (std::size_t i = 0; i < taken.size(); ++i) {
            EXPECT_EQ(taken[i].substr(0, c.taken[i].size()), c.taken[i]) << c.what;
        }
        EXPECT_EQ(sim::calls("MsiProcessMessage"), c.asked) << c.what;
        EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u) << c.what;
    }
}

TEST(DllMainTest, AnswersTrueForEveryReason)
{
    for (DWORD reason : {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_EQ(DllMain(nullptr, reason, nullptr), TRUE);
    }
}
