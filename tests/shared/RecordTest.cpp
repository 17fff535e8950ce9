#include "CountingBytes.h"
#include "Dumped.h"
#include "Thrown.h"
#include "backend/SharedTest.h"
#include "msi/KestMsiRecord.h"

#include <fstream>
#include <sstream>

class RecordTest : public SharedTest {
protected:
    // A file of `count` bytes counting up from `first` in the temporary folder; its path.
    static std::string streamFile(std::size_t count, char first = 0)
    {
        const std::string name = "stream" + std::to_string(count) + ".bin";
        std::ofstream(tempStreamPath(name), std::ios::binary)
            .write(countingBytes(count, first).data(), static_cast<std::streamsize>(count));
        return tempFile(name);
    }
};

TEST_F(RecordTest, DataSizeCountsTextInCharactersStreamsInBytesAndIntegersAsAnInt)
{
    const MSIHANDLE record = MsiCreateRecord(5);
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, "hello");
    MsiRecordSetInteger(record, 2, 26002);
    const WCHAR cafe[] = {'C', 'a', 'f', 0xE9, 0};
    MsiRecordSetStringW(record, 3, cafe);
    MsiRecordSetStreamA(record, 4, streamFile(26).c_str());
    struct Case {
        MSIHANDLE record;
        UINT field;
        UINT expected;
    };
    const Case cases[] = {
        {record, 0, 3},  {record, 1, 5}, {record, 2, sizeof(int)},
        {record, 3, 4},                                   // characters, not the bytes of any code page
        {record, 4, 26}, {record, 5, 0}, {record, 6, 0},  // a null field, one beyond the count
        {0, 1, 0},                                        // no record
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MsiRecordDataSize(c.record, c.field), c.expected) << "field " << c.field;
    }
    MsiCloseHandle(record);
    EXPECT_EQ(MsiRecordDataSize(record, 1), 0u) << "a closed record";
}

TEST_F(RecordTest, FieldsSetAreReadBackFromTheInstaller)
{
    KestMsiRecord record(3);
    EXPECT_EQ(record.fieldCount(), 3u);

    record.setRecordFormat("[1] [2]");
    record.setIntegerField(1, 26002);
    record.setStringField(2, "two");

    EXPECT_EQ(record.recordFormat(), "[1] [2]");
    EXPECT_FALSE(record.isNullField(1));
    EXPECT_TRUE(record.isIntegerField(1));
    EXPECT_EQ(record.integerField(1), 26002);
    EXPECT_EQ(record.stringField(1), "26002") << "an integer reads as its decimal text";
    EXPECT_EQ(record.stringField(2), "two");
    EXPECT_FALSE(record.isIntegerField(2));
    EXPECT_TRUE(record.isNullField(3));
    EXPECT_FALSE(record.isEmpty());

    record.setStringField(2, "");
    EXPECT_TRUE(record.isNullField(2)) << "an empty text makes the field null";
    record.setIntegerField(1, -7);
    EXPECT_EQ(record.integerField(1), -7);
}

TEST_F(RecordTest, TextsOfEveryLengthReadWholeInTwoCalls)
{
    KestMsiRecord record(1);
    for (const std::size_t length : {1u, 2u, 79u, 80u, 81u, 255u, 256u, 5000u}) {
        const std::string text(length, 'x');
        record.setStringField(1, text);
        EXPECT_EQ(record.stringField(1), text) << length << " characters";
        record.setRecordFormat(text);
        EXPECT_EQ(record.recordFormat(), text) << length << " characters";
    }
    EXPECT_EQ(KestMsiRecord(2).stringField(2), "") << "a null field reads as empty";
    EXPECT_EQ(KestMsiRecord(2).recordFormat(), "");
}

TEST_F(RecordTest, StreamsAreReadInRoundsOf80BytesAndAppended)
{
    KestMsiRecord record(1);
    for (const std::size_t size : {1u, 79u, 80u, 81u, 160u, 161u, 1000u}) {
        record.setStreamField(1, streamFile(size, 'a'));
        std::vector<char> out{'x', 'y'};
        EXPECT_TRUE(record.getStreamField(1, out)) << size << " bytes";
        std::vector<char> expected{'x', 'y'};
        const auto all = countingBytes(size, 'a');
        expected.insert(expected.end(), all.begin(), all.end());
        EXPECT_EQ(out, expected) << size << " bytes, appended after the bytes already there";
    }
}

