#include "msi/KestMsiRecord.h"
#include "CountingBytes.h"
#include "Dumped.h"
#include "SimTest.h"
#include "Thrown.h"
#include "errors/EKestInvalidParameter.h"
#include "errors/EKestWinError.h"

#include <functional>
#include <iomanip>
#include <sstream>
#include <stdexcept>

using Fields = std::vector<sim::Field>;

class RecordTest : public SimTest {
protected:
    // A record over a new installer record holding these fields (field 0 first).
    static KestMsiRecord recordOf(const Fields& fields)
    {
        return KestMsiRecord(KestMsiHandle(sim::makeRecord(fields), true));
    }
};

TEST_F(RecordTest, TheRecordClosesItsInstallerRecordOnceWhenItsLastCopyGoes)
{
    MSIHANDLE raw = 0;
    {
        KestMsiRecord record(1);
        raw = record.getHandle().getMsiHandle();
        KestMsiRecord copy = record;
        EXPECT_EQ(record.getHandle().getHandleCount(), 2);
    }
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
    EXPECT_EQ(sim::handleInfo(raw)->closeCalls, 1);

    // Built over a handle, the record takes the raw handle over in a group of its own.
    const MSIHANDLE given = sim::makeRecord({sim::Null{}, 7});
    const KestMsiHandle borrowed(given, true);
    {
        const KestMsiRecord record(borrowed);
        EXPECT_EQ(record.integerField(1), 7);
        EXPECT_EQ(borrowed.getHandleCount(), 1);
        EXPECT_FALSE(record.getHandle().isBorrowed());
    }
    EXPECT_EQ(sim::handleInfo(given)->closeCalls, 1);
    EXPECT_EQ(sim::badCloses(), 0u);
}

TEST_F(RecordTest, AFailedCreationLeavesNoRecordOpenAndReportsTheLastError)
{
    sim::failCall("MsiCreateRecord", 1, 0, ERROR_NOT_ENOUGH_MEMORY);
    const auto thrown = thrownBy([] { KestMsiRecord record(2); });

    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestWinError));
    EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(thrown->contexts(), std::vector<std::string>{"KestMsiREcord::KestMsiRecord(const size_type)"});
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: MsiCreateRecord()"});
    EXPECT_EQ(thrown->error.getFirstHistoryEntry().getFileName(), "KestMsiRecord");

    EXPECT_TRUE(thrownBy([] { KestMsiRecord tooLarge(70000); })) << "the installer refuses more than 65535 fields";
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
    EXPECT_EQ(sim::badCloses(), 0u);
}

