#include "msi/KestMsiDirectory.h"
#include "SimTest.h"
#include "Thrown.h"

class DirectoryTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        session = sim::openSession();
        sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Demo\\", "D:\\");
    }
    KestMsiDirectory directory(const char* name = "INSTALLDIR") const
    {
        return KestMsiDirectory(KestMsiHandle(session, true), name);
    }
    std::vector<std::string> installerCalls() const
    {
        std::vector<std::string> calls;
        for (const auto& call : sim::callLog()) {
            if (call.rfind("Msi", 0) == 0 && call != "MsiCloseHandle") {
                calls.push_back(call);
            }
        }
        return calls;
    }

    MSIHANDLE session = 0;
};

TEST_F(DirectoryTest, CacheValueLoadsTheTargetPathFirstThenTheSourcePath)
{
    auto installDir = directory();
    installDir.cacheValue();

    EXPECT_EQ(installDir.getTargetDir(), "C:\\Program Files\\Demo\\");
    EXPECT_EQ(installDir.getSourceDir(), "D:\\");
    EXPECT_EQ(installerCalls(), (std::vector<std::string>{"MsiGetTargetPathA", "MsiGetTargetPathA", "MsiGetSourcePathA",
                                                          "MsiGetSourcePathA"}));
}

TEST_F(DirectoryTest, AFailedTargetQueryLeavesBothPathsAndNeverAsksForTheSource)
{
    auto installDir = directory();
    installDir.cacheValue();
    sim::setDirectory(session, "INSTALLDIR", "C:\\Elsewhere\\", "E:\\");
    sim::failCall("MsiGetTargetPathA", 2, ERROR_INVALID_HANDLE);

    const auto thrown = thrownBy([&] { installDir.cacheValue(); });

    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestWinError));
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: MsiGetTargetPath()"});
    EXPECT_EQ(installDir.getTargetDir(), "C:\\Program Files\\Demo\\");
    EXPECT_EQ(installDir.getSourceDir(), "D:\\");
    EXPECT_EQ(sim::calls("MsiGetSourcePathA"), 2u) << "only the first, successful cacheValue asked";
}

TEST_F(DirectoryTest, AFailedSourceQueryNamesTheSourceQuery)
{
    auto installDir = directory();
    sim::failCall("MsiGetSourcePathA", 2, ERROR_FUNCTION_FAILED);

    const auto thrown = thrownBy([&] { installDir.cacheValue(); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestWinError));
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: MsiGetSourcePath()"});
    EXPECT_EQ(installDir.getTargetDir(), "C:\\Program Files\\Demo\\") << "its own query had succeeded";
    EXPECT_EQ(installDir.getSourceDir(), "");
}

TEST_F(DirectoryTest, AnIllegalDirTypeIsRaisedBeforeAnyInstallerCall)
{
    auto installDir = directory();
    for (int dirType : {2, -1}) {
        const auto thrown = thrownBy([&] { installDir.cacheValue(dirType); });
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->type, typeid(EKestInvalidParameter));
        EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Illegal value passed for dirType"});
        EXPECT_EQ(thrown->error.getFirstHistoryEntry().getFileName(), "KestMsiDirectory");
    }
    EXPECT_TRUE(installerCalls().empty());
}

TEST_F(DirectoryTest, APathThatGrowsBetweenTheTwoCallsIsRaisedNotTruncated)
{
    sim::setDoubledMoreDataLength(false);
    sim::beforeCall("MsiGetSourcePathA", 2,
                    [this] { sim::setDirectory(session, "INSTALLDIR", "C:\\Program Files\\Demo\\", "D:\\Longer\\"); });
    auto installDir = directory();

    const auto thrown = thrownBy([&] { installDir.cacheValue(); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_MORE_DATA));
    EXPECT_EQ(installDir.getSourceDir(), "");
}

TEST_F(DirectoryTest, TheCacheIsSetAndReadWithoutACallAndWrittenWithOne)
{
    auto installDir = directory();
    installDir.setTargetDir("C:\\New Place\\");
    EXPECT_EQ(installDir.getTargetDir(), "C:\\New Place\\");
    EXPECT_TRUE(sim::callLog().empty()) << "setting and reading the cache asks nothing";

    installDir.write();
    EXPECT_EQ(installerCalls(), std::vector<std::string>{"MsiSetTargetPathA"});
}

TEST_F(DirectoryTest, AFailedWriteReachesTheCallerAsAWinError)
{
    auto installDir = directory();
    installDir.setTargetDir("C:\\New Place\\");
    sim::failCall("MsiSetTargetPathA", 1, ERROR_FUNCTION_FAILED);

    const auto thrown = thrownBy([&] { installDir.write(); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestWinError));
    EXPECT_EQ(thrown->contexts(), std::vector<std::string>{"KestMsiDirectory::write"});
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: MsiSetTargetPath()"});
    EXPECT_EQ(sim::targetPath(session, "INSTALLDIR"), "C:\\Program Files\\Demo\\");
}
