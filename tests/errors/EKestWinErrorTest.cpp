#include "errors/EKestWinError.h"
#include "SimTest.h"
#include "errors/EKestMsiError.h"

using WinErrorTest = SimTest;

TEST_F(WinErrorTest, TakesTheSystemTextExactlyAndFreesTheSystemBuffer)
{
    const EKestWinError error(ERROR_FILE_NOT_FOUND, "Owner::method", "Owner", 3, "Function Failed: DeleteFile()");

    EXPECT_EQ(error.getErrorCode(), 2);
    EXPECT_EQ(error.getMessage(), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(error.getCaption(), "Program Exception");
    ASSERT_EQ(error.getHistory().size(), 1u);
    EXPECT_EQ(error.getFirstHistoryEntry().getTypeName(), "EKestWinError");
    EXPECT_EQ(error.getFirstHistoryEntry().getComment(), "Function Failed: DeleteFile()");
    EXPECT_EQ(sim::calls("LocalFree"), 1u);
    EXPECT_EQ(sim::liveLocalAllocations(), 0u);
}

TEST_F(WinErrorTest, InsertsInTheSystemTextAreLeftAsTheyStand)
{
    const EKestWinError error(ERROR_MR_MID_NOT_FOUND, "Owner::method", "Owner", 3, "Function Failed: Something()");

    EXPECT_EQ(error.getMessage(),
              "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n");
}

TEST_F(WinErrorTest, ACodeWithoutSystemTextGivesAnEmptyMessageButKeepsTheCode)
{
    const EKestWinError error(123456, "Owner::method", "Owner", 3, "Function Failed: Something()");

    EXPECT_EQ(error.getErrorCode(), 123456);
    EXPECT_EQ(error.getMessage(), "");
    EXPECT_EQ(sim::liveLocalAllocations(), 0u);
}

TEST_F(WinErrorTest, TheInstallerIsAskedForItsErrorRecordOnlyForItsOwnRange)
{
    struct Case {
        int code;
        bool asks;
    };
    for (const Case c : {Case{999, false}, Case{1000, true}, Case{1999, true}, Case{2000, false},
                         Case{static_cast<int>(MSI_NULL_INTEGER), false}, Case{-1000, false}}) {
        sim::reset();
        const EKestMsiError error(c.code, "Owner::method", "Owner", 1, "Function Failed: MsiX()");
        EXPECT_EQ(sim::calls("MsiGetLastErrorRecord"), c.asks ? 1u : 0u) << c.code;
        EXPECT_EQ(error.getErrorCode(), c.code);
        EXPECT_FALSE(error.hasErrorRecord());
    }
}

TEST_F(WinErrorTest, WithoutAPendingRecordTheMessageIsTheSystemText)
{
    const EKestMsiError error(ERROR_INSTALL_FAILURE, "Owner::method", "Owner", 1, "Function Failed: MsiX()");

    EXPECT_FALSE(error.hasErrorRecord());
    EXPECT_EQ(error.getErrorRecord().getMsiHandle(), 0u);
    EXPECT_EQ(error.getMessage(), "Fatal error during installation.\r\n");
    EXPECT_EQ(error.getFirstHistoryEntry().getTypeName(), "EKestException");
}

TEST_F(WinErrorTest, APendingRecordBecomesTheContentAndIsSharedByCopies)
{
    const MSIHANDLE record = sim::setPendingErrorRecord({sim::Null{}, 1603, std::string("detail")});
    {
        auto* original =
            new EKestMsiError(ERROR_INSTALL_FAILURE, "Owner::method", "Owner", 1, "Function Failed: MsiX()");
        EXPECT_TRUE(original->hasErrorRecord());
        EXPECT_EQ(original->getMessage(), "");
        EXPECT_EQ(original->getErrorRecord().getMsiHandle(), record);

        const EKestMsiError copy(*original);
        delete original;
        EXPECT_TRUE(sim::handleInfo(record)->open) << "the copy still owns the record";
        EXPECT_TRUE(copy.hasErrorRecord());
        EXPECT_EQ(copy.getErrorRecord().getMsiHandle(), record);
    }
    EXPECT_FALSE(sim::handleInfo(record)->open);
    EXPECT_EQ(sim::handleInfo(record)->closeCalls, 1);

    const EKestMsiError later(ERROR_INSTALL_FAILURE, "Owner::method", "Owner", 1, "Function Failed: MsiX()");
    EXPECT_FALSE(later.hasErrorRecord()) << "the installer hands its record over once";
}