TEST_F(RecordTest, TextFailuresCarryTheTextReadersEntryAfterTheirRaise)
{
    auto record = recordOf({std::string("[1]"), std::string("value")});

    sim::failCall("MsiRecordGetStringA", 1, ERROR_INVALID_HANDLE);
    const auto sizeQuery = thrownBy([&] { record.stringData(record.getHandle(), 1); });
    ASSERT_TRUE(sizeQuery);
    EXPECT_EQ(sizeQuery->type, typeid(EKestException));
    EXPECT_EQ(sizeQuery->contexts(), std::vector<std::string>{"KestMsiRecord::stringData"});
    EXPECT_EQ(sizeQuery->comments(), std::vector<std::string>{"Unable to retrieve the string data size"});

    sim::failCall("MsiRecordGetStringA", 2, ERROR_INVALID_HANDLE);
    const auto text = thrownBy([&] { record.stringField(1); });
    ASSERT_TRUE(text);
    EXPECT_EQ(text->type, typeid(EKestException));
    EXPECT_EQ(text->error.getErrorCode(), static_cast<int>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(text->contexts(), (std::vector<std::string>{"KestMsiRecord::stringData", "KestMsiRecord::stringField"}));
    EXPECT_EQ(text->comments(),
              (std::vector<std::string>{"Function Failed: MsiRecordGetString()", "Persisting exception"}));

    sim::failCall("MsiRecordGetStringA", 1, ERROR_INVALID_HANDLE);
    const auto format = thrownBy([&] { record.recordFormat(); });
    ASSERT_TRUE(format);
    EXPECT_EQ(format->contexts(),
              (std::vector<std::string>{"KestMsiRecord::stringData", "KestMsiRecord::recordFormat"}));

    // No open record behind the handle: the field count is an invalid parameter.
    const KestMsiRecord none{KestMsiHandle()};
    const auto count = thrownBy([&] { none.fieldCount(); });
    ASSERT_TRUE(count);
    EXPECT_EQ(count->type, typeid(EKestInvalidParameter));
    EXPECT_EQ(count->contexts(), std::vector<std::string>{"KestMsiRecord::fieldCount()"});
    EXPECT_EQ(count->comments(), std::vector<std::string>{"Function Failed: MsiRecordGetFieldCount()"});
}

TEST_F(RecordTest, ForeignExceptionsBecomeTheMethodsOwnCatchAllText)
{
    struct Case {
        const char* function;
        std::function<void(KestMsiRecord&)> call;
        const char* context;
        const char* text;
    };
    const std::vector<Case> cases{
        {"MsiCreateRecord", [](KestMsiRecord&) { KestMsiRecord another(1); },
         "KestMsiREcord::KestMsiRecord(const size_type)", "Unknown exception was trapped"},
        {"MsiRecordSetStringA", [](KestMsiRecord& r) { r.setRecordFormat("[1]"); }, "KestMsiRecord::setRecordFormat",
         "Unknonw exception was trapped"},
        {"MsiRecordSetInteger", [](KestMsiRecord& r) { r.setIntegerField(1, 1); }, "KestMsiRecord::setIntegerField",
         "Unknonw exception was trapped"},
        {"MsiRecordGetInteger", [](KestMsiRecord& r) { r.integerField(1); }, "KestMsiRecord::integerField",
         "Unknown exception trapped"},
        {"MsiRecordReadStream",
         [](KestMsiRecord& r) {
             std::vector<char> out;
             r.getStreamField(1, out);
         },
         "KestMsiRecord::getStreamField()", "Unknown exception trapped"},
        {"MsiRecordGetStringA", [](KestMsiRecord& r) { r.stringData(r.getHandle(), 1); }, "KestMsiRecord::stringData",
         "Unknown exception was trapped"},
    };
    KestMsiRecord record(1);
    for (const Case& c : cases) {
        sim::beforeCall(c.function, 1, [] { throw std::runtime_error("not of the family"); });
        const auto thrown = thrownBy([&] { c.call(record); });
        ASSERT_TRUE(thrown) << c.context;
        EXPECT_EQ(thrown->type, typeid(EKestException)) << c.context;
        EXPECT_EQ(thrown->error.getErrorCode(), 0) << c.context;
        EXPECT_EQ(thrown->contexts(), std::vector<std::string>{c.context});
        EXPECT_EQ(thrown->comments(), std::vector<std::string>{c.text}) << c.context;
    }
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 1u);
}

TEST_F(RecordTest, AStreamIsReadIn80ByteRoundsUntilOneComesBackShort)
{
    struct Case {
        std::size_t size;
        std::size_t reads;
    };
    for (const Case c : {Case{1, 1}, Case{79, 1}, Case{80, 2}, Case{81, 2}, Case{160, 3}, Case{161, 3}}) {
        auto record = recordOf({sim::Null{}, sim::Stream{countingBytes(c.size)}});
        const std::size_t before = sim::calls("MsiRecordReadStream");
        std::vector<char> out;
        EXPECT_TRUE(record.getStreamField(1, out));
        EXPECT_EQ(sim::calls("MsiRecordReadStream") - before, c.reads) << c.size << " bytes";
    }

    auto record = recordOf({sim::Null{}, sim::Stream{countingBytes(10)}, 5});
    const std::size_t before = sim::calls("MsiRecordReadStream");
    std::vector<char> out;
    EXPECT_FALSE(record.getStreamField(2, out)) << "an integer field holds no stream";
    EXPECT_EQ(sim::calls("MsiRecordReadStream") - before, 1u) << "one read finds it out";

    // A stream has no text: its length query passes (ERROR_MORE_DATA, length 0) and the read
    // itself is refused.
    EXPECT_TRUE(thrownBy([&] { (void)record.stringField(1); }));
    EXPECT_EQ(sim::calls("MsiRecordGetStringA"), 2u);
}

