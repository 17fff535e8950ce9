// The raise functions: each kind of exception, with the rule's context and file name, the comment,
// the code and the line of the raise call; and every raise site of the library records the line
// of its own raise call.
#include "errors/Raise.h"
#include "SimTest.h"
#include "SourceLine.h"
#include "Thrown.h"
#include "errors/EKestMsiError.h"
#include "messages/KestMsiMessageProcessor.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/KestMsiDirectory.h"
#include "msi/KestMsiRecord.h"

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace persisting;

namespace {

constexpr PersistingRule sampleRule("Sample::copy", "Sample", none, none, checked(), noCatchAll);

int raiseLine = 0;

struct Kind {
    const char* name;
    std::function<void()> raise;  // sets raiseLine to the line of its raise call
    const std::type_info& type;
    int code;
    const char* comment;
    const char* entryTypeName;
    const char* secondComment = nullptr;  // a second entry of the same method and line
    const char* context = "Sample::copy";
    const char* file = "Sample";
};

// Author code raises without a rule: the compiler names the function and the file.
class OutputFile {
public:
    [[noreturn]] static void write(const std::string& path)
    {
        raiseLine = __LINE__ + 1;
        qel::raiseWinError(qel::failedCall("WriteFile", path), ERROR_DISK_FULL);
    }
    [[noreturn]] void close() const
    {
        [] {
            raiseLine = __LINE__ + 1;
            qel::raiseMsiError(qel::failedCall("MsiSetProperty", "OUTPUT"), ERROR_INVALID_HANDLE);
        }();
        std::abort();
    }
};

[[noreturn]] void readSetup()
{
    raiseLine = __LINE__ + 1;
    qel::raiseException("setup.ini names no product");
}

template <class Value>
[[noreturn]] void convert(const std::vector<Value>&)
{
    raiseLine = __LINE__ + 1;
    qel::raiseFileException("Unable to copy", std::string("C:\\Temp\\setup.log"), ERROR_ACCESS_DENIED);
}

const Kind kinds[] = {
    {"Exception",
     [] {
         raiseLine = __LINE__ + 1;
         raiseException(sampleRule, "Unable to copy");
     },
     typeid(EKestException), 0, "Unable to copy", "EKestException"},
    {"InvalidParameter",
     [] {
         raiseLine = __LINE__ + 1;
         raiseInvalidParameter(sampleRule, failedCall("MsiRecordGetFieldCount"));
     },
     typeid(EKestInvalidParameter), 0, "Function Failed: MsiRecordGetFieldCount()", "EKestInvalidParameter"},
    {"WinErrorWithItsCode",
     [] {
         raiseLine = __LINE__ + 1;
         raiseWinError(sampleRule, failedCall("DeleteFile"), ERROR_ACCESS_DENIED);
     },
     typeid(EKestWinError), ERROR_ACCESS_DENIED, "Function Failed: DeleteFile()", "EKestWinError"},
    {"WinErrorWithTheLastError",
     [] {
         SetLastError(ERROR_PATH_NOT_FOUND);
         raiseLine = __LINE__ + 1;
         raiseWinError(sampleRule, failedCall("GetTempPath"));
     },
     typeid(EKestWinError), ERROR_PATH_NOT_FOUND, "Function Failed: GetTempPath()", "EKestWinError"},
    {"MsiErrorForACall",
     [] {
         raiseLine = __LINE__ + 1;
         raiseMsiError(sampleRule, failedCall("MsiGetProperty"), ERROR_INVALID_HANDLE);
     },
     typeid(EKestMsiError), ERROR_INVALID_HANDLE, "Function Failed: MsiGetProperty()", "EKestException"},
    {"MsiErrorForACallOnASubject",
     [] {
         raiseLine = __LINE__ + 1;
         raiseMsiError(sampleRule, failedCall("MsiGetProperty", "UILevel"), ERROR_INVALID_HANDLE);
     },
     typeid(EKestMsiError), ERROR_INVALID_HANDLE, "Function Failed: MsiGetProperty(\"UILevel\")", "EKestException"},
    {"MsiErrorWithAText",
     [] {
         raiseLine = __LINE__ + 1;
         raiseMsiError(sampleRule, "Unable to retrieve the string data size", ERROR_INVALID_HANDLE);
     },
     typeid(EKestMsiError), ERROR_INVALID_HANDLE, "Unable to retrieve the string data size", "EKestException"},
    {"FileException",
     [] {
         raiseLine = __LINE__ + 1;
         raiseFileException(sampleRule, "Unable to copy", qel::toWide("C:\\Temp\\setup.log"), ERROR_ACCESS_DENIED);
     },
     typeid(EKestException), 0, "Unable to copy", "EKestException",
     "File: C:\\Temp\\setup.log. Error 5: Access is denied."},
    {"FileExceptionWithoutASystemText",
     [] {
         SetLastError(12345);
         raiseLine = __LINE__ + 1;
         raiseFileException(sampleRule, "Unable to copy", qel::toWide("C:\\Temp\\setup.log"));
     },
     typeid(EKestException), 0, "Unable to copy", "EKestException", "File: C:\\Temp\\setup.log. Error 12345."},
    {"AuthorsWinErrorInAMethod", [] { OutputFile::write("C:\\out.txt"); }, typeid(EKestWinError), ERROR_DISK_FULL,
     "Function Failed: WriteFile(\"C:\\out.txt\")", "EKestWinError", nullptr, "OutputFile::write", "RaiseTest"},
    {"AuthorsMsiErrorInALambdaOfAMethod", [] { OutputFile().close(); }, typeid(EKestMsiError), ERROR_INVALID_HANDLE,
     "Function Failed: MsiSetProperty(\"OUTPUT\")", "EKestException", nullptr, "OutputFile::close", "RaiseTest"},
    {"AuthorsExceptionInAFunction", [] { readSetup(); }, typeid(EKestException), 0, "setup.ini names no product",
     "EKestException", nullptr, "readSetup", "RaiseTest"},
    {"AuthorsFileExceptionInATemplate", [] { convert(std::vector<std::vector<int>>{}); }, typeid(EKestException), 0,
     "Unable to copy", "EKestException", "File: C:\\Temp\\setup.log. Error 5: Access is denied.", "convert",
     "RaiseTest"},
};

// Library code that fails at one raise site; `call` is what its raise line names.
struct Site {
    const char* call;
    std::function<void()> fail;
};

KestMsiHandle session()
{
    return KestMsiHandle(sim::openSession(), true);
}

const KestMsiRecord noRecord{KestMsiHandle()};

const Site sites[] = {
    {"\"MsiGetProperty\"", [] { KestMsiBoolProperty(KestMsiHandle(), "P").read(); }},
    {"\"MsiSetProperty\"", [] { KestMsiBoolProperty(KestMsiHandle(), "P").write("1"); }},
    {"\"MsiGetTargetPath\"", [] { KestMsiDirectory(KestMsiHandle(), "D").cacheValue(KestMsiDirectory::TargetDir); }},
    {"\"Illegal value passed for dirType\"", [] { KestMsiDirectory(session(), "D").cacheValue(7); }},
    {"\"MsiSetTargetPath\"", [] { KestMsiDirectory(KestMsiHandle(), "D").write(); }},
    {"\"MsiCreateRecord\"",
     [] {
         sim::failCall("MsiCreateRecord", 1, 0, ERROR_OUTOFMEMORY);
         KestMsiRecord record(1);
     }},
    {"\"MsiRecordSetString\"", [] { KestMsiRecord(noRecord).setRecordFormat("[1]"); }},
    {"\"MsiRecordSetString\"", [] { KestMsiRecord(noRecord).setStringField(1, "text"); }},
    {"\"MsiRecordSetInteger\"", [] { KestMsiRecord(noRecord).setIntegerField(1, 7); }},
    {"\"MsiRecordSetStream\"", [] { KestMsiRecord(noRecord).setStreamField(1, "file.bin"); }},
    {"\"MsiRecordGetInteger\"", [] { noRecord.integerField(1); }},
    {"\"MsiRecordReadStream\"",
     [] {
         std::vector<char> bytes;
         noRecord.getStreamField(1, bytes);
     }},
    {"\"MsiRecordGetFieldCount\"", [] { noRecord.fieldCount(); }},
    {"\"Unable to retrieve the string data size\"", [] { noRecord.stringData(noRecord.getHandle(), 1); }},
    {"\"MsiRecordGetString\"",
     [] {
         const KestMsiRecord record(1);
         sim::failCall("MsiRecordGetStringA", 2, ERROR_INVALID_HANDLE);
         record.stringData(record.getHandle(), 1);
     }},
    {"\"MsiProcessMessage\"",
     [] {
         KestMsiHandle installation = session();
         const KestMsiRecord record(1);
         sim::setProcessMessageResult(-1);
         KestMsiMessageProcessor().dialogBox(installation, INSTALLMESSAGE_INFO, record);
     }},
    {"\"GetTempPath\"",
     [] {
         sim::failCall("GetTempPathW", 1, 0, ERROR_ACCESS_DENIED);
         KestMessageProcessor().initialize(KestCString("setup.log"));
     }},
    {"\"DeleteFile\"", [] { KestMessageProcessor().uninitialize(); }},
    {"\"Unable to create persitentcy file\"", [] { KestMessageProcessor().initialize("missing\\setup.log"); }},
};

}  // namespace

