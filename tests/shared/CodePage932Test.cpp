#include "text/KestCString.h"

#include "backend/SharedTest.h"

#include <string>

namespace {

// In code page 932 (Shift-JIS) 0x82 is a lead byte; 0x82 0xA0 is one character. 0x83 0x5C is one
// character whose trail byte is the backslash.
const char* const kDouble = "\x82\xa0";
const char* const kDoubleBackslash = "\x83\x5c";

}  // namespace

// Under Windows the code page is the system's: the run of these cases starts in a Japanese locale.
class CodePage932Test : public SharedTest {
protected:
    void SetUp() override
    {
        SharedTest::SetUp();
        ASSERT_TRUE(Backend::useCodePage932()) << "the ANSI code page is not 932";
    }
};

TEST_F(CodePage932Test, DoubleByteLengths)
{
    KestCString mixed = std::string(kDouble) + "a";
    EXPECT_EQ(mixed.getLength(), 2);
    EXPECT_EQ(mixed.size(), 3u);

    // A lead byte right before the terminator is not a character.
    EXPECT_EQ(KestCString("a\x82").getLength(), 1);
    EXPECT_EQ(KestCString("\x82").getLength(), 0);
    // Nor is one right before an embedded NUL, where the count ends.
    EXPECT_EQ(KestCString(std::string("a\x82\0bc", 5)).getLength(), 1);
}

TEST_F(CodePage932Test, IndexConversionsAroundDoubleByteCharacters)
{
    // Bytes a, lead, trail, b (one literal: GCC 12 at -O3 misreads "a" + std::string + "b" as an
    // overlapping copy, -Werror=restrict).
    const KestCString text("a\x82\xa0"
                           "b");

    EXPECT_EQ(text.byteToCharIndex(-1), -1);
    EXPECT_EQ(text.byteToCharIndex(0), 0);
    EXPECT_EQ(text.byteToCharIndex(1), 1);
    EXPECT_EQ(text.byteToCharIndex(2), 1);  // inside the double-byte character
    EXPECT_EQ(text.byteToCharIndex(3), 2);
    EXPECT_EQ(text.byteToCharIndex(4), 4);  // the byte length, not a character count
    EXPECT_EQ(text.byteToCharIndex(100), 4);

    EXPECT_EQ(text.charToByteOffset(-1), -1);
    EXPECT_EQ(text.charToByteOffset(0), 0);
    EXPECT_EQ(text.charToByteOffset(1), 1);
    EXPECT_EQ(text.charToByteOffset(2), 3);
    EXPECT_EQ(text.charToByteOffset(3), 4);
    EXPECT_EQ(text.charToByteOffset(50), 4);
}

TEST_F(CodePage932Test, FindNeverMatchesOnATrailByte)
{
    const KestCString text = std::string(kDoubleBackslash) + "\\x";
    EXPECT_EQ(text.findBytes("\\"), 2);
    EXPECT_EQ(text.find("\\"), 1);
    EXPECT_EQ(text.findBytes("\\", 1), 2);  // a start on the trail byte does not match it
    EXPECT_EQ(KestCString(kDouble).findBytes("\xa0"), -1);
    EXPECT_EQ(text.findBytes("", 1), 1) << "the empty text matches where the search starts";

    // Japanese text followed by the character index of "x": two characters before it.
    EXPECT_EQ(text.find("x"), 2);
}

TEST_F(CodePage932Test, LeftCountsCharacters)
{
    const std::string two = std::string(kDouble) + kDouble;
    const KestCString text = two + "x";  // three characters, five bytes
    EXPECT_EQ(text.left(1), kDouble);
    EXPECT_EQ(text.left(2), two);
    EXPECT_EQ(text.left(3), text);
    EXPECT_EQ(text.left(4), text);
}

// The installer keeps its texts in Unicode: the A calls give and take them in Shift-JIS.
TEST_F(CodePage932Test, TheACallsGiveAndTakeTheInstallersTextsInShiftJis)
{
    const MSIHANDLE session = Backend::session();
    std::basic_string<WCHAR> name;
    for (const char16_t c : std::u16string(u"QEL_TEXT")) {
        name += static_cast<WCHAR>(c);
    }
    std::basic_string<WCHAR> japanese;
    for (const char16_t c : std::u16string(u"\u65e5\u672c\u8a9e\\")) {
        japanese += static_cast<WCHAR>(c);
    }
    ASSERT_EQ(MsiSetPropertyW(session, name.c_str(), japanese.c_str()), static_cast<UINT>(ERROR_SUCCESS));
    char ansi[32] = {};
    DWORD size = sizeof ansi;
    EXPECT_EQ(MsiGetPropertyA(session, "QEL_TEXT", ansi, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::string(ansi, size), "\x93\xfa\x96\x7b\x8c\xea\\");

    ASSERT_EQ(MsiSetPropertyA(session, "QEL_TEXT", kDoubleBackslash), static_cast<UINT>(ERROR_SUCCESS));
    WCHAR wide[8] = {};
    size = 8;
    EXPECT_EQ(MsiGetPropertyW(session, name.c_str(), wide, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::basic_string<WCHAR>(wide, size), std::basic_string<WCHAR>(1, static_cast<WCHAR>(0x30BD)))
        << "0x83 0x5C is one character, ソ";
}
