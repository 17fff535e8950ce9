// What only the host's model has: its steering, accounting, journals and faults, and the answers it
// gives where a real platform cannot be arranged to answer the same. The answers the model shares
// with the real platform are checked on both by ContractTest.cpp.
#include "SimTest.h"
#include "testing/FailingAllocation.h"

#include <gmock/gmock.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

using ::testing::ElementsAre;

namespace {

// The temporary folder as the system reports it (ending in a backslash), which the library
// joins its file names to.
std::string systemTemp()
{
    char buffer[2048];
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    return std::string(buffer, length < sizeof buffer ? length : 0);
}

// A file of the temporary folder, written as the library writes its own; its system path.
std::string writeFile(const std::string& name, const std::string& content)
{
    std::string path = systemTemp() + name;
    std::ofstream(qelStreamPath(path.c_str()), std::ios::binary) << content;
    return path;
}
}  // namespace

// ---- Session getters and setters ---------------------------------------------------------------

// Host only: the model's answer inside a custom action (the shared contract covers the protocol).
TEST_F(SimTest, InsideACustomActionTheLengthQueryReportsTwiceTheLength)
{
    MSIHANDLE session = sim::openSession();
    sim::setProperty(session, "P", "hello");
    char buffer[16] = "XXXXXXXXXXXXXXX";
    DWORD size = 0;
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buffer[0], 'X');
    size = 6;
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u) << "on success the true length";
    // A formatted text's length asked without a buffer is doubled too (14 for "say [1]" with
    // "hello"); the wide call counts WCHARs and never doubles.
    const MSIHANDLE record = sim::makeRecord({std::string("say [1]"), std::string("hello")});
    struct Query {
        bool wide;
        bool doubled;
        DWORD size;
    };
    for (const Query& query : {Query{false, true, 18}, Query{true, true, 9}, Query{false, false, 9}}) {
        sim::setDoubledMoreDataLength(query.doubled);
        size = 0;
        EXPECT_EQ(query.wide ? MsiFormatRecordW(session, record, nullptr, &size)
                             : MsiFormatRecordA(session, record, nullptr, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, query.size) << query.wide << query.doubled;
    }
    MsiCloseHandle(record);

    sim::setDoubledMoreDataLength(false);
    size = 0;
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
}

// Host only: the steering refuses a directory tree the installer could not have.
TEST_F(SimTest, DirectoryTreesHaveNoCyclesAndKnownParents)
{
    MSIHANDLE session = sim::openSession();
    sim::setDirectory(session, "TARGETDIR", "C:\\", "D:\\");
    sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Qel\\", "D:\\", "TARGETDIR");
    sim::setDirectory(session, "SUBDIR", "C:\\Program Files\\Qel\\Sub\\", "D:\\", "INSTALLDIR");
    EXPECT_THROW(sim::setDirectory(session, "TARGETDIR", "C:\\", "D:\\", "SUBDIR"), std::invalid_argument);
    EXPECT_THROW(sim::setDirectory(session, "X", "C:\\X\\", "D:\\", "NOSUCHDIR"), std::invalid_argument);
    EXPECT_EQ(sim::targetPath(session, "SUBDIR"), "C:\\Program Files\\Qel\\Sub\\");
}

// ---- Handles, errors and messages ----------------------------------------------------------------

TEST_F(SimTest, HandleTableAccountsForEveryClose)
{
    MSIHANDLE session = sim::openSession();
    MSIHANDLE record = MsiCreateRecord(1);
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 1u);
    EXPECT_EQ(MsiCloseHandle(0), ERROR_SUCCESS);
    EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
    EXPECT_EQ(MsiCloseHandle(record), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiCloseHandle(987654), ERROR_INVALID_HANDLE);
    EXPECT_EQ(sim::badCloses(), 2u);
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);

    auto info = sim::handleInfo(record);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->open);
    EXPECT_EQ(info->closeCalls, 2);
    EXPECT_EQ(sim::handleInfo(session)->closeCalls, 0);
    EXPECT_TRUE(sim::handleInfo(session)->open);
    EXPECT_FALSE(sim::handleInfo(987654));
}

TEST_F(SimTest, ProcessMessageJournalsACopyOfTheRecord)
{
    MSIHANDLE session = sim::openSession();
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetInteger(record, 1, 26002);
    // Without a user interface the installer takes every message and answers 0.
    EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_INFO, record), 0);
    MsiRecordSetInteger(record, 1, 1);
    sim::setProcessMessageResult(IDOK);
    EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_ERROR, record), IDOK);

    ASSERT_EQ(sim::messages().size(), 2u);
    EXPECT_EQ(sim::messages()[0].type, INSTALLMESSAGE_INFO);
    EXPECT_EQ(sim::messages()[0].session, session);
    EXPECT_THAT(sim::messages()[0].fields, ElementsAre(sim::Null{}, 26002));
    EXPECT_THAT(sim::messages()[1].fields, ElementsAre(sim::Null{}, 1));

    MsiCloseHandle(record);
    EXPECT_EQ(MsiProcessMessage(record, INSTALLMESSAGE_INFO, MsiCreateRecord(1)), -1) << "not a session";
    EXPECT_EQ(sim::messages().size(), 2u) << "refused messages are not journalled";
}