TEST_F(RecordTest, OnlyAStreamFieldGivesAStreamAndAStreamGivesNoText)
{
    KestMsiRecord record(2);
    record.setIntegerField(1, 5);
    std::vector<char> untouched{'z'};
    EXPECT_FALSE(record.getStreamField(1, untouched)) << "an integer field holds no stream";
    EXPECT_EQ(untouched, std::vector<char>{'z'});

    const auto nullField = thrownBy([&] { record.getStreamField(2, untouched); });
    ASSERT_TRUE(nullField);
    EXPECT_EQ(nullField->type, typeid(EKestWinError));
    EXPECT_EQ(nullField->error.getErrorCode(), static_cast<int>(ERROR_INVALID_DATA));
    EXPECT_EQ(nullField->contexts(), std::vector<std::string>{"KestMsiRecord::getStreamField()"});
    EXPECT_EQ(nullField->comments(), std::vector<std::string>{"Function Failed: MsiRecordReadStream()"});

    KestMsiRecord streamed(1);
    streamed.setStreamField(1, streamFile(10));
    const auto asText = thrownBy([&] { (void)streamed.stringField(1); });
    ASSERT_TRUE(asText);
    EXPECT_EQ(asText->error.getErrorCode(), static_cast<int>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(asText->comments(),
              (std::vector<std::string>{"Function Failed: MsiRecordGetString()", "Persisting exception"}));
}

TEST_F(RecordTest, RefusedCallsLeaveWithTheClassAndHistoryOfTheirHandlers)
{
    KestMsiRecord record(1);

    // Setters: where there is no EKestWinError handler the EKestException handler takes the
    // error; the raise is the only entry.
    const auto setInteger = thrownBy([&] { record.setIntegerField(2, 1); });
    ASSERT_TRUE(setInteger);
    EXPECT_EQ(setInteger->type, typeid(EKestException));
    EXPECT_EQ(setInteger->error.getErrorCode(), static_cast<int>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(setInteger->contexts(), std::vector<std::string>{"KestMsiRecord::setIntegerField"});
    EXPECT_EQ(setInteger->comments(), std::vector<std::string>{"Function Failed: MsiRecordSetInteger()"});

    const auto setStream = thrownBy([&] { record.setStreamField(1, tempFile("missing.bin")); });
    ASSERT_TRUE(setStream);
    EXPECT_EQ(setStream->type, typeid(EKestException));
    EXPECT_EQ(setStream->contexts(), std::vector<std::string>{"KestMsiRecord::setStreamField()"});
    EXPECT_EQ(setStream->comments(), std::vector<std::string>{"Function Failed: MsiRecordSetStream()"});

    // A null field has no integer: a failure with the installer's null value as its code.
    const auto integer = thrownBy([&] { record.integerField(1); });
    ASSERT_TRUE(integer);
    EXPECT_EQ(integer->type, typeid(EKestWinError));
    EXPECT_EQ(integer->error.getErrorCode(), static_cast<int>(0x80000000u));
    EXPECT_EQ(integer->contexts(), std::vector<std::string>{"KestMsiRecord::integerField"});
    EXPECT_FALSE(record.isIntegerField(1)) << "the question alone never raises";
}

TEST_F(RecordTest, ATextBeyondTheFieldCountIsAnInvalidParameterNarrowedToAWinError)
{
    QEL_SKIP_WHERE_PLATFORM_DEPARTS(documented::textBeyondTheCountIsRefused);
    KestMsiRecord record(1);
    const auto setString = thrownBy([&] { record.setStringField(2, "beyond"); });
    ASSERT_TRUE(setString);
    EXPECT_EQ(setString->type, typeid(EKestWinError));
    EXPECT_EQ(setString->error.getErrorCode(), static_cast<int>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(setString->contexts(), std::vector<std::string>{"KestMsiRecord::setStringField"});
}

TEST_F(RecordTest, EqualityLooksAtTheTextOfField1Only)
{
    KestMsiRecord integer(2);
    integer.setRecordFormat("[1]");
    integer.setIntegerField(1, 42);
    integer.setStringField(2, "other");
    KestMsiRecord text(1);
    text.setStringField(1, "42");
    KestMsiRecord different(2);
    different.setIntegerField(1, 43);

    EXPECT_TRUE(integer == text);
    EXPECT_FALSE(integer != text);
    EXPECT_FALSE(integer == different);
    EXPECT_TRUE(integer != different);
    EXPECT_TRUE(KestMsiRecord(0) == KestMsiRecord(2)) << "field 1 beyond the count and null both read as \"\"";
}

TEST_F(RecordTest, EmptyMeansNoDataFieldHoldsAValue)
{
    EXPECT_TRUE(KestMsiRecord(0).isEmpty());
    EXPECT_TRUE(KestMsiRecord(1).isEmpty());
    KestMsiRecord formatOnly(1);
    formatOnly.setRecordFormat("format only");
    EXPECT_TRUE(formatOnly.isEmpty());
    KestMsiRecord zero(3);
    zero.setIntegerField(3, 0);
    EXPECT_FALSE(zero.isEmpty());

    KestMsiRecord record(2);
    record.setStringField(1, "value");
    EXPECT_TRUE(record.clearData());
    EXPECT_TRUE(record.isEmpty());
    EXPECT_EQ(record.fieldCount(), 2u);
    EXPECT_FALSE(KestMsiRecord(KestMsiHandle()).clearData());
}

TEST_F(RecordTest, DumpListsEveryFieldAfterTheBaseLines)
{
    KestMsiRecord record(4);
    record.setRecordFormat("[1]: [3]");
    record.setIntegerField(1, 26002);
    record.setIntegerField(3, -7);
    record.setStringField(4, "text");
    std::ostringstream base;
    base << "ObjectType    = class KestMsiRecord\nObjectAddress = " << static_cast<const void*>(&record)
         << "\nObjectHandle  = " << record.getHandle().getMsiHandle() << "\n";

    EXPECT_EQ(dumped(record), base.str() + "RecordFormat = [1]: [3]\n"
                                           "FieldNumber 1 FieldValue = 26002\n"
                                           "FieldNumber 2 FieldValue = NULL\n"
                                           "FieldNumber 3 FieldValue = -7\n"
                                           "FieldNumber 4 FieldValue = text\n");
    record.clearData();
    EXPECT_EQ(dumped(record), base.str() + "RECORD EMPTY\n");
}
