#include "Dumped.h"
#include "Thrown.h"
#include "backend/SharedTest.h"
#include "msi/KestMsiDirectory.h"

class DirectoryTest : public SharedTest {
protected:
    static KestMsiDirectory directory(const char* name = "INSTALLDIR")
    {
        return KestMsiDirectory(KestMsiHandle(Backend::session(), true), name);
    }
};

TEST_F(DirectoryTest, CacheValueLoadsTheCostedTargetAndSourcePaths)
{
    auto installDir = directory();
    installDir.cacheValue();
    EXPECT_EQ(installDir.getTargetDir(), Backend::installDirTarget());
    EXPECT_EQ(installDir.getSourceDir(), Backend::packageFolder());

    auto root = directory("TARGETDIR");
    root.cacheValue();
    EXPECT_EQ(root.getTargetDir(), "C:\\");
    EXPECT_EQ(root.getSourceDir(), Backend::packageFolder());
}

TEST_F(DirectoryTest, AnUnknownDirectoryFailsOnTheTargetQuery)
{
    auto unknown = directory("NO_SUCH_DIR");
    const auto thrown = thrownBy([&] { unknown.cacheValue(); });

    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestWinError));
    EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_DIRECTORY));
    EXPECT_EQ(thrown->error.getMessage(), Backend::systemText(ERROR_DIRECTORY));
    EXPECT_EQ(thrown->contexts(), std::vector<std::string>{"KestMsiDirectory::cacheValue"});
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: MsiGetTargetPath()"});
    EXPECT_EQ(unknown.getTargetDir(), "");
    EXPECT_EQ(unknown.getSourceDir(), "");
}

TEST_F(DirectoryTest, WriteSendsTheCachedTargetPathOnly)
{
    auto installDir = directory();
    EXPECT_EQ(installDir.setTargetDir("C:\\New Place\\"), "C:\\New Place\\");
    EXPECT_EQ(installDir.getTargetDir(), "C:\\New Place\\");
    installDir.write();

    auto reread = directory();
    reread.cacheValue();
    EXPECT_EQ(reread.getTargetDir(), "C:\\New Place\\");
    EXPECT_EQ(reread.getSourceDir(), Backend::packageFolder());
}

TEST_F(DirectoryTest, DumpShowsTheSourcePathBeforeTheTargetPath)
{
    auto installDir = directory();
    const std::string fresh = dumped(installDir);
    EXPECT_NE(fresh.find("\nPropertyName = INSTALLDIR\nSourceDir = \nTargetDir = \n"), std::string::npos) << fresh;

    installDir.cacheValue();
    const std::string loaded = dumped(installDir);
    EXPECT_EQ(loaded.rfind("ObjectType    = class KestMsiDirectory\n", 0), 0u);
    EXPECT_NE(loaded.find("\nPropertyName = INSTALLDIR\nSourceDir = " + Backend::packageFolder() +
                          "\nTargetDir = " + Backend::installDirTarget() + "\n"),
              std::string::npos)
        << loaded;
}
