#include "actions/ActionFrame.h"
#include "actions/QelCustInst.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/Session.h"
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

// Only a source whose volume is a CD-ROM drive sets the property to 1; GetDriveTypeA is asked about
// the volume root of the source path. A path whose ANSI text lost characters of the folder to '?'
// (Cyrillic under code page 1252) is taken again whole, and asked about through the wide calls.
TEST_F(RunningFromCdTest, OnlyASourceOnACdRomSetsThePropertyToOne)
{
    struct Case {
        const char* sourcePath;
        UINT driveD;  // the type of drive D
        bool volumeCallFails;
        const char* asked;  // what GetDriveTypeA is given
        const char* expected;
        bool wide = false;  // asked through the wide calls
    };
    const Case cases[] = {
        {"D:\\", DRIVE_CDROM, false, "D:\\", "1"},
        {"D:\\Setup\\", DRIVE_CDROM, false, "D:\\", "1"},  // a package kept in a folder of the disc
        {"D:\\Setup\\", DRIVE_FIXED, false, "D:\\", "0"},
        {"D:\\Setup\\", DRIVE_REMOVABLE, false, "D:\\", "0"},
        {"D:\\Setup\\", DRIVE_REMOTE, false, "D:\\", "0"},
        {"D:\\Setup\\", DRIVE_RAMDISK, false, "D:\\", "0"},
        {"D:\\Setup\\", DRIVE_NO_ROOT_DIR, false, "D:\\", "0"},
        {"D:\\Setup\\", DRIVE_UNKNOWN, false, "D:\\", "0"},
        {"d:\\Setup\\Program Files\\Demo\\", DRIVE_CDROM, false, "D:\\", "1"},   // an uncompressed package's tree
        {"C:\\Mnt\\Disc\\Setup\\", DRIVE_CDROM, false, "C:\\Mnt\\Disc\\", "1"},  // a disc mounted in a folder
        {"C:\\Mnt\\Setup\\", DRIVE_CDROM, false, "C:\\", "0"},
        {"\\\\server\\share\\Setup\\", DRIVE_CDROM, false, "\\\\server\\share\\", "0"},
        {"setup\\", DRIVE_CDROM, false, "C:\\", "0"},
        // Without a volume root the whole path is asked, which names no root.
        {"D:\\Setup\\", DRIVE_CDROM, true, "D:\\Setup\\", "0"},
        {"D:\\", DRIVE_CDROM, true, "D:\\", "1"},
        {"C:\\Диски\\CD\\Setup\\", DRIVE_CDROM, false, "C:\\Диски\\CD\\", "1", true},
        {"C:\\Диски\\Setup\\", DRIVE_CDROM, false, "C:\\", "0", true},
    };
    sim::setDrive("C:\\Mnt\\Disc\\", DRIVE_CDROM);
    sim::setDrive("C:\\Диски\\CD\\", DRIVE_CDROM);
    sim::setDrive("\\\\server\\share\\", DRIVE_REMOTE);
    for (const Case& c : cases) {
        sim::setDrive("D:\\", c.driveD);
        sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Demo\\", c.sourcePath);
        sim::setProperty(session, "PROMPT_FOR_CD1", "untouched");
        if (c.volumeCallFails) {
            sim::failCall("GetVolumePathNameA", 1, FALSE, ERROR_FILENAME_EXCED_RANGE);
        }
        const std::size_t calls = sim::callLog().size();

        ASSERT_EQ(qelAreWeRunningFromCD(session), 0u) << c.sourcePath;

        EXPECT_EQ(sim::driveTypeQueries().back(), c.asked) << c.sourcePath;
        EXPECT_EQ(sim::property(session, "PROMPT_FOR_CD1"), c.expected) << c.sourcePath << ", D: " << c.driveD;
        const std::vector<std::string> order(sim::callLog().begin() + static_cast<std::ptrdiff_t>(calls),
                                             sim::callLog().end());
        const std::vector<std::string> asked =
            c.wide ? std::vector<std::string>{"MultiByteToWideChar", "MultiByteToWideChar", "MsiGetSourcePathW",
                                              "MsiGetSourcePathW",   "GetVolumePathNameW",  "GetDriveTypeW"}
                   : std::vector<std::string>{"GetVolumePathNameA", "GetDriveTypeA"};
        std::vector<std::string> expected{"MsiGetTargetPathA", "MsiGetTargetPathA", "MsiGetSourcePathA",
                                          "MsiGetSourcePathA"};
        expected.insert(expected.end(), asked.begin(), asked.end());
        expected.push_back("MsiSetPropertyA");
        EXPECT_EQ(order, expected) << c.sourcePath;
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
        if (!memory.failed()) {
            EXPECT_NE(text.find("Function Failed: MsiSetProperty()"), std::string::npos) << text;
            break;
        }
    }
}

