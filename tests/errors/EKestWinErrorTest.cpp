#include "errors/EKestWinError.h"
#include "SimTest.h"
#include "errors/EKestMsiError.h"

using WinErrorTest = SimTest;

TEST_F(WinErrorTest, TheSystemBufferIsFreedOnceWhateverTheCode)
{
    const EKestWinError known(ERROR_FILE_NOT_FOUND, "Owner::method", "Owner", 3, "Function Failed: DeleteFile()");
    EXPECT_EQ(sim::calls("LocalFree"), 1u);
    const EKestWinError unknown(123456, "Owner::method", "Owner", 3, "Function Failed: Something()");
    EXPECT_EQ(unknown.getMessage(), "");
    EXPECT_EQ(sim::liveLocalAllocations(), 0u);
    EXPECT_EQ(sim::badLocalFrees(), 0u);
}

TEST_F(WinErrorTest, InsertsInTheSystemTextAreLeftAsTheyStand)
{
    const EKestWinError error(ERROR_MR_MID_NOT_FOUND, "Owner::method", "Owner", 3, "Function Failed: Something()");

    EXPECT_EQ(error.getMessage(),
              "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n");
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
