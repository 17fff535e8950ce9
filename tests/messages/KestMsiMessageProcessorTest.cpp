#include "messages/KestMsiMessageProcessor.h"
#include "SimTest.h"
#include "Thrown.h"
#include "actions/QelCustInst.h"

#include <string>
#include <vector>

class MsiMessageProcessorTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        installation = KestMsiHandle(sim::openSession(), true);
    }

    KestMsiHandle installation;
    KestMsiMessageProcessor processor;
};

TEST_F(MsiMessageProcessorTest, AMessageNumberTravelsAsAOneFieldRecordThatIsClosedAtOnce)
{
    EXPECT_EQ(processor.dialogBox(installation, INSTALLMESSAGE_INFO, 26002u), 0);  // no user interface

    ASSERT_EQ(sim::messages().size(), 1u);
    const sim::Message& sent = sim::messages().front();
    EXPECT_EQ(sent.type, INSTALLMESSAGE_INFO);
    EXPECT_EQ(sent.session, installation.getMsiHandle());
    EXPECT_EQ(sent.fields, (std::vector<sim::Field>{sim::Null{}, 26002}));
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
    EXPECT_EQ(sim::badCloses(), 0u);
}

TEST_F(MsiMessageProcessorTest, OnlyMinusOneIsAFailure)
{
    sim::setProcessMessageResult(0);
    EXPECT_EQ(processor.dialogBox(installation, INSTALLMESSAGE_INFO, 26002u), 0);
    KestMsiRecord record(1);
    EXPECT_EQ(processor.dialogBox(installation, INSTALLMESSAGE_INFO, record), 0);

    sim::setProcessMessageResult(-1);
    EXPECT_EQ(processor.dialogBox(installation, INSTALLMESSAGE_INFO, 26002u), -1) << "raises nothing";

    const auto thrown = thrownBy([&] { processor.dialogBox(installation, INSTALLMESSAGE_INFO, record); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestException));
    EXPECT_EQ(thrown->error.getErrorCode(), 0);
    EXPECT_EQ(thrown->contexts(),
              std::vector<std::string>{
                  "KestMsiMessageProcessor::dialogBox(KestMsiHandle&, INSTALLMESSAGE, const KestMsiRecord&)"});
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: MsiProcessMessage()"});
    EXPECT_EQ(thrown->error.getFirstHistoryEntry().getFileName(), "KestMsiMessageProcessor");
}

TEST_F(MsiMessageProcessorTest, ARecordThatCannotBeBuiltOrFilledSendsNothingAndRaisesNothing)
{
    sim::failCall("MsiCreateRecord", 1, 0, ERROR_OUTOFMEMORY);
    EXPECT_EQ(processor.dialogBox(installation, INSTALLMESSAGE_INFO, 26002u), -1);

    sim::failCall("MsiRecordSetInteger", 1, ERROR_INVALID_HANDLE);
    EXPECT_EQ(processor.dialogBox(installation, INSTALLMESSAGE_INFO, 26002u), -1);

    EXPECT_EQ(sim::calls("MsiProcessMessage"), 0u);
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
}

TEST_F(MsiMessageProcessorTest, AnInstallerErrorRecordIsSentUnchangedAndClosedOnceByItsLastOwner)
{
    const std::vector<sim::Field> fields{std::string("[1]: [2]"), 2203, std::string("C:\\db.msi")};
    const MSIHANDLE errorRecord = sim::setPendingErrorRecord(fields);
    {
        const EKestMsiError error(1603, "Owner::call", "Owner", 1, "Function Failed: MsiX()");
        ASSERT_TRUE(error.hasErrorRecord());

        processor.dialogBox(installation, INSTALLMESSAGE_ERROR, error);

        ASSERT_EQ(sim::messages().size(), 1u);
        EXPECT_EQ(sim::messages().front().fields, fields);
        EXPECT_TRUE(sim::handleInfo(errorRecord)->open) << "the error still owns its record";
    }
    EXPECT_FALSE(sim::handleInfo(errorRecord)->open);
    EXPECT_EQ(sim::handleInfo(errorRecord)->closeCalls, 1);
    EXPECT_EQ(sim::badCloses(), 0u);
}

TEST_F(MsiMessageProcessorTest, AnErrorWithoutRecordTravelsAsCodeCaptionAndMessage)
{
    const EKestMsiError error(ERROR_FILE_NOT_FOUND, "Owner::call", "Owner", 1, "Function Failed: MsiX()");

    processor.dialogBox(installation, INSTALLMESSAGE_ERROR, error);

    ASSERT_EQ(sim::messages().size(), 1u);
    EXPECT_EQ(sim::messages().front().type, INSTALLMESSAGE_ERROR);
    EXPECT_EQ(sim::messages().front().fields,
              (std::vector<sim::Field>{sim::Null{}, 2, std::string("Program Exception"),
                                       std::string("The system cannot find the file specified.\r\n")}));
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
}

namespace {
// A processor that keeps the records it is asked to send.
class RecordingProcessor : public KestMsiMessageProcessor {
public:
    using KestMsiMessageProcessor::dialogBox;
    int dialogBox(KestMsiHandle&, INSTALLMESSAGE, const KestMsiRecord& record) override
    {
        sentFieldCounts.push_back(record.fieldCount());
        return 42;
    }
    std::vector<unsigned int> sentFieldCounts;
};
}  // namespace

TEST_F(MsiMessageProcessorTest, TheErrorOverloadSendsThroughTheOverridableRecordOverload)
{
    RecordingProcessor recording;
    const EKestMsiError error(ERROR_FILE_NOT_FOUND, "Owner::call", "Owner", 1, "Function Failed: MsiX()");

    EXPECT_EQ(recording.dialogBox(installation, INSTALLMESSAGE_ERROR, error), 42);
    EXPECT_EQ(recording.sentFieldCounts, std::vector<unsigned int>{3});
    EXPECT_TRUE(sim::messages().empty());
}

using PromptForOriginalDiskTest = SimTest;

TEST_F(PromptForOriginalDiskTest, SendsMessage26002AsInformationWhateverTheInstallerAnswers)
{
    const MSIHANDLE session = sim::openSession();
    for (int answer : {IDOK, 0, -1}) {
        sim::setProcessMessageResult(answer);
        EXPECT_EQ(qelPromptForOriginalDisk(session), 0u);
    }
    ASSERT_EQ(sim::messages().size(), 3u);
    for (const sim::Message& sent : sim::messages()) {
        EXPECT_EQ(sent.type, INSTALLMESSAGE_INFO);
        EXPECT_EQ(sent.fields, (std::vector<sim::Field>{sim::Null{}, 26002}));
    }
    EXPECT_TRUE(sim::handleInfo(session)->open);
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
    EXPECT_TRUE(sim::callLog().end() == std::find(sim::callLog().begin(), sim::callLog().end(), "GetTempPathW"))
        << "the processor is never initialized: no file is touched";
}

TEST_F(PromptForOriginalDiskTest, WithoutARecordNothingIsSentAndTheActionStillSucceeds)
{
    const MSIHANDLE session = sim::openSession();
    sim::failCall("MsiCreateRecord", 1, 0, ERROR_OUTOFMEMORY);

    EXPECT_EQ(qelPromptForOriginalDisk(session), 0u);
    EXPECT_TRUE(sim::messages().empty());
}