// ---- Calls and faults ----------------------------------------------------------------------------

TEST_F(SimTest, FaultsReplaceTheNthCallOnly)
{
    MSIHANDLE session = sim::openSession();
    MsiCreateRecord(1);
    sim::failCall("MsiCreateRecord", 2, 0, ERROR_NOT_ENOUGH_MEMORY);
    sim::failCall("MsiSetPropertyA", 1, ERROR_FUNCTION_FAILED);
    sim::failCall("FindFirstFileA", 1, -1, ERROR_ACCESS_DENIED);

    EXPECT_NE(MsiCreateRecord(1), 0u);
    EXPECT_EQ(MsiCreateRecord(1), 0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_NE(MsiCreateRecord(1), 0u);
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 3u);  // the faulted call made none

    EXPECT_EQ(MsiSetPropertyA(session, "P", "1"), ERROR_FUNCTION_FAILED);
    EXPECT_EQ(sim::property(session, "P"), "");  // nothing else was done
    EXPECT_EQ(MsiSetPropertyA(session, "P", "1"), ERROR_SUCCESS);

    WIN32_FIND_DATAA data;
    writeFile("x.log", "");
    EXPECT_EQ(FindFirstFileA((systemTemp() + "x.log").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_EQ(sim::calls("MsiCreateRecord"), 4u);
    EXPECT_EQ(sim::calls("MsiSetPropertyA"), 2u);
    EXPECT_EQ(sim::callLog().front(), "MsiCreateRecord");
    EXPECT_EQ(sim::callLog().back(), "GetLastError");
}

TEST_F(SimTest, JournalOffAnswersWithoutLoggingCountingOrFaulting)
{
    sim::setCodePage(932);
    sim::failCall("IsDBCSLeadByte", 1, FALSE);
    sim::setJournal(false);
    EXPECT_TRUE(IsDBCSLeadByte(0x82));  // the armed fault waits
    EXPECT_TRUE(sim::callLog().empty());
    EXPECT_EQ(sim::calls("IsDBCSLeadByte"), 0u);

    sim::setJournal(true);
    EXPECT_FALSE(IsDBCSLeadByte(0x82));
    EXPECT_EQ(sim::calls("IsDBCSLeadByte"), 1u);
}

TEST_F(SimTest, BeforeCallChangesTheWorldBetweenTwoCalls)
{
    MSIHANDLE session = sim::openSession();
    sim::setProperty(session, "P", "abc");
    sim::beforeCall("MsiGetPropertyA", 2, [&] {
        EXPECT_EQ(sim::calls("MsiGetPropertyA"), 1u);  // not yet counted
        sim::setProperty(session, "P", "abcdef");
    });
    sim::setDoubledMoreDataLength(false);
    DWORD size = 0;
    char buffer[8];
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    ++size;
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
}

// ---- KERNEL32 and USER32 ---------------------------------------------------------------------------

// GetDriveTypeA knows roots only; GetVolumePathNameA finds the root a path lies on.
TEST_F(SimTest, DriveTypesAndVolumeRoots)
{
    sim::setDrive("d:\\", DRIVE_CDROM);
    sim::setDrive("\\\\Server\\Share\\", DRIVE_REMOTE);
    sim::setDrive("C:\\Mnt\\Disc", DRIVE_CDROM);
    sim::setDrive("C:\\Mnt\\Disc\\Inner\\", DRIVE_REMOVABLE);
    struct Case {
        const char* path;
        UINT type;
        const char* volume;  // nullptr: GetVolumePathNameA fails with the error below
        DWORD error = 0;
    };
    const Case cases[] = {
        {"D:\\", DRIVE_CDROM, "D:\\"},
        {"d:/", DRIVE_CDROM, "D:\\"},
        {"D:", DRIVE_NO_ROOT_DIR, "D:\\"},
        {"d:\\setup\\disk1\\", DRIVE_NO_ROOT_DIR, "D:\\"},
        {"D:\\setup\\setup.msi", DRIVE_NO_ROOT_DIR, "D:\\"},
        {"c:\\", DRIVE_FIXED, "C:\\"},
        {"C:\\Windows\\", DRIVE_NO_ROOT_DIR, "C:\\"},
        {"C:\\mnt\\disc\\", DRIVE_CDROM, "C:\\mnt\\disc\\"},
        {"C:\\Mnt\\Disc", DRIVE_NO_ROOT_DIR, "C:\\Mnt\\Disc\\"},
        {"C:/Mnt/Disc/Setup/", DRIVE_NO_ROOT_DIR, "C:\\Mnt\\Disc\\"},
        {"C:\\Mnt\\Disc\\Inner\\x", DRIVE_NO_ROOT_DIR, "C:\\Mnt\\Disc\\Inner\\"},
        {"C:\\Mnt\\Discs\\", DRIVE_NO_ROOT_DIR, "C:\\"},
        {"\\\\SERVER\\share\\", DRIVE_REMOTE, "\\\\SERVER\\share\\"},
        {"\\\\server\\share\\dir\\", DRIVE_NO_ROOT_DIR, "\\\\server\\share\\"},
        {"\\\\server\\other\\", DRIVE_NO_ROOT_DIR, nullptr, ERROR_INVALID_NAME},
        {"\\\\server", DRIVE_NO_ROOT_DIR, nullptr, ERROR_INVALID_NAME},
        {"E:\\", DRIVE_NO_ROOT_DIR, nullptr, ERROR_FILE_NOT_FOUND},
        {"setup\\", DRIVE_NO_ROOT_DIR, "C:\\"},
        {"", DRIVE_NO_ROOT_DIR, nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetDriveTypeA(c.path), c.type) << c.path;
        char volume[MAX_PATH] = "untouched";
        SetLastError(0);
        const BOOL found = GetVolumePathNameA(c.path, volume, sizeof volume);
        EXPECT_EQ(found, c.volume != nullptr) << c.path;
        EXPECT_STREQ(volume, c.volume ? c.volume : "untouched") << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    EXPECT_EQ(GetDriveTypeA(nullptr), DRIVE_FIXED);  // the current directory's drive
    EXPECT_THROW(sim::setDrive("Setup\\", DRIVE_CDROM), std::invalid_argument);
}

TEST_F(SimTest, VolumeRootWantsRoomForItselfAndItsTerminator)
{
    for (const char* path : {"C:\\Windows\\", "C:"}) {
        char volume[8] = "XXXXXXX";
        for (DWORD size : {0u, 1u, 2u, 3u}) {
            SetLastError(0);
            EXPECT_FALSE(GetVolumePathNameA(path, volume, size)) << path << " " << size;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE)) << path << " " << size;
            EXPECT_STREQ(volume, "XXXXXXX") << "the buffer stays untouched";
        }
        EXPECT_TRUE(GetVolumePathNameA(path, volume, 4));
        EXPECT_STREQ(volume, "C:\\");
    }
    EXPECT_FALSE(GetVolumePathNameA(nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimTest, TheHostFolderIsWhereTheFileStreamsOpenAndIsFreshPerReset)
{
    char buffer[2048];
    GetTempPathA(sizeof buffer, buffer);
    std::string path = sim::tempPath();
    EXPECT_EQ(qelStreamPath(buffer), path);

    writeFile("left.over", "x");
    sim::reset();
    EXPECT_NE(sim::tempPath(), path);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_empty(sim::tempPath()));
}

// Host only: a folder cannot be deleted as a file, and the model's world ends at its folder, so
// nothing outside it is ever touched (a real system looks the file up and answers
// ERROR_FILE_NOT_FOUND).
TEST_F(SimTest, DeleteFileRefusesFoldersAndTheWorldOutside)
{
    std::filesystem::create_directory(qelStreamPath((systemTemp() + "sub").c_str()));
    EXPECT_FALSE(DeleteFileA((systemTemp() + "sub").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileA((systemTemp() + "..\\outside").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// Host only: the model's accounting of search handles.
TEST_F(SimTest, SearchHandlesAreCountedUntilClosed)
{
    writeFile("noext", "");
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((systemTemp() + "missing").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim::openFindHandles(), 0u);
    HANDLE h = FindFirstFileA((systemTemp() + "noext").c_str(), &data);
    EXPECT_EQ(sim::openFindHandles(), 1u);
    EXPECT_TRUE(FindClose(h));
    EXPECT_EQ(sim::openFindHandles(), 0u);
}

// Host only: the model's accounting of the buffers FormatMessageA allocates.
TEST_F(SimTest, FormatMessageBuffersAreCountedUntilFreed)
{
    constexpr DWORD allocated =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    char* text = nullptr;
    FormatMessageA(allocated, nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(sim::liveLocalAllocations(), 1u);
    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_EQ(sim::liveLocalAllocations(), 0u);
    EXPECT_EQ(LocalFree(text), text);  // freed twice
    EXPECT_EQ(sim::badLocalFrees(), 1u);

    EXPECT_EQ(FormatMessageA(allocated, nullptr, 0x80000000u, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
    EXPECT_EQ(sim::liveLocalAllocations(), 0u);
}

TEST_F(SimTest, MessageBoxesAndStringResources)
{
    sim::scriptMessageBoxAnswers({IDRETRY});
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(MessageBoxA(nullptr, "again", "caption", MB_OK), IDOK);
    ASSERT_EQ(sim::messageBoxes().size(), 2u);
    EXPECT_EQ(sim::messageBoxes()[0].text, "text");
    EXPECT_EQ(sim::messageBoxes()[0].type, MB_RETRYCANCEL);

    HINSTANCE module = nullptr;
    sim::setStringResource(module, 1, "Hello world");
    char buffer[16];
    EXPECT_EQ(LoadStringA(module, 1, buffer, 6), 5);
    EXPECT_STREQ(buffer, "Hello");
    EXPECT_EQ(LoadStringA(module, 1, buffer, sizeof buffer), 11);
    EXPECT_EQ(LoadStringA(module, 1, buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    std::strcpy(buffer, "junk");
    EXPECT_EQ(LoadStringA(module, 2, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

// ---- The session's database -----------------------------------------------------------------------

// Host only: the queries Wine takes that the model's subset refuses, the steering's refusals of a
// table the installer could not have, and the model's answers where Wine departs (ViewTest has
// the answers both give).
TEST_F(SimTest, TheModelsDatabaseRefusesWhatItCannotAnswerAndKeepsTheStoredOrder)
{
    const MSIHANDLE session = sim::openSession();
    sim::addTable(session, "T", {{"Name", "s72"}, {"Number", "I4"}});
    sim::addRow(session, "T", {std::string("zulu"), 1});
    sim::addRow(session, "T", {std::string("alpha"), sim::Null{}});
    EXPECT_THROW(sim::addRow(session, "T", {std::string("zulu"), 2}), std::invalid_argument) << "its key";
    EXPECT_THROW(sim::addRow(session, "T", {sim::Null{}, 2}), std::invalid_argument) << "a null key";
    EXPECT_THROW(sim::addRow(session, "T", {std::string("x"), std::string("one")}), std::invalid_argument);
    EXPECT_THROW(sim::addRow(session, "T", {std::string("x")}), std::invalid_argument) << "a field short";
    EXPECT_THROW(sim::addTable(session, "T", {{"A", "s72"}}), std::invalid_argument) << "there already";
    for (const char* type : {"x72", "i3", "s", "I", ""}) {
        EXPECT_THROW(sim::addTable(session, "U", {{"A", type}}), std::invalid_argument) << type;
    }

    const MSIHANDLE database = MsiGetActiveDatabase(session);
    MSIHANDLE view = 0;
    for (const char* query :
         {"SELECT Name FROM T WHERE Name = 'a' OR Number = 1", "SELECT Name FROM T WHERE Number > 1",
          "SELECT Name FROM T WHERE Number IS NULL", "SELECT DISTINCT Number FROM T", "SELECT Name FROM T, T",
          "DELETE FROM T WHERE Name = 'a'", "INSERT INTO T (Name) VALUES ('b')",
          "SELECT Name FROM T WHERE NOT Name = 'a'"}) {
        EXPECT_EQ(MsiDatabaseOpenViewA(database, query, &view), ERROR_BAD_QUERY_SYNTAX) << query;
    }
    ASSERT_EQ(MsiDatabaseOpenViewA(database, "SELECT Name FROM T WHERE Name = ?", &view), ERROR_SUCCESS);
    EXPECT_EQ(MsiViewExecute(view, 0), ERROR_FUNCTION_FAILED) << "a marker needs a parameter record (Wine crashes)";
    MsiCloseHandle(view);
    ASSERT_EQ(MsiDatabaseOpenViewA(database, "SELECT Name, Number FROM T ORDER BY Name", &view), ERROR_SUCCESS);
    ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
    std::vector<std::string> names;
    MSIHANDLE row = 0;
    while (MsiViewFetch(view, &row) == ERROR_SUCCESS) {
        char name[16];
        DWORD size = sizeof name;
        MsiRecordGetStringA(row, 1, name, &size);
        names.emplace_back(name);
        MsiCloseHandle(row);
    }
    EXPECT_THAT(names, ElementsAre("zulu", "alpha")) << "text columns order as the package stored them";
    EXPECT_EQ(MsiViewFetch(view, &row), ERROR_NO_MORE_ITEMS) << "and again at the end (Wine starts over)";

    // A text that is no integer is refused for an integer column (Wine stores a null).
    const MSIHANDLE text = sim::makeRecord({sim::Null{}, std::string("bravo"), std::string("two")});
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, text), ERROR_INVALID_DATA);
    const MSIHANDLE number = sim::makeRecord({sim::Null{}, std::string("bravo"), std::string("2")});
    EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, number), ERROR_SUCCESS);
    for (const MSIMODIFY mode : {MSIMODIFY_UPDATE, MSIMODIFY_DELETE, MSIMODIFY_SEEK, MSIMODIFY_VALIDATE}) {
        EXPECT_EQ(MsiViewModify(view, mode, number), ERROR_FUNCTION_FAILED) << mode;
    }
    EXPECT_EQ(sim::rows(session, "T").back(), (std::vector<sim::Field>{std::string("bravo"), 2}));
    for (const MSIHANDLE handle : {text, number, view, database}) {
        MsiCloseHandle(handle);
    }
}

// ---- Installations -------------------------------------------------------------------------------

namespace {

std::vector<std::string> seen;

std::string readProperty(MSIHANDLE install, const char* name)
{
    char value[64] = "";
    DWORD size = sizeof value;
    const UINT result = MsiGetPropertyA(install, name, value, &size);
    return result == ERROR_SUCCESS ? value : "<" + std::to_string(result) + ">";
}

// Notes what a scheduled action's handle reaches beyond what ScriptTest checks on both platforms.
UINT WINAPI observeLimits(MSIHANDLE install)
{
    const MSIHANDLE record = sim::makeRecord({std::string("[CustomActionData]|[ProductCode]|[Other]")});
    char text[128] = "";
    DWORD size = sizeof text;
    MsiFormatRecordA(install, record, text, &size);
    MsiCloseHandle(record);
    INSTALLSTATE installed, action;
    seen.push_back(std::string(text) + " ProductCode=" + readProperty(install, "ProductCode") +
                   " language=" + std::to_string(MsiGetLanguage(install)) +
                   " admin=" + std::to_string(MsiGetMode(install, MSIRUNMODE_ROLLBACKENABLED)) +
                   " set=" + std::to_string(MsiSetPropertyA(install, "Other", "x")) +
                   " condition=" + std::to_string(MsiEvaluateConditionA(install, "1")) +
                   " feature=" + std::to_string(MsiGetFeatureStateA(install, "Main", &installed, &action)) +
                   " doAction=" + std::to_string(MsiDoActionA(install, "Nested")));
    return ERROR_SUCCESS;
}

UINT WINAPI nested(MSIHANDLE)
{
    seen.push_back(sim::insideModelCall() ? "nested inside the model's call" : "nested");
    return ERROR_SUCCESS;
}

constexpr sim::ActionFunction userExit = +[](MSIHANDLE) -> UINT { return ERROR_INSTALL_USEREXIT; };
constexpr sim::ActionFunction skipTheRest = +[](MSIHANDLE) -> UINT { return ERROR_NO_MORE_ITEMS; };
constexpr sim::ActionFunction failing = +[](MSIHANDLE) -> UINT { return ERROR_INSTALL_FAILURE; };
constexpr sim::ActionFunction quiet = +[](MSIHANDLE) -> UINT { return ERROR_SUCCESS; };

UINT WINAPI scheduleAll(MSIHANDLE install)
{
    for (const char* action : {"Deferred", "Commit", "Failing"}) {
        MsiSetPropertyA(install, action, action);
        MsiDoActionA(install, action);
    }
    seen.push_back("DoAction Nested " + std::to_string(MsiDoActionA(install, "Nested")) + ", Failing " +
                   std::to_string(MsiDoActionA(install, "FailingNow")) + ", UserExit " +
                   std::to_string(MsiDoActionA(install, "UserExitNow")) + ", Ignored " +
                   std::to_string(MsiDoActionA(install, "IgnoredNow")));
    return ERROR_SUCCESS;
}

}  // namespace

// Host only: under Wine a scheduled action reaches the whole session.
TEST_F(SimTest, AScheduledActionsHandleReachesOnlyWhatTheDocumentationLists)
{
    seen.clear();
    const MSIHANDLE session = sim::openSession();
    sim::setProperty(session, "ProductCode", "{PC}");
    sim::setProperty(session, "Other", "other");
    sim::setLanguage(session, 1031);
    sim::setFeature(session, "Main", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
    constexpr int inScript = sim::customActionDll | sim::customActionInScript;
    sim::addCustomAction(session, "Deferred", inScript, &observeLimits);
    sim::addCustomAction(session, "Commit", inScript | sim::customActionCommit, &observeLimits);
    sim::addCustomAction(session, "Failing", inScript | sim::customActionContinue, failing);
    sim::addCustomAction(session, "Nested", sim::customActionDll, &nested);
    sim::addCustomAction(session, "FailingNow", sim::customActionDll, failing);
    sim::addCustomAction(session, "UserExitNow", sim::customActionDll, userExit);
    sim::addCustomAction(session, "IgnoredNow", sim::customActionDll | sim::customActionContinue, failing);
    sim::addCustomAction(session, "Schedule", sim::customActionDll, &scheduleAll);
    const std::size_t sessions = sim::openHandles(sim::HandleKind::session);

    const sim::Installation installation = sim::runInstallation(session, {"Schedule"});
    EXPECT_EQ(installation.result, static_cast<UINT>(ERROR_SUCCESS)) << "the failing action's answer is ignored";
    using sim::Script;
    EXPECT_THAT(installation.runs,
                ElementsAre(sim::ActionRun{"Schedule", Script::immediate, 0, ""},
                            sim::ActionRun{"Deferred", Script::deferred, 0, "Deferred"},
                            sim::ActionRun{"Failing", Script::deferred, ERROR_INSTALL_FAILURE, "Failing"},
                            sim::ActionRun{"Commit", Script::commit, 0, "Commit"}));
    const std::string limits = " admin=0 set=6 condition=3 feature=6 doAction=6";
    EXPECT_THAT(seen, ElementsAre("nested", "DoAction Nested 0, Failing 1603, UserExit 1602, Ignored 0",
                                  "Deferred|{PC}| ProductCode={PC} language=1031" + limits,
                                  "Commit|{PC}| ProductCode= language=0" + limits));
    EXPECT_EQ(sim::openHandles(sim::HandleKind::session), sessions) << "each scheduled action's handle is closed";
    EXPECT_EQ(sim::badCloses(), 0u);
    EXPECT_TRUE(sim::script(session).empty());
}

TEST_F(SimTest, InstallationsEndAsTheirActionsAnswer)
{
    seen.clear();
    const MSIHANDLE session = sim::openSession();
    sim::addCustomAction(session, "Nested", sim::customActionDll, &nested);
    struct Case {
        std::vector<sim::Step> steps;
        UINT result;
        std::size_t runs;
    };
    const Case cases[] = {
        {{&nested, userExit, &nested}, ERROR_INSTALL_USEREXIT, 2},
        {{&nested, failing, &nested}, ERROR_INSTALL_FAILURE, 2},
        {{skipTheRest, failing}, ERROR_SUCCESS, 1},
        {{"Nested", &nested}, ERROR_SUCCESS, 2},
    };
    for (const Case& c : cases) {
        const sim::Installation installation = sim::runInstallation(session, c.steps);
        EXPECT_EQ(installation.result, c.result);
        EXPECT_EQ(installation.runs.size(), c.runs);
    }
    EXPECT_THROW(sim::runInstallation(session, {"NoSuchAction"}), std::invalid_argument);
    EXPECT_THAT(seen, ::testing::Each("nested")) << "an action runs outside the model's calls";

    // What the installation does around its actions is the model's own work, not theirs.
    sim::addCustomAction(session, "Quiet", sim::customActionDll | sim::customActionInScript, quiet);
    const std::vector<sim::Step> steps{+[](MSIHANDLE install) -> UINT { return MsiDoActionA(install, "Quiet"); }};
    qel::testing::FailingAllocation memory(0);
    const sim::Installation installation = sim::runInstallation(session, steps);
    memory.stop();
    EXPECT_EQ(memory.counted(), 0u);
    EXPECT_EQ(installation.runs.size(), 2u);
}

// Host only: the model's sums, which the progress cases of the author's calls read.
TEST_F(SimTest, ProgressSumsTheProgressMessagesOfEachForm)
{
    const MSIHANDLE session = sim::openSession();
    const sim::Field none = sim::Null{};
    const std::vector<std::pair<INSTALLMESSAGE, std::vector<sim::Field>>> sent = {
        {INSTALLMESSAGE_PROGRESS, {none, 0, 1000, 0, 0}},  // reset: 1000 to do
        {INSTALLMESSAGE_PROGRESS, {none, 3, 500}},         // add 500
        {INSTALLMESSAGE_ACTIONSTART, {none, std::string("A"), std::string("a"), std::string("")}},
        {INSTALLMESSAGE_PROGRESS, {none, 1, 7, 1}},  // 7 for each ACTIONDATA
        {INSTALLMESSAGE_ACTIONDATA, {none, std::string("x")}},
        {INSTALLMESSAGE_ACTIONDATA, {none, std::string("y")}},
        {INSTALLMESSAGE_PROGRESS, {none, 2, 100}},  // report 100
        {INSTALLMESSAGE_ACTIONSTART, {none, std::string("B"), std::string("b"), std::string("")}},
        {INSTALLMESSAGE_ACTIONDATA, {none, std::string("z")}},  // B asked for no ticks
        {INSTALLMESSAGE_PROGRESS, {none, 9, 1}},                // no such kind
        {INSTALLMESSAGE_PROGRESS, {none, 2}},                   // no ticks
    };
    for (const auto& [type, fields] : sent) {
        const MSIHANDLE record = sim::makeRecord(fields);
        EXPECT_EQ(MsiProcessMessage(session, type, record), 0);
        MsiCloseHandle(record);
    }
    const sim::Progress progress = sim::progress();
    EXPECT_EQ(std::vector<long long>({progress.total, progress.done, progress.resets, progress.adds, progress.reports,
                                      progress.malformed}),
              std::vector<long long>({1500, 114, 1, 1, 1, 2}))
        << "total, done, resets, adds, reports, malformed";
}

// ---- Code pages and the wide calls ---------------------------------------------------------------

namespace {

using Wide = std::basic_string<WCHAR>;

Wide wide(const std::string& utf8)
{
    WCHAR out[512] = {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out, 512);
    return Wide(out, static_cast<std::size_t>(length));
}

std::string ansiTemp()
{
    return systemTemp();
}

Wide wideTemp()
{
    WCHAR buffer[512] = {};
    const DWORD length = GetTempPathW(512, buffer);
    return Wide(buffer, length);
}

}  // namespace

// Host only: the model's texts are Unicode, and each A call gives them in the selected code page.
TEST_F(SimTest, TheACallsGiveTheModelsTextsInTheSelectedCodePage)
{
    struct Row {
        unsigned page;
        const char* text;  // UTF-8, as the model takes it
        const char* ansi;  // what MsiGetPropertyA gives
        bool doubleByte;
    };
    const Row rows[] = {
        {1252, "Café €5 Привет",
         "Caf\xe9 \x80"
         "5 ??????",
         false},
        {1250, "Michał Łódź", "Micha\xb3 \xa3\xf3\x64\x9f", false},
        {1251, "Привет é", "\xcf\xf0\xe8\xe2\xe5\xf2 ?", false},
        {1253, "Ωμέγα 日", "\xd9\xec\xdd\xe3\xe1 ?", false},
        {932, "日本語\\ Привет", "\x93\xfa\x96\x7b\x8c\xea\\ \x84\x50\x84\x82\x84\x79\x84\x72\x84\x75\x84\x84", true},
        {936, "中文 é", "\xd6\xd0\xce\xc4 \xa8\xa6", true},
        {949, "한국 €", "\xc7\xd1\xb1\xb9 \xa2\xe6", true},
        {950, "中文 ł", "\xa4\xa4\xa4\xe5 ?", true},
    };
    for (const Row& row : rows) {
        sim::reset();
        sim::setCodePage(row.page);
        sim::setDoubledMoreDataLength(false);
        const MSIHANDLE session = sim::openSession();
        sim::setProperty(session, "P", row.text);
        char buffer[64] = {};
        DWORD size = sizeof buffer;
        EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_SUCCESS);
        EXPECT_EQ(std::string(buffer, size), row.ansi) << row.page;
        EXPECT_EQ(GetACP(), row.page);
        EXPECT_EQ(IsDBCSLeadByte(0x81) != FALSE, row.doubleByte) << row.page;
        // What an A setter gives comes back whole from the W getter, unless it held '?'.
        ASSERT_EQ(MsiSetPropertyA(session, "Q", row.ansi), ERROR_SUCCESS);
        EXPECT_EQ(sim::property(session, "Q"), sim::property(session, "Q").find('?') == std::string::npos
                                                   ? std::string(row.text)
                                                   : sim::property(session, "Q"));
        WCHAR wideBuffer[64] = {};
        size = 64;
        EXPECT_EQ(MsiGetPropertyW(session, wide("P").c_str(), wideBuffer, &size), ERROR_SUCCESS);
        EXPECT_EQ(Wide(wideBuffer, size), wide(row.text)) << row.page;
    }
}

// Host only: each W call is journalled, and refused, under its own name; the W getters report the
// true length where the A getters report twice the length inside a custom action.
TEST_F(SimTest, TheWideCallsAreJournalledUnderTheirOwnNames)
{
    const MSIHANDLE session = sim::openSession();
    sim::setProperty(session, "P", "Привет");
    WCHAR buffer[16] = {};
    DWORD size = 0;
    EXPECT_EQ(MsiGetPropertyW(session, wide("P").c_str(), buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    char ansi[16] = {};
    size = 0;
    EXPECT_EQ(MsiGetPropertyA(session, "P", ansi, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u);

    sim::failCall("MsiGetPropertyW", 1, ERROR_FUNCTION_FAILED);
    size = 16;
    EXPECT_EQ(MsiGetPropertyW(session, wide("P").c_str(), buffer, &size), ERROR_FUNCTION_FAILED);
    sim::failCall("CreateFileW", 1, -1, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(CreateFileW((wideTemp() + wide("x")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(sim::calls("MsiGetPropertyW"), 2u);
    EXPECT_EQ(sim::calls("MsiGetPropertyA"), 1u);
    EXPECT_THAT(std::vector<std::string>(sim::callLog().end() - 3, sim::callLog().end()),
                ElementsAre("GetTempPathW", "CreateFileW", "GetLastError"));
}

// Host only: a temporary folder whose path the code page cannot write. The A path holds '?' for
// what it lacks, which Windows refuses in a name; the W path reaches the folder. (Windows' best fit
// would write "Michał" as "Michal" under 1252 and so reach another user's folder; the model writes
// '?' and the A call fails instead: either way only the W path reaches the user's own.)
TEST_F(SimTest, AnATempPathLosesWhatTheCodePageLacks)
{
    struct Row {
        const char* folder;
        unsigned page;
        const char* ansi;  // GetTempPathA's answer
        bool aReachesIt;
    };
    const Row rows[] = {
        {"C:\\users\\Пользователь\\Temp\\", 1252, "C:\\users\\????????????\\Temp\\", false},
        {"C:\\users\\Пользователь\\Temp\\", 1251, "C:\\users\\\xcf\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xe5\xeb\xfc\\Temp\\",
         true},
        {"C:\\users\\Michał\\Temp\\", 1252, "C:\\users\\Micha?\\Temp\\", false},
        {"C:\\users\\Michał\\Temp\\", 1250, "C:\\users\\Micha\xb3\\Temp\\", true},
        {"C:\\users\\山田\\Temp\\", 932, "C:\\users\\\x8e\x52\x93\x63\\Temp\\", true},
    };
    for (const Row& row : rows) {
        sim::reset();
        sim::setCodePage(row.page);
        sim::setTempPath(row.folder);
        const std::string other = sim::makeFolder("C:\\users\\Michal\\Temp\\");
        EXPECT_EQ(wideTemp(), wide(row.folder));
        EXPECT_EQ(ansiTemp(), row.ansi);

        const HANDLE a = CreateFileA((ansiTemp() + "a.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        EXPECT_EQ(a != INVALID_HANDLE_VALUE, row.aReachesIt) << row.folder << " " << row.page;
        if (a == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
        } else {
            CloseHandle(a);
        }
        const HANDLE w =
            CreateFileW((wideTemp() + wide("w.log")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(w, INVALID_HANDLE_VALUE);
        CloseHandle(w);
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(sim::tempPath()) / "w.log"));
        EXPECT_EQ(std::filesystem::exists(std::filesystem::path(sim::tempPath()) / "a.log"), row.aReachesIt);
        EXPECT_TRUE(std::filesystem::is_empty(other)) << "nothing reached another user's folder";
    }
}

// Host only: the W file calls over the model's files, with Unicode names, and their refusals.
TEST_F(SimTest, TheWideFileCallsMoveCopyAndExamineFilesAndFolders)
{
    const Wide temp = wideTemp();
    const Wide file = temp + wide("Файл.txt");
    HANDLE h =
        CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &count, nullptr));
    EXPECT_TRUE(FlushFileBuffers(h));
    LARGE_INTEGER size{};
    EXPECT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 5);
    EXPECT_TRUE(CloseHandle(h));
    h = CreateFileW((temp + wide("фАЙЛ.TXT")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "names match without regard to case";
    char read[8] = {};
    EXPECT_TRUE(ReadFile(h, read, sizeof read, &count, nullptr));
    EXPECT_EQ(std::string(read, count), "hello");
    EXPECT_TRUE(ReadFile(h, read, sizeof read, &count, nullptr));
    EXPECT_EQ(count, 0u) << "at the end: success and nothing read";
    EXPECT_FALSE(WriteFile(h, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(h));

    // Each call on files and folders in both forms: FileContractTest; with names in any script:
    // UnicodeTest. Here the file moves under a Cyrillic name and goes.
    const Wide moved = temp + wide("Папка.txt");
    EXPECT_TRUE(MoveFileExW(file.c_str(), moved.c_str(), 0));
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteFileW(moved.c_str()));

    // Found by a search, the name is whole in the W form and '?' where 1252 lacks a character in the A form.
    h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    CloseHandle(h);
    WIN32_FIND_DATAW wideData{};
    HANDLE find = FindFirstFileW((temp + wide("*.txt")).c_str(), &wideData);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Wide(wideData.cFileName), wide("Файл.txt"));
    EXPECT_TRUE(FindClose(find));
    WIN32_FIND_DATAA ansiData{};
    find = FindFirstFileA((ansiTemp() + "*.txt").c_str(), &ansiData);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::string(ansiData.cFileName), "????.txt");
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(GetDriveTypeW(wide("C:\\").c_str()), static_cast<UINT>(DRIVE_FIXED));
    WCHAR volume[8] = {};
    EXPECT_TRUE(GetVolumePathNameW(wide("c:\\Windows").c_str(), volume, 8));
    EXPECT_EQ(Wide(volume), wide("C:\\"));
    EXPECT_TRUE(sim::leftovers().none());
}
