#include "SimTest.h"
#include "Thrown.h"
#include "msi/KestMsiBoolProperty.h"

class PropertyTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        session = sim::openSession();
    }
    KestMsiBoolProperty property(const char* name = "PROMPT_FOR_CD1") const
    {
        return KestMsiBoolProperty(KestMsiHandle(session, true), name);
    }

    MSIHANDLE session = 0;
};

TEST_F(PropertyTest, ReadsInTwoCallsWhateverLengthTheSizeQueryReports)
{
    const std::string longText(5000, 'x');
    sim::setProperty(session, "LONG", longText);
    EXPECT_EQ(property("LONG").read(), longText);
    EXPECT_EQ(sim::calls("MsiGetPropertyA"), 2u) << "length first, then the text";

    sim::setDoubledMoreDataLength(false);
    EXPECT_EQ(property("LONG").read(), longText);
    EXPECT_TRUE(sim::handleInfo(session)->open);
}

TEST_F(PropertyTest, LeadingNumberWrapsAsASigned32BitInteger)
{
    EXPECT_EQ(KestMsiBoolProperty::leadingNumber("2147483647"), 2147483647);
    EXPECT_EQ(KestMsiBoolProperty::leadingNumber("2147483648"), INT32_MIN);
    EXPECT_EQ(KestMsiBoolProperty::leadingNumber("-2147483648"), INT32_MIN);
    EXPECT_EQ(KestMsiBoolProperty::leadingNumber("4294967295"), -1);
    EXPECT_EQ(KestMsiBoolProperty::leadingNumber("99999999999999999999"), static_cast<int32_t>(1661992959u));
}

TEST_F(PropertyTest, InstallerFailuresReachTheCallerAsWinErrorsWithTheirRaiseEntryOnly)
{
    sim::setProperty(session, "FLAG", "1");
    auto flag = property("FLAG");
    flag.setValue(false);

    sim::failCall("MsiGetPropertyA", 2, ERROR_INVALID_HANDLE);
    const auto fromRead = thrownBy([&] { flag.cacheValue(); });
    ASSERT_TRUE(fromRead);
    EXPECT_EQ(fromRead->type, typeid(EKestWinError));
    EXPECT_EQ(fromRead->error.getErrorCode(), 6);
    EXPECT_EQ(fromRead->contexts(), std::vector<std::string>{"KestMsiProperty::read"});
    EXPECT_EQ(fromRead->comments(), std::vector<std::string>{"Function Failed: MsiGetProperty()"});
    EXPECT_EQ(fromRead->error.getFirstHistoryEntry().getFileName(), "KestMsiProperty");
    EXPECT_FALSE(flag.getValue()) << "a failed read leaves the cached value";

    sim::failCall("MsiSetPropertyA", 1, ERROR_FUNCTION_FAILED);
    const auto fromWrite = thrownBy([&] { flag.write(); });
    ASSERT_TRUE(fromWrite);
    EXPECT_EQ(fromWrite->type, typeid(EKestWinError));
    EXPECT_EQ(fromWrite->error.getErrorCode(), 1627);
    EXPECT_EQ(fromWrite->contexts(), std::vector<std::string>{"KestMsiProperty::write"});
    EXPECT_EQ(fromWrite->comments(), std::vector<std::string>{"Function Failed: MsiSetProperty()"});
    EXPECT_EQ(sim::property(session, "FLAG"), "1");
}

TEST_F(PropertyTest, APropertyThatGrowsBetweenTheTwoCallsIsRaisedNotTruncated)
{
    sim::setDoubledMoreDataLength(false);
    sim::setProperty(session, "GROWING", "short");
    sim::beforeCall("MsiGetPropertyA", 2, [this] { sim::setProperty(session, "GROWING", "much longer now"); });

    const auto thrown = thrownBy([&] { property("GROWING").read(); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_MORE_DATA));
}
