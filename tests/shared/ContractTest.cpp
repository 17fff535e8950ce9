// The platform answers the library relies on, checked against the host's model and against the
// real installer and system alike. Where the real platform departs from Windows' documentation the
// case names the documented behaviour (backend/Documented.h), which the model follows.
#include "backend/SharedTest.h"

#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr int nullInteger = static_cast<int>(MSI_NULL_INTEGER);

using ContractTest = SharedTest;

std::string writeFile(const std::string& name, const std::string& content)
{
    std::ofstream(SharedTest::tempStreamPath(name), std::ios::binary) << content;
    return SharedTest::tempFile(name);
}

}  // namespace

// ---- Session getters and setters ---------------------------------------------------------------

TEST_F(ContractTest, PropertyGetterFollowsTheSizeProtocol)
{
    const MSIHANDLE session = Backend::session();
    ASSERT_EQ(MsiSetPropertyA(session, "P", "hello"), ERROR_SUCCESS);

    char buffer[16] = "XXXXXXXXXXXXXXX";
    DWORD size = 0;  // the length query, as the library asks it
    EXPECT_EQ(MsiGetPropertyA(session, "P", buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
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

TEST_F(ContractTest, SetPropertyRules)
{
    const MSIHANDLE session = Backend::session();
    EXPECT_EQ(MsiSetPropertyA(session, "A", "1"), ERROR_SUCCESS);
    EXPECT_EQ(Backend::property("A"), "1");
    EXPECT_EQ(MsiSetPropertyA(session, nullptr, "1"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiSetPropertyA(session, "", "1"), ERROR_FUNCTION_FAILED);
    EXPECT_EQ(MsiSetPropertyA(session, "A", ""), ERROR_SUCCESS);
    EXPECT_EQ(Backend::property("A"), "");
    EXPECT_EQ(MsiSetPropertyA(session, "B", "x"), ERROR_SUCCESS);
    EXPECT_EQ(MsiSetPropertyA(session, "B", nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Backend::property("B"), "");

    const MSIHANDLE record = MsiCreateRecord(1);
    EXPECT_EQ(MsiSetPropertyA(record, "A", "1"), ERROR_INVALID_HANDLE);  // not a session
    DWORD size = 0;
    EXPECT_EQ(MsiGetPropertyA(record, "A", nullptr, &size), ERROR_INVALID_HANDLE);
    MsiCloseHandle(record);
}

TEST_F(ContractTest, CostedDirectoriesAnswerPathsAndPropertiesThatFollowTheTargetPath)
{
    const MSIHANDLE session = Backend::session();
    auto text = [&](auto query, const char* name) {
        char buffer[256] = "";
        DWORD size = sizeof buffer;
        EXPECT_EQ(query(session, name, buffer, &size), ERROR_SUCCESS) << name;
        return std::string(buffer);
    };
    auto expectPaths = [&](const char* name, const std::string& expected) {
        EXPECT_EQ(text(MsiGetTargetPathA, name), expected) << name;
        EXPECT_EQ(text(MsiGetPropertyA, name), expected) << name;
    };
    expectPaths("INSTALLDIR", Backend::installDirTarget());
    EXPECT_EQ(text(MsiGetSourcePathA, "INSTALLDIR"), Backend::packageFolder());

    char buffer[64];
    DWORD size = sizeof buffer;
    EXPECT_EQ(MsiGetTargetPathA(session, "NOSUCHDIR", buffer, &size), ERROR_DIRECTORY);
    EXPECT_EQ(MsiGetSourcePathA(session, "NOSUCHDIR", buffer, &size), ERROR_DIRECTORY);
    EXPECT_EQ(MsiSetTargetPathA(session, "NOSUCHDIR", "C:\\x"), ERROR_DIRECTORY);

    // A new target path ends in one backslash, doubled ones taken as one; the directories below
    // move along, those above stay.
    struct Move {
        const char* path;
        const char* programFiles;
        const char* installDir;
    };
    for (const Move& move : {Move{"C:\\Other", "C:\\Other\\", "C:\\Other\\QelTest\\"},
                             Move{"C:\\Two\\", "C:\\Two\\", "C:\\Two\\QelTest\\"},
                             Move{"C:\\Dbl\\\\Path", "C:\\Dbl\\Path\\", "C:\\Dbl\\Path\\QelTest\\"}}) {
        ASSERT_EQ(MsiSetTargetPathA(session, "ProgramFilesFolder", move.path), ERROR_SUCCESS) << move.path;
        expectPaths("ProgramFilesFolder", move.programFiles);
        expectPaths("INSTALLDIR", move.installDir);
        expectPaths("TARGETDIR", "C:\\");
    }
    EXPECT_EQ(text(MsiGetSourcePathA, "INSTALLDIR"), Backend::packageFolder()) << "the source stays";

    // Costing is over: setting the property moves nothing.
    EXPECT_EQ(MsiSetPropertyA(session, "INSTALLDIR", "C:\\ByProperty\\"), ERROR_SUCCESS);
    EXPECT_EQ(text(MsiGetTargetPathA, "INSTALLDIR"), "C:\\Dbl\\Path\\QelTest\\");
    EXPECT_EQ(MsiSetTargetPathA(session, "INSTALLDIR", nullptr), ERROR_INVALID_PARAMETER);
}

// ---- Records -----------------------------------------------------------------------------------

TEST_F(ContractTest, RecordStringGetterCountsTheTerminatorsRoom)
{
    const MSIHANDLE record = MsiCreateRecord(3);
    MsiRecordSetStringA(record, 1, "hello");
    MsiRecordSetInteger(record, 2, 26002);
    char buffer[16];
    DWORD size = 5;
    EXPECT_EQ(MsiRecordGetStringA(record, 1, buffer, &size), ERROR_MORE_DATA);
    EXPECT_STREQ(buffer, "hell");
    EXPECT_EQ(size, 5u);
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
    if (keepsTo(documented::recordTextNeedsASize)) {
        EXPECT_EQ(MsiRecordGetStringA(record, 1, buffer, nullptr), ERROR_INVALID_PARAMETER);
    }
    MsiCloseHandle(record);
}

TEST_F(ContractTest, RecordIntegersAndNulls)
{
    const MSIHANDLE record = MsiCreateRecord(2);
    EXPECT_EQ(MsiRecordGetFieldCount(record), 2u);
    EXPECT_TRUE(MsiRecordIsNull(record, 1));
    EXPECT_EQ(MsiRecordGetInteger(record, 1), nullInteger);

    const std::pair<const char*, int> texts[] = {{"42", 42},
                                                 {"007", 7},
                                                 {"-12", -12},
                                                 {" 42", nullInteger},
                                                 {"42 ", nullInteger},
                                                 {"+42", nullInteger},
                                                 {"0x42", nullInteger},
                                                 {"42.0", nullInteger},
                                                 {"2147483648", nullInteger},
                                                 {"2147483647", 2147483647},
                                                 // Beyond 32 bits: the low 32 bits.
                                                 {"4294967297", 1},
                                                 {"4294967296", 0},
                                                 {"1000000000000000", -1530494976},
                                                 {"-2147483649", 2147483647},
                                                 {"99999999999999999999", 1661992959}};
    for (const auto& [text, value] : texts) {
        ASSERT_EQ(MsiRecordSetStringA(record, 1, text), ERROR_SUCCESS);
        EXPECT_EQ(MsiRecordGetInteger(record, 1), value) << text;
    }
    ASSERT_EQ(MsiRecordSetStringA(record, 1, "-"), ERROR_SUCCESS);
    expectDocumented(MsiRecordGetInteger(record, 1), nullInteger, documented::noIntegerReadsAsNull);

    EXPECT_EQ(MsiRecordSetInteger(record, 2, 26002), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordGetInteger(record, 2), 26002);
    EXPECT_EQ(MsiRecordSetInteger(record, 2, nullInteger), ERROR_SUCCESS);
    EXPECT_TRUE(MsiRecordIsNull(record, 2));
    EXPECT_EQ(MsiRecordSetStringA(record, 1, ""), ERROR_SUCCESS);
    EXPECT_TRUE(MsiRecordIsNull(record, 1));
    EXPECT_TRUE(MsiRecordIsNull(record, 3));  // beyond the count

    expectDocumented(MsiRecordSetStringA(record, 3, "x"), static_cast<UINT>(ERROR_INVALID_PARAMETER),
                     documented::textBeyondTheCountIsRefused);
    EXPECT_EQ(MsiRecordSetInteger(record, 3, 1), ERROR_INVALID_PARAMETER);

    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetInteger(record, 1, 5);
    EXPECT_EQ(MsiRecordClearData(record), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordGetFieldCount(record), 2u);
    for (const UINT field : {0u, 1u, 2u}) {
        EXPECT_TRUE(MsiRecordIsNull(record, field)) << field;
    }
    MsiCloseHandle(record);

    EXPECT_EQ(MsiCreateRecord(65536), 0u);
    const MSIHANDLE empty = MsiCreateRecord(0);
    EXPECT_NE(empty, 0u);
    EXPECT_EQ(MsiRecordGetFieldCount(empty), 0u);
    MsiCloseHandle(empty);
}

TEST_F(ContractTest, RecordStreamsReadSequentially)
{
    const std::string file = writeFile("stream.bin", "abcdefghijklmnopqrstuvwxyz");
    const MSIHANDLE record = MsiCreateRecord(3);
    EXPECT_EQ(MsiRecordSetStreamA(record, 0, file.c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiRecordSetStreamA(record, 1, tempFile("missing.bin").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(MsiRecordSetStreamA(record, 1, tempFile("nofolder\\x.bin").c_str()), ERROR_PATH_NOT_FOUND);
    ASSERT_EQ(MsiRecordSetStreamA(record, 1, file.c_str()), ERROR_SUCCESS);

    char buffer[10];
    DWORD size = 0;
    EXPECT_EQ(MsiRecordReadStream(record, 1, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 26u);
    std::string read;
    for (const DWORD expected : {10u, 10u, 6u, 0u}) {
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
    MsiCloseHandle(record);
}

// ---- Handles, errors and messages ----------------------------------------------------------------

TEST_F(ContractTest, AClosedHandleIsGoneForEveryCall)
{
    const MSIHANDLE record = MsiCreateRecord(1);
    EXPECT_EQ(MsiCloseHandle(0), ERROR_SUCCESS);
    EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
    EXPECT_EQ(MsiCloseHandle(record), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiCloseHandle(987654), ERROR_INVALID_HANDLE);

    DWORD size = 0;
    EXPECT_EQ(MsiRecordSetStringA(record, 1, "x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordGetStringA(record, 1, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordClearData(record), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordGetFieldCount(record), static_cast<UINT>(-1));
    EXPECT_EQ(MsiRecordGetInteger(record, 1), nullInteger);
}

TEST_F(ContractTest, LastErrorRecordIsHandedOverOnce)
{
    EXPECT_EQ(MsiGetLastErrorRecord(), 0u);
    ASSERT_TRUE(Backend::leaveLastErrorRecord());
    const MSIHANDLE pending = MsiGetLastErrorRecord();
    expectDocumented(pending != 0, true, documented::lastErrorRecordIsHandedOver);
    EXPECT_EQ(MsiGetLastErrorRecord(), 0u);
    MsiCloseHandle(pending);
}

TEST_F(ContractTest, ProcessMessageWithoutAUserInterfaceAnswersZero)
{
    const MSIHANDLE session = Backend::session();
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetInteger(record, 1, 26002);
    EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_INFO, record), 0);
    MsiRecordSetInteger(record, 1, 1);
    EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_ERROR, record), 0);

    MsiCloseHandle(record);
    expectDocumented(MsiProcessMessage(session, INSTALLMESSAGE_INFO, record), -1,
                     documented::messageOfAnInvalidRecordAnswersMinusOne);
}

// ---- KERNEL32 ------------------------------------------------------------------------------------

TEST_F(ContractTest, TempPathEndsInABackslashAndReportsTheSizeItNeeds)
{
    char buffer[2048];
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(buffer), length);
    EXPECT_EQ(buffer[length - 1], '\\');
    char small[4] = "abc";
    EXPECT_EQ(GetTempPathA(length, small), length + 1);  // the size needed, terminator included
}

TEST_F(ContractTest, DeleteFileOnRealFiles)
{
    writeFile("setup.mpp", "");
    const std::string doubled = tempFile("\\SETUP.MPP");  // "%s\\%s" after a folder ending in a backslash
    EXPECT_TRUE(DeleteFileA(doubled.c_str()));
    EXPECT_FALSE(std::ifstream(tempStreamPath("setup.mpp")).good());

    EXPECT_FALSE(DeleteFileA(doubled.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA(tempFile("nofolder\\x").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(ContractTest, FindFirstFileMatchesLikeWindows)
{
    writeFile("Setup.log", "12345");
    writeFile("noext", "");
    WIN32_FIND_DATAA data;
    auto find = [&](const std::string& pattern) {
        const HANDLE h = FindFirstFileA(tempFile(pattern).c_str(), &data);
        const std::string found = h == INVALID_HANDLE_VALUE ? std::string("<none>") : std::string(data.cFileName);
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

    const HANDLE h = FindFirstFileA(tempFile("noext").c_str(), &data);
    EXPECT_TRUE(FindClose(h));
    SetLastError(ERROR_SUCCESS);
    const BOOL closedAgain = FindClose(h);
    expectDocumented(std::pair<BOOL, DWORD>(closedAgain, GetLastError()),
                     std::pair<BOOL, DWORD>(FALSE, ERROR_INVALID_HANDLE), documented::secondFindCloseFails);
}

TEST_F(ContractTest, FormatMessageGivesTheSystemsTextsEndingInALineEnd)
{
    // The system's text in a buffer the call allocates, inserts left as they stand: as the library
    // asks for it.
    constexpr DWORD allocated =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    constexpr DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    char* text = nullptr;
    DWORD length =
        FormatMessageA(allocated, nullptr, ERROR_FILE_NOT_FOUND, language, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, length), Backend::systemText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(LocalFree(text), nullptr);

    for (const DWORD id : {0u, 2u, 3u, 5u, 6u, 8u, 13u, 87u, 122u, 234u, 267u, 1603u, 1627u, 1804u}) {
        length = FormatMessageA(allocated, nullptr, id, language, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        ASSERT_GT(length, 2u) << id;
        EXPECT_EQ(std::string(text + length - 2), "\r\n") << id;
        LocalFree(text);
    }

    text = reinterpret_cast<char*>(&length);
    EXPECT_EQ(FormatMessageA(allocated, nullptr, 0x80000000u, language, reinterpret_cast<LPSTR>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);

    char fixed[8];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND,
                             language, fixed, sizeof fixed, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

namespace {

int leadBytes()
{
    int count = 0;
    for (int b = 0; b < 256; ++b) {
        count += IsDBCSLeadByte(static_cast<BYTE>(b)) ? 1 : 0;
    }
    return count;
}

}  // namespace

TEST_F(ContractTest, CodePage1252HasNoLeadBytes)
{
    EXPECT_EQ(leadBytes(), 0);
}

class CodePage932ContractTest : public SharedTest {};

TEST_F(CodePage932ContractTest, LeadBytesOfShiftJis)
{
    ASSERT_TRUE(Backend::useCodePage932()) << "the ANSI code page is not 932";
    EXPECT_EQ(leadBytes(), 60);
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_TRUE(IsDBCSLeadByte(0xFC));
    EXPECT_FALSE(IsDBCSLeadByte(0xA0));
    EXPECT_FALSE(IsDBCSLeadByte(0x80));
}
