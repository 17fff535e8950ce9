// The deferred data's text: each set of entries encodes to the text its readers expect and decodes
// back to the same entries; a text of any other form fails with the place, never the content.
#include "text/DeferredData.h"

#include "Thrown.h"
#include "errors/EKestInvalidParameter.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <typeindex>
#include <vector>

namespace qel {
void PrintTo(const DeferredData::Entry& entry, std::ostream* out)
{
    *out << '"' << entry.name << "\" = \"" << entry.value << '"';
}
}  // namespace qel

namespace {

using Entries = std::vector<qel::DeferredData::Entry>;

qel::DeferredData dataOf(const Entries& entries)
{
    qel::DeferredData data;
    for (const auto& entry : entries) {
        data.add(entry.name, entry.value);
    }
    return data;
}

TEST(DeferredDataTest, EveryNameAndValueRoundTripsThroughTheText)
{
    struct Case {
        const char* name;
        Entries entries;
        std::string text;
    };
    const Case cases[] = {
        {"nothing", {}, ""},
        {"a path", {{"file", "C:\\Program Files\\App\\settings.ini"}}, "file=C:\\Program Files\\App\\settings.ini"},
        {"the separators in a name and a value", {{"a;b", "c=d"}}, "a%3Bb=c%3Dd"},
        {"the escape itself", {{"ratio", "100%"}, {"%3B", "%"}}, "ratio=100%25;%253B=%25"},
        {"an empty name and value", {{"", ""}}, "="},
        {"an empty value between others", {{"a", ""}, {"b", "x"}, {"c", ""}}, "a=;b=x;c="},
        {"a list: one name several times", {{"s", "1"}, {"s", "2"}, {"s", "1"}}, "s=1;s=2;s=1"},
        {"any script", {{"Café", "Привет; Γειά=日本"}}, "Café=Привет%3B Γειά%3D日本"},
        // A character outside the Basic Multilingual Plane, four bytes of UTF-8.
        {"beyond 16 bits", {{"\U0001F600", "=\U00020000"}}, "\U0001F600=%3D\U00020000"},
        {"only separators", {{"=;%", ";;"}}, "%3D%3B%25=%3B%3B"},
    };
    for (const Case& c : cases) {
        const qel::DeferredData data = dataOf(c.entries);
        EXPECT_EQ(static_cast<const std::string&>(data.encode()), c.text) << c.name;
        EXPECT_EQ(qel::DeferredData::decode(c.text).entries(), c.entries) << c.name;
    }
}

TEST(DeferredDataTest, AnyOtherTextFailsWithTheByteItFailsAtAndNotItsContent)
{
    struct Case {
        const char* text;
        const char* comment;
    };
    const Case cases[] = {
        {"secret", "The deferred data is malformed at byte 7: an entry without '='"},
        {";secret=1", "The deferred data is malformed at byte 1: an entry without '='"},
        {"a=secret;", "The deferred data is malformed at byte 10: an entry without '='"},
        {"a=secret;;b=1", "The deferred data is malformed at byte 10: an entry without '='"},
        {"a=secret=x", "The deferred data is malformed at byte 9: a second '=' in an entry"},
        {"a=secret%4", "The deferred data is malformed at byte 9: a '%' that is not %25, %3B or %3D"},
        {"a=secret%", "The deferred data is malformed at byte 9: a '%' that is not %25, %3B or %3D"},
        {"a=%G0secret", "The deferred data is malformed at byte 3: a '%' that is not %25, %3B or %3D"},
        // Each entry has one spelling: an escaped NUL would end the value early for a C caller
        // (file=C:\x\evil.dll%00.ini), and a second spelling would slip past a check of the text.
        {"file=C:\\x\\evil.dll%00.ini", "The deferred data is malformed at byte 19: a '%' that is not %25, %3B or %3D"},
        {"a=%3bsecret", "The deferred data is malformed at byte 3: a '%' that is not %25, %3B or %3D"},
        {"a=%41secret", "The deferred data is malformed at byte 3: a '%' that is not %25, %3B or %3D"},
    };
    for (const Case& c : cases) {
        const auto thrown = thrownBy([&] { qel::DeferredData::decode(c.text); });
        ASSERT_TRUE(thrown) << c.text;
        EXPECT_EQ(thrown->type, std::type_index(typeid(EKestInvalidParameter))) << c.text;
        EXPECT_EQ(thrown->contexts(), std::vector<std::string>{"qel::DeferredData::decode"}) << c.text;
        EXPECT_EQ(thrown->comments(), std::vector<std::string>{c.comment}) << c.text;
    }
}

TEST(DeferredDataTest, ValuesAreFoundByName)
{
    const qel::DeferredData data = dataOf({{"file", "a.ini"}, {"setting", "x=1"}, {"setting", "y=2"}, {"empty", ""}});

    EXPECT_EQ(static_cast<const std::string&>(data.value("file")), "a.ini");
    EXPECT_EQ(static_cast<const std::string&>(data.value("setting")), "x=1");
    EXPECT_EQ(data.values("setting"), (std::vector<qel::Text>{"x=1", "y=2"}));
    EXPECT_TRUE(data.has("empty"));
    EXPECT_FALSE(data.has("missing"));
    EXPECT_TRUE(data.values("missing").empty());

    const auto thrown = thrownBy([&] { data.value("missing"); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, std::type_index(typeid(EKestInvalidParameter)));
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"The deferred data holds no value named \"missing\""});

    // No installer text carries a NUL: a value holding one is refused, not cut short later.
    const auto nul = thrownBy([] { qel::DeferredData().add("file", std::string("evil.dll\0.ini", 13)); });
    ASSERT_TRUE(nul);
    EXPECT_EQ(nul->comments(),
              std::vector<std::string>{"A deferred name or value holds a NUL, which an installer text cannot carry"});
}

}  // namespace