// How the frame reports steps that an exception ended, and what a refused report turns into: the
// installer is asked twice at most, the second time with a line of fixed text.
class ActionFrameTest : public qel::testing::SessionTest {
protected:
    static constexpr const char* subject = "[QEL_SECRET] [~] [\\[] {a [QEL_SECRET]} [1]";
};

TEST_F(ActionFrameTest, AnEndedActionIsReportedOnceTakenAndAskedTwiceAtMost)
{
    using Steps = void (*)(KestMsiHandle&);
    const Steps libraryFailure = [](KestMsiHandle& installation) {
        KestMsiBoolProperty flag(installation, "FLAG");
        flag.write();  // refused below: MsiSetPropertyA #1
    };
    const Steps standardFailure = [](KestMsiHandle&) { throw std::runtime_error("disk on fire"); };
    const Steps foreignFailure = [](KestMsiHandle&) { throw 42; };
    // A refused call whose subject holds what the installer's formatting would change: the report
    // quotes it as written, and the hidden property's value appears nowhere.
    const Steps subjectFailure = [](KestMsiHandle& installation) { (void)qel::format(installation, subject); };
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
    const std::string onFire = "myAction: an unexpected exception ended the action: disk on fire\n";
    const Case cases[] = {
        {"a library exception", libraryFailure, {}, {full}, 1},
        {"its report refused", libraryFailure, {{"MsiProcessMessage", 1, -1}}, {fixed}, 2},
        {"refused twice", libraryFailure, {{"MsiProcessMessage", 1, -1}, {"MsiProcessMessage", 2, -1}}, {}, 2},
        {"its report's record refused", libraryFailure, {{"MsiCreateRecord", 1, 0}}, {fixed}, 1},
        {"its report's text refused", libraryFailure, {{"MsiRecordSetStringW", 2, ERROR_INVALID_HANDLE}}, {fixed}, 1},
        {"its report answered 0", libraryFailure, {{"MsiProcessMessage", 1, 0}}, {}, 1},
        {"a standard exception", standardFailure, {}, {onFire}, 1},
        {"its report refused once", standardFailure, {{"MsiProcessMessage", 1, -1}}, {onFire}, 2},
        {"no standard class", foreignFailure, {}, {"myAction: an unexpected exception ended the action.\n"}, 1},
        {"a subject to format", subjectFailure, {{"MsiFormatRecordW", 1, ERROR_INVALID_HANDLE}}, {"myAction: "}, 1},
    };
    for (const Case& c : cases) {
        resetModel();
        sim::setProperty(session, "QEL_SECRET", "hunter2");
        sim::setProperty(session, "MsiHiddenProperties", "QEL_SECRET");
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
            EXPECT_EQ(message.text.find("hunter2"), std::string::npos) << message.text;
            taken.push_back(message.text);  // as the installer logs it
        }
        ASSERT_EQ(taken.size(), c.taken.size()) << c.what;
        for (std::size_t i = 0; i < taken.size(); ++i) {
            EXPECT_EQ(taken[i].substr(0, c.taken[i].size()), c.taken[i]) << c.what;
        }
        if (!taken.empty() && taken[0].rfind(full, 0) == 0) {  // the full report carries the failure's history
            EXPECT_NE(taken[0].find("\tT: KestMsiProperty::write, F: KestMsiProperty, L: "), std::string::npos)
                << taken[0];
            EXPECT_NE(taken[0].find(", C: Function Failed: MsiSetProperty()\n"), std::string::npos) << taken[0];
        }
        if (c.steps == subjectFailure) {
            ASSERT_EQ(taken.size(), 1u);
            EXPECT_NE(taken[0].find("MsiFormatRecord(\"" + std::string(subject) + "\")"), std::string::npos)
                << taken[0];
        }
        EXPECT_EQ(sim::calls("MsiProcessMessage"), c.asked) << c.what;
    }
}

TEST(DllMainTest, AnswersTrueForEveryReason)
{
    for (DWORD reason : {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_EQ(DllMain(nullptr, reason, nullptr), TRUE);
    }
}
