#include "backend/SharedTest.h"

#include "errors/EKestMsiError.h"
#include <initializer_list>

using ErrorTextTest = SharedTest;

TEST_F(ErrorTextTest, WinErrorsTakeTheSystemTextExactly)
{
    for (const long code : std::initializer_list<long>{ERROR_FILE_NOT_FOUND, ERROR_DIRECTORY, 123456}) {
        const EKestWinError error(static_cast<int>(code), "Owner::method", "Owner", 3, "Function Failed: DeleteFile()");
        EXPECT_EQ(error.getErrorCode(), static_cast<int>(code));
        EXPECT_EQ(error.getMessage(), Backend::systemText(code)) << code << ", no text for an unknown code";
        EXPECT_EQ(error.getCaption(), "Program Exception");
        ASSERT_EQ(error.getHistory().size(), 1u);
        EXPECT_EQ(error.getFirstHistoryEntry().getTypeName(), "EKestWinError");
        EXPECT_EQ(error.getFirstHistoryEntry().getComment(), "Function Failed: DeleteFile()");
    }
}

TEST_F(ErrorTextTest, WithoutAnErrorRecordAnInstallerErrorTakesTheSystemText)
{
    Backend::session();
    const EKestMsiError error(ERROR_INSTALL_FAILURE, "Owner::method", "Owner", 1, "Function Failed: MsiX()");

    EXPECT_FALSE(error.hasErrorRecord());
    EXPECT_EQ(error.getErrorRecord().getMsiHandle(), 0u);
    EXPECT_EQ(error.getMessage(), Backend::systemText(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(error.getFirstHistoryEntry().getTypeName(), "EKestException");
}

TEST_F(ErrorTextTest, TheInstallersErrorRecordBecomesTheContentAndIsClosedByTheLastCopy)
{
    QEL_SKIP_WHERE_PLATFORM_DEPARTS(documented::lastErrorRecordIsHandedOver);
    ASSERT_TRUE(Backend::leaveLastErrorRecord());
    {
        auto* original =
            new EKestMsiError(ERROR_INSTALL_FAILURE, "Owner::method", "Owner", 1, "Function Failed: MsiX()");
        ASSERT_TRUE(original->hasErrorRecord());
        EXPECT_EQ(original->getMessage(), "");
        const MSIHANDLE record = original->getErrorRecord().getMsiHandle();
        EXPECT_NE(record, 0u);

        const EKestMsiError copy(*original);
        delete original;
        EXPECT_NE(MsiRecordGetFieldCount(record), static_cast<UINT>(-1)) << "the copy still owns the record";
        EXPECT_EQ(copy.getErrorRecord().getMsiHandle(), record);
    }
    const EKestMsiError later(ERROR_INSTALL_FAILURE, "Owner::method", "Owner", 1, "Function Failed: MsiX()");
    EXPECT_FALSE(later.hasErrorRecord()) << "the installer hands its record over once";
}