using RaiseTest = SimTest;

TEST_F(RaiseTest, EachKindThrowsItsClassWithItsEntriesForTheRaiseLine)
{
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const auto thrown = thrownBy(kind.raise);
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->type, std::type_index(kind.type));
        EXPECT_EQ(thrown->error.getErrorCode(), kind.code);
        EXPECT_EQ(thrown->error.getCaption(), "Program Exception");
        const auto& history = thrown->error.getHistory();
        ASSERT_EQ(history.size(), kind.secondComment == nullptr ? 1u : 2u);
        for (const EKestExceptionInfo& entry : history) {
            EXPECT_EQ(entry.getTypeName(), kind.entryTypeName);
            EXPECT_EQ(entry.getContext(), kind.context);
            EXPECT_EQ(entry.getFileName(), kind.file);
            EXPECT_EQ(entry.getLine(), raiseLine);
        }
        EXPECT_EQ(history.front().getComment(), kind.comment);
        EXPECT_EQ(history.back().getComment(), kind.secondComment == nullptr ? kind.comment : kind.secondComment);
    }
}

TEST_F(RaiseTest, EveryRaiseSiteRecordsTheLineOfItsOwnRaiseCall)
{
    for (const Site& site : sites) {
        SCOPED_TRACE(site.call);
        sim::reset();
        const auto thrown = thrownBy(site.fail);
        ASSERT_TRUE(thrown);
        const EKestExceptionInfo& entry = thrown->error.getFirstHistoryEntry();
        const std::string line = sourceLine(entry.getFileName(), entry.getLine());
        EXPECT_NE(line.find("raise"), std::string::npos) << line;
        EXPECT_NE(line.find(site.call), std::string::npos) << line;
    }
}
