// The host platform model answers as the real calls do, where a wrong answer would mislead the
// library's own tests.
#include "SimTest.h"

#include <gmock/gmock.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

using ::testing::ElementsAre;

namespace {

constexpr int nullInteger = static_cast<int>(MSI_NULL_INTEGER);

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

bool exists(const std::string& name)
{
    return std::filesystem::exists(qelStreamPath((systemTemp() + name).c_str()));
}

}  // namespace

// ---- Session getters and setters ---------------------------------------------------------------

TEST_F(SimTest, PropertyGetterFollowsTheSizeProtocol)
{
    MSIHANDLE session = sim::openSession();
    sim::setProperty(session, "P", "hello");

    // Length query, as the library asks it: a buffer of size 0.
    char buffer[16] = "XXXXXXXXXXXXXXX";
    DWORD size = 0;
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    // Inside a custom action the ANSI getters report up to twice the length; a session opened by
    // the test process itself reports the length (5).
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buffer[0], 'X');

    size = 5;  // one short: truncated and terminated
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    EXPECT_STREQ(buffer, "hell");
    size = 1;
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    EXPECT_STREQ(buffer, "");

    size = 6;
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(size, 5u);

    sim::setDoubledMoreDataLength(false);
    size = 0;
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);

    size = 0;
    EXPECT_EQ(MsiGetPropertyA(session, "P", nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(MsiGetPropertyA(session, "P", nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, nullptr), ERROR_INVALID_PARAMETER);

    // A property that is not set reads as the empty text, with the same protocol.
    size = 0;
    EXPECT_EQ(MsiGetPropertyA(session, "UNSET", buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 0u);
    size = 1;
    EXPECT_EQ(MsiGetPropertyA(session, "UNSET", buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "");
}

TEST_F(SimTest, PathGettersAndSetters)
{
    MSIHANDLE session = sim::openSession();
    sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Qel\\", "D:\\");
    char buffer[64];
    DWORD size = sizeof buffer;
    EXPECT_EQ(MsiGetTargetPathA(session, "INSTALLDIR", buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "C:\\Program Files\\Qel\\");
    size = sizeof buffer;
    EXPECT_EQ(MsiGetSourcePathA(session, "INSTALLDIR", buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "D:\\");
    EXPECT_EQ(size, 3u);

    size = sizeof buffer;
    EXPECT_EQ(MsiGetTargetPathA(session, "NOSUCHDIR", buffer, &size), ERROR_DIRECTORY);
    EXPECT_EQ(MsiGetSourcePathA(session, "NOSUCHDIR", buffer, &size), ERROR_DIRECTORY);
    EXPECT_EQ(MsiSetTargetPathA(session, "NOSUCHDIR", "E:\\x"), ERROR_DIRECTORY);

    EXPECT_EQ(MsiSetTargetPathA(session, "INSTALLDIR", "E:\\Apps"), ERROR_SUCCESS);
    EXPECT_EQ(sim::targetPath(session, "INSTALLDIR"), "E:\\Apps\\");
    EXPECT_EQ(MsiSetTargetPathA(session, "INSTALLDIR", "F:\\"), ERROR_SUCCESS);
    EXPECT_EQ(sim::targetPath(session, "INSTALLDIR"), "F:\\");
    EXPECT_EQ(sim::sourcePath(session, "INSTALLDIR"), "D:\\");
}

TEST_F(SimTest, DirectoryPropertiesHoldTheTargetPathsOfACostedSession)
{
    // A costed session with TARGETDIR > INSTALLDIR > SUBDIR.
    MSIHANDLE session = sim::openSession();
    sim::setDirectory(session, "TARGETDIR", "C:\\", "D:\\");
    sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Qel\\", "D:\\", "TARGETDIR");
    sim::setDirectory(session, "SUBDIR", "C:\\Program Files\\Qel\\Sub\\", "D:\\", "INSTALLDIR");
    auto text = [&](auto query, const char* name) {
        char buffer[256] = "";
        DWORD size = sizeof buffer;
        EXPECT_EQ(query(session, name, buffer, &size), ERROR_SUCCESS) << name;
        return std::string(buffer);
    };
    auto expectPaths = [&](const char* name, const std::string& expected) {
        EXPECT_EQ(text(MsiGetTargetPathA, name), expected);
        EXPECT_EQ(text(MsiGetPropertyA, name), expected);
    };
    expectPaths("INSTALLDIR", "C:\\Program Files\\Qel\\");
    expectPaths("SUBDIR", "C:\\Program Files\\Qel\\Sub\\");
    // Host only: the steering refuses a tree the installer could not have.
    EXPECT_THROW(sim::setDirectory(session, "TARGETDIR", "C:\\", "D:\\", "SUBDIR"), std::invalid_argument);
    EXPECT_THROW(sim::setDirectory(session, "X", "C:\\X\\", "D:\\", "NOSUCHDIR"), std::invalid_argument);

    // A new target path ends in one backslash, doubled ones taken as one; the directories below
    // move along, those above stay.
    struct Move {
        const char* path;
        const char* installDir;
        const char* subDir;
    };
    for (const Move& move :
         {Move{"E:\\Other", "E:\\Other\\", "E:\\Other\\Sub\\"}, Move{"E:\\Two\\", "E:\\Two\\", "E:\\Two\\Sub\\"},
          Move{"E:\\Dbl\\\\Path", "E:\\Dbl\\Path\\", "E:\\Dbl\\Path\\Sub\\"}}) {
        ASSERT_EQ(MsiSetTargetPathA(session, "INSTALLDIR", move.path), ERROR_SUCCESS) << move.path;
        expectPaths("INSTALLDIR", move.installDir);
        expectPaths("SUBDIR", move.subDir);
        expectPaths("TARGETDIR", "C:\\");
    }

    // Costing is over: setting the property moves nothing.
    EXPECT_EQ(MsiSetPropertyA(session, "INSTALLDIR", "F:\\ByProperty\\"), ERROR_SUCCESS);
    EXPECT_EQ(text(MsiGetTargetPathA, "INSTALLDIR"), "E:\\Dbl\\Path\\");
    EXPECT_EQ(MsiSetTargetPathA(session, "INSTALLDIR", nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(SimTest, SetPropertyRules)
{
    MSIHANDLE session = sim::openSession();
    EXPECT_EQ(MsiSetPropertyA(session, "A", "1"), ERROR_SUCCESS);
    EXPECT_EQ(sim::property(session, "A"), "1");
    EXPECT_EQ(MsiSetPropertyA(session, nullptr, "1"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiSetPropertyA(session, "", "1"), ERROR_FUNCTION_FAILED);
    EXPECT_EQ(MsiSetPropertyA(session, "A", ""), ERROR_SUCCESS);
    EXPECT_EQ(sim::property(session, "A"), "");
    sim::setProperty(session, "B", "x");
    EXPECT_EQ(MsiSetPropertyA(session, "B", nullptr), ERROR_SUCCESS);
    EXPECT_EQ(sim::property(session, "B"), "");

    MSIHANDLE record = MsiCreateRecord(1);
    EXPECT_EQ(MsiSetPropertyA(record, "A", "1"), ERROR_INVALID_HANDLE);  // not a session
    DWORD size = 0;
    EXPECT_EQ(MsiGetPropertyA(record, "A", nullptr, &size), ERROR_INVALID_HANDLE);
}

// ---- Records -----------------------------------------------------------------------------------

TEST_F(SimTest, RecordStringGetterCountsTheTerminatorsRoom)
{
    MSIHANDLE record = sim::makeRecord({sim::Null{}, std::string("hello"), 26002, sim::Null{}});
    char buffer[16];
    DWORD size = 5;
    EXPECT_EQ(MsiRecordGetStringA(record, 1, buffer, &size), ERROR_MORE_DATA);
    EXPECT_STREQ(buffer, "hell");
    EXPECT_EQ(size, 5u);  // never doubled
    size = 6;
    EXPECT_EQ(MsiRecordGetStringA(record, 1, buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "hello");

    size = 0;
    EXPECT_EQ(MsiRecordGetStringA(record, 2, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    size = 7;
    EXPECT_EQ(MsiRecordGetStringA(record, 2, buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "26002");

    size = 0;  // a null field has length 0, and still answers ERROR_MORE_DATA for size 0
    EXPECT_EQ(MsiRecordGetStringA(record, 3, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 0u);
    size = 2;
    EXPECT_EQ(MsiRecordGetStringA(record, 0, buffer, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "");

    size = 0;  // beyond the field count: success and ""
    EXPECT_EQ(MsiRecordGetStringA(record, 9, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(MsiRecordGetStringA(record, 1, buffer, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(SimTest, RecordIntegersAndNulls)
{
    MSIHANDLE record = MsiCreateRecord(2);
    EXPECT_EQ(MsiRecordGetFieldCount(record), 2u);
    EXPECT_TRUE(MsiRecordIsNull(record, 1));
    EXPECT_EQ(MsiRecordGetInteger(record, 1), nullInteger);

    const std::pair<const char*, int> texts[] = {
        {"42", 42},
        {"007", 7},
        {"-12", -12},
        {" 42", nullInteger},
        {"42 ", nullInteger},
        {"+42", nullInteger},
        {"0x42", nullInteger},
        {"42.0", nullInteger},
        {"2147483648", nullInteger},
        {"2147483647", 2147483647},
        // Wine departs: a field that is no integer answers MSI_NULL_INTEGER (Wine: "-" gives 0).
        {"-", nullInteger}};
    for (const auto& [text, value] : texts) {
        ASSERT_EQ(MsiRecordSetStringA(record, 1, text), ERROR_SUCCESS);
        EXPECT_EQ(MsiRecordGetInteger(record, 1), value) << text;
    }

    EXPECT_EQ(MsiRecordSetInteger(record, 2, 26002), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordGetInteger(record, 2), 26002);
    EXPECT_EQ(MsiRecordSetInteger(record, 2, nullInteger), ERROR_SUCCESS);
    EXPECT_TRUE(MsiRecordIsNull(record, 2));
    EXPECT_EQ(MsiRecordSetStringA(record, 1, ""), ERROR_SUCCESS);
    EXPECT_TRUE(MsiRecordIsNull(record, 1));
    EXPECT_TRUE(MsiRecordIsNull(record, 3));  // beyond the count

    EXPECT_EQ(MsiRecordSetStringA(record, 3, "x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiRecordSetInteger(record, 3, 1), ERROR_INVALID_PARAMETER);

    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetInteger(record, 1, 5);
    EXPECT_EQ(MsiRecordClearData(record), ERROR_SUCCESS);
    EXPECT_THAT(sim::recordFields(record), ElementsAre(sim::Null{}, sim::Null{}, sim::Null{}));

    EXPECT_EQ(MsiCreateRecord(65536), 0u);
    MSIHANDLE empty = MsiCreateRecord(0);
    EXPECT_NE(empty, 0u);
    EXPECT_EQ(MsiRecordGetFieldCount(empty), 0u);
}

TEST_F(SimTest, RecordStreamsReadSequentially)
{
    std::string file = writeFile("stream.bin", "abcdefghijklmnopqrstuvwxyz");
    MSIHANDLE record = MsiCreateRecord(3);
    EXPECT_EQ(MsiRecordSetStreamA(record, 0, file.c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiRecordSetStreamA(record, 1, (systemTemp() + "missing.bin").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(MsiRecordSetStreamA(record, 1, (systemTemp() + "nofolder\\x.bin").c_str()), ERROR_PATH_NOT_FOUND);
    ASSERT_EQ(MsiRecordSetStreamA(record, 1, file.c_str()), ERROR_SUCCESS);

    char buffer[10];
    DWORD size = 0;
    EXPECT_EQ(MsiRecordReadStream(record, 1, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 26u);
    std::string read;
    for (DWORD expected : {10u, 10u, 6u, 0u}) {
        size = sizeof buffer;
        ASSERT_EQ(MsiRecordReadStream(record, 1, buffer, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, expected);
        read.append(buffer, size);
    }
    EXPECT_EQ(read, "abcdefghijklmnopqrstuvwxyz");

    // Without a file the stream starts again from its first byte.
    EXPECT_EQ(MsiRecordSetStreamA(record, 1, nullptr), ERROR_SUCCESS);
    size = 0;
    MsiRecordReadStream(record, 1, nullptr, &size);
    EXPECT_EQ(size, 26u);

    MsiRecordSetInteger(record, 2, 7);
    size = sizeof buffer;
    EXPECT_EQ(MsiRecordReadStream(record, 2, buffer, &size), ERROR_INVALID_DATATYPE);
    EXPECT_EQ(MsiRecordReadStream(record, 3, buffer, &size), ERROR_INVALID_DATA);
    EXPECT_EQ(MsiRecordReadStream(record, 4, buffer, &size), ERROR_INVALID_PARAMETER);

    // A stream has no text: length 0, and ERROR_MORE_DATA only for the two-call protocol's
    // length query (a buffer of size 0); the buffer is never written.
    struct TextQuery {
        bool withBuffer;
        DWORD size;
        UINT expected;
    };
    for (const TextQuery& query :
         {TextQuery{true, 0, ERROR_MORE_DATA}, TextQuery{true, 2, ERROR_INVALID_PARAMETER},
          TextQuery{true, sizeof buffer, ERROR_INVALID_PARAMETER}, TextQuery{false, 0, ERROR_INVALID_PARAMETER}}) {
        std::memcpy(buffer, "XXXXXXXXX", sizeof buffer);
        size = query.size;
        EXPECT_EQ(MsiRecordGetStringA(record, 1, query.withBuffer ? buffer : nullptr, &size), query.expected)
            << query.size;
        EXPECT_EQ(size, 0u);
        EXPECT_STREQ(buffer, "XXXXXXXXX");
    }

    EXPECT_EQ(sim::recordFields(record)[1],
              sim::Field(sim::Stream{{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm',
                                      'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z'}}));
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

    // A closed record is gone for every record call.
    DWORD size = 0;
    EXPECT_EQ(MsiRecordSetStringA(record, 1, "x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordGetStringA(record, 1, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordClearData(record), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordGetFieldCount(record), static_cast<UINT>(-1));
    EXPECT_EQ(MsiRecordGetInteger(record, 1), nullInteger);
}

TEST_F(SimTest, LastErrorRecordIsHandedOverOnce)
{
    EXPECT_EQ(MsiGetLastErrorRecord(), 0u);
    MSIHANDLE pending = sim::setPendingErrorRecord({sim::Null{}, 2203, std::string("db")});
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 1u);
    EXPECT_EQ(MsiGetLastErrorRecord(), pending);
    EXPECT_EQ(MsiGetLastErrorRecord(), 0u);
    EXPECT_EQ(MsiRecordGetInteger(pending, 1), 2203);
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
    // Wine departs: an invalid handle answers -1 (Wine: ERROR_INVALID_HANDLE, 6).
    EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_INFO, record), -1);
    EXPECT_EQ(MsiProcessMessage(record, INSTALLMESSAGE_INFO, MsiCreateRecord(1)), -1);
    EXPECT_EQ(sim::messages().size(), 2u);
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

TEST_F(SimTest, TempPathEndsInABackslash)
{
    char buffer[2048];
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(buffer), length);
    EXPECT_EQ(buffer[length - 1], '\\');
    char small[4] = "abc";
    EXPECT_EQ(GetTempPathA(length, small), length + 1);  // the size needed, terminator included
}

// Host only: the model's folder on the host's disk.
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

TEST_F(SimTest, DeleteFileOnRealFiles)
{
    writeFile("setup.mpp", "");
    std::string doubled = systemTemp() + "\\SETUP.MPP";  // "%s\\%s" after a folder ending in a backslash
    EXPECT_TRUE(DeleteFileA(doubled.c_str()));
    EXPECT_FALSE(exists("setup.mpp"));

    EXPECT_FALSE(DeleteFileA(doubled.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA((systemTemp() + "nofolder\\x").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    std::filesystem::create_directory(qelStreamPath((systemTemp() + "sub").c_str()));
    EXPECT_FALSE(DeleteFileA((systemTemp() + "sub").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Host only: the model's world ends at its folder, so nothing outside it is ever touched
    // (a real system looks the file up and answers ERROR_FILE_NOT_FOUND).
    EXPECT_FALSE(DeleteFileA((systemTemp() + "..\\outside").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(SimTest, FindFirstFileMatchesLikeWindows)
{
    writeFile("Setup.log", "12345");
    writeFile("noext", "");
    WIN32_FIND_DATAA data;
    auto find = [&](const std::string& pattern) {
        HANDLE h = FindFirstFileA((systemTemp() + pattern).c_str(), &data);
        std::string found = h == INVALID_HANDLE_VALUE ? std::string("<none>") : std::string(data.cFileName);
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(FindClose(h));
        }
        return found;
    };
    EXPECT_EQ(find("setup.log"), "Setup.log");
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(find("\\\\S?tup.*"), "Setup.log");
    EXPECT_EQ(find("*.log"), "Setup.log");
    EXPECT_EQ(find("*"), ".");
    EXPECT_EQ(find("noext.*"), "noext");
    EXPECT_EQ(find("S?tup.lo"), "<none>");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(find("nofolder\\*"), "<none>");
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(sim::openFindHandles(), 0u);

    HANDLE h = FindFirstFileA((systemTemp() + "noext").c_str(), &data);
    EXPECT_EQ(sim::openFindHandles(), 1u);
    EXPECT_TRUE(FindClose(h));
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SimTest, FormatMessageAndLocalFree)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(0x1300, nullptr, ERROR_FILE_NOT_FOUND, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    // Wine departs: the system's text of error 2 is "The system cannot find the file specified."
    // (Wine: "File not found."); the model carries Windows' texts.
    EXPECT_EQ(std::string(text, length), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(sim::liveLocalAllocations(), 1u);
    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_EQ(sim::liveLocalAllocations(), 0u);
    EXPECT_EQ(LocalFree(text), text);  // freed twice
    EXPECT_EQ(sim::badLocalFrees(), 1u);

    for (DWORD id : {0u, 2u, 3u, 5u, 6u, 8u, 13u, 87u, 122u, 234u, 267u, 1603u, 1627u, 1804u}) {
        length = FormatMessageA(0x1300, nullptr, id, 0x400, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        ASSERT_GT(length, 2u) << id;
        EXPECT_EQ(std::string(text + length - 2), "\r\n") << id;
        LocalFree(text);
    }

    text = reinterpret_cast<char*>(&length);
    EXPECT_EQ(FormatMessageA(0x1300, nullptr, 0x80000000u, 0x400, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(sim::liveLocalAllocations(), 0u);

    char fixed[8];
    EXPECT_EQ(FormatMessageA(0x1200, nullptr, 2, 0x400, fixed, sizeof fixed, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(SimTest, LeadBytesOfTheCodePage)
{
    auto leadBytes = [] {
        int count = 0;
        for (int b = 0; b < 256; ++b) {
            count += IsDBCSLeadByte(static_cast<BYTE>(b)) ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(leadBytes(), 0);
    sim::setCodePage(932);
    EXPECT_EQ(leadBytes(), 60);
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_TRUE(IsDBCSLeadByte(0xFC));
    EXPECT_FALSE(IsDBCSLeadByte(0xA0));
    EXPECT_FALSE(IsDBCSLeadByte(0x80));
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
