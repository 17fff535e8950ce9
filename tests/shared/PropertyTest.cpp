#include "Dumped.h"
#include "backend/SharedTest.h"
#include "msi/KestMsiBoolProperty.h"

#include <sstream>

class PropertyTest : public SharedTest {
protected:
    static KestMsiBoolProperty property(const char* name = "PROMPT_FOR_CD1")
    {
        return KestMsiBoolProperty(KestMsiHandle(Backend::session(), true), name);
    }
};

TEST_F(PropertyTest, ReadsAndWritesTheSessionsText)
{
    auto name = property("ProductLine");
    EXPECT_EQ(name.read(), "Demo Product") << "as the package sets it";

    name.write("Other Product");
    EXPECT_EQ(Backend::property("ProductLine"), "Other Product");
    EXPECT_EQ(name.read(), "Other Product");
    EXPECT_EQ(name.getName(), "ProductLine");
}

TEST_F(PropertyTest, UnsetEmptiedAndLongPropertiesReadWhole)
{
    EXPECT_EQ(property("NOT_SET").read(), "");

    for (const std::size_t length : {1u, 79u, 80u, 81u, 255u, 256u, 5000u}) {
        const std::string text(length, 'x');
        Backend::setProperty("LONG", text);
        EXPECT_EQ(property("LONG").read(), text) << length << " characters";
    }
    property("LONG").write("");
    EXPECT_EQ(property("LONG").read(), "") << "an empty value deletes the property";
}

TEST_F(PropertyTest, BoolValueFollowsTheNumberThatStartsTheText)
{
    struct Case {
        const char* text;
        bool value;
    };
    for (const Case c : {Case{"1", true}, Case{"-1", true}, Case{"12abc", true}, Case{"  7", true}, Case{"+3", true},
                         Case{"\t\n 9", true}, Case{"0", false}, Case{"-0", false}, Case{"abc", false}, Case{"", false},
                         Case{"true", false}, Case{"+-1", false}, Case{"0x10", false}, Case{"4294967296", false},
                         Case{"4294967297", true}}) {
        Backend::setProperty("FLAG", c.text);
        auto flag = property("FLAG");
        flag.setValue(!c.value);
        flag.cacheValue();
        EXPECT_EQ(flag.getValue(), c.value) << '"' << c.text << '"';
    }
}

TEST_F(PropertyTest, WriteSendsOnlyOneOrZero)
{
    auto flag = property();
    flag.setValue(true);
    flag.write();
    EXPECT_EQ(Backend::property("PROMPT_FOR_CD1"), "1");
    flag.setValue(false);
    flag.write();
    EXPECT_EQ(Backend::property("PROMPT_FOR_CD1"), "0");
    EXPECT_FALSE(flag.getValue()) << "write never changes the cached value";
}

TEST_F(PropertyTest, DumpOfABoolPropertyIsFiveLines)
{
    auto flag = property();
    flag.setValue(true);

    std::ostringstream address;
    address << static_cast<const void*>(&flag);
    EXPECT_EQ(dumped(flag), "ObjectType    = class KestMsiBoolProperty\n"
                            "ObjectAddress = " +
                                address.str() +
                                "\n"
                                "ObjectHandle  = " +
                                std::to_string(Backend::session()) +
                                "\n"
                                "PropertyName = PROMPT_FOR_CD1\n"
                                "PropertyValue = true\n");
}