TEST_F(RecordTest, EmptyAndLongTextsReadWhole)
{
    auto record = recordOf({sim::Null{}, sim::Null{}, std::string(5000, 'x')});

    EXPECT_EQ(record.stringField(1), "") << "the length query answers ERROR_MORE_DATA with 0";
    EXPECT_EQ(sim::calls("MsiRecordGetStringA"), 2u);
    sim::failCall("MsiRecordGetStringA", 1, ERROR_SUCCESS);
    EXPECT_EQ(record.stringField(1), "") << "the length query answers success with 0";

    EXPECT_EQ(record.stringField(2), std::string(5000, 'x'));
    EXPECT_EQ(record.recordFormat(), "");
}

TEST_F(RecordTest, AFieldThatGrowsBetweenTheTwoReadsIsRaisedExceptTheFormatWhichReadsEmpty)
{
    auto record = recordOf({std::string("[1]"), std::string("short")});
    const MSIHANDLE raw = record.getHandle().getMsiHandle();

    sim::beforeCall("MsiRecordGetStringA", 2, [raw] { MsiRecordSetStringA(raw, 1, "a good deal longer now"); });
    const auto thrown = thrownBy([&] { record.stringField(1); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_MORE_DATA));

    sim::beforeCall("MsiRecordGetStringA", 2, [raw] { MsiRecordSetStringA(raw, 0, "[1] and much more"); });
    EXPECT_EQ(record.recordFormat(), "");
    EXPECT_EQ(record.recordFormat(), "[1] and much more");
}
TEST_F(RecordTest, DumpWritesDecimalNumbersWhateverTheStreamWasSetTo)
{
    KestMsiRecord record(2);
    record.setIntegerField(1, -26002);
    record.setIntegerField(2, 26002);
    const std::string plain = dumped(record);
    const std::string handleLine = "ObjectHandle  = " + std::to_string(record.getHandle().getMsiHandle()) + "\n";
    const std::string fieldLines = "FieldNumber 1 FieldValue = -26002\nFieldNumber 2 FieldValue = 26002\n";

    const std::vector<std::function<void(std::ostream&)>> settings = {
        [](std::ostream& s) { s << std::hex; },
        [](std::ostream& s) { s << std::hex << std::showbase << std::uppercase; },
        [](std::ostream& s) { s << std::oct << std::showpos; },
        [](std::ostream& s) { s << std::setfill('*') << std::internal << std::setw(40); },
    };
    for (std::size_t i = 0; i < settings.size(); ++i) {
        std::ostringstream out;
        settings[i](out);
        const auto flags = out.flags();
        const char fill = out.fill();
        std::ostringstream pointer;  // the address is written as this very stream writes a pointer
        pointer.flags(flags);
        pointer << static_cast<const void*>(&record);

        record.dump(out);

        const std::string text = out.str();
        EXPECT_NE(text.find("ObjectAddress = " + pointer.str() + "\n"), std::string::npos) << i << text;
        EXPECT_NE(text.find(handleLine), std::string::npos) << "setting " << i << ":\n" << text;
        EXPECT_NE(text.find(fieldLines), std::string::npos) << "setting " << i << ":\n" << text;
        EXPECT_EQ(out.flags(), flags) << "setting " << i;
        EXPECT_EQ(out.fill(), fill) << "setting " << i;
    }
    EXPECT_EQ(dumped(record), plain);
}
