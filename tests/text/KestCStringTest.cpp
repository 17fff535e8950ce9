#include "text/KestCString.h"

#include "SimTest.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// In code page 932 (Shift-JIS) 0x82 is a lead byte; 0x82 0xA0 is one character. 0x83 0x5C is one
// character whose trail byte is the backslash.
const char* const kDouble = "\x82\xa0";
const char* const kDoubleBackslash = "\x83\x5c";

HINSTANCE module()
{
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(0x400000));
}

KestCString formatted(const char* format, ...)
{
    KestCString text("previous content that is longer than the result");
    va_list arguments;
    va_start(arguments, format);
    text.formatV(format, arguments);
    va_end(arguments);
    return text;
}

class KestCStringTest : public SimTest {};

TEST_F(KestCStringTest, NullPointersGiveTheEmptyText)
{
    const char* none = nullptr;
    EXPECT_EQ(KestCString(none), "");
    EXPECT_EQ(safeLength(none), 0);
    EXPECT_EQ(safeLength("abc"), 3);

    KestCString text("abc");
    text = none;
    EXPECT_TRUE(text.empty());

    EXPECT_EQ(none + KestCString("tail"), "tail");
    EXPECT_EQ("head-" + KestCString("tail"), "head-tail");

    EXPECT_EQ(KestCString("abc").findBytes(none), 0);
}

TEST_F(KestCStringTest, SingleByteLengthIsByteCountUpToTheFirstNul)
{
    EXPECT_EQ(KestCString("a\x82\xa0z").getLength(), 4);
    KestCString embedded(std::string("ab\0cd", 5));
    EXPECT_EQ(embedded.getLength(), 2);
    EXPECT_EQ(KestCString("").getLength(), 0);
}

TEST_F(KestCStringTest, DoubleByteLengths)
{
    sim::setCodePage(932);
    KestCString mixed = std::string(kDouble) + "a";
    EXPECT_EQ(mixed.getLength(), 2);
    EXPECT_EQ(mixed.size(), 3u);

    // A lead byte right before the terminator is not a character.
    EXPECT_EQ(KestCString("a\x82").getLength(), 1);
    EXPECT_EQ(KestCString("\x82").getLength(), 0);
    // Nor is one right before an embedded NUL, where the count ends.
    EXPECT_EQ(KestCString(std::string("a\x82\0bc", 5)).getLength(), 1);
}

TEST_F(KestCStringTest, IndexConversionsAroundDoubleByteCharacters)
{
    sim::setCodePage(932);
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

TEST_F(KestCStringTest, FindAndLeftOnFileNames)
{
    const struct {
        const char* name;
        int dot;
        const char* stem;
    } cases[] = {{"setup.log", 5, "setup"}, {".log", 0, ""}, {"setuplog", -1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KestCString text(c.name);
        EXPECT_EQ(text.find("."), c.dot);
        EXPECT_EQ(text.left(text.find(".")), c.stem);
    }
    EXPECT_EQ(KestCString("setup.log").find(".", 6), -1);
    EXPECT_EQ(KestCString("a.b.c").find(".", 2), 3);
}

TEST_F(KestCStringTest, FindNeverMatchesOnATrailByte)
{
    const KestCString text = std::string(kDoubleBackslash) + "\\x";
    EXPECT_EQ(text.find("\\"), 1);  // code page 1252: the second byte is a backslash

    sim::setCodePage(932);
    EXPECT_EQ(text.findBytes("\\"), 2);
    EXPECT_EQ(text.find("\\"), 1);
    EXPECT_EQ(text.findBytes("\\", 1), 2);  // a start on the trail byte does not match it
    EXPECT_EQ(KestCString(kDouble).findBytes("\xa0"), -1);
    EXPECT_EQ(text.findBytes("", 1), 1) << "the empty text matches where the search starts";

    // Japanese text followed by the character index of "x": two characters before it.
    EXPECT_EQ(text.find("x"), 2);
}

TEST_F(KestCStringTest, FindBytesStartBounds)
{
    const KestCString text("abcabc");
    EXPECT_EQ(text.findBytes("abc", 1), 3);
    EXPECT_EQ(text.findBytes("abc", -5), 0);  // negative start: from the beginning
    EXPECT_EQ(text.findBytes("abc", 4), -1);
    EXPECT_EQ(text.findBytes("", 6), 6);
    EXPECT_EQ(text.findBytes("", 7), -1);
    EXPECT_EQ(text.findBytes("c", 6), -1);
    EXPECT_EQ(text.findBytes("abcabcd"), -1);
    EXPECT_EQ(text.find("c", -1), 2);
}

TEST_F(KestCStringTest, LeftCountsCharacters)
{
    const KestCString ascii("abc");
    EXPECT_EQ(ascii.left(-1), "");
    EXPECT_EQ(ascii.left(0), "");
    EXPECT_EQ(ascii.left(2), "ab");
    EXPECT_EQ(ascii.left(3), "abc");
    EXPECT_EQ(ascii.left(99), "abc");

    sim::setCodePage(932);
    const std::string two = std::string(kDouble) + kDouble;
    const KestCString text = two + "x";  // three characters, five bytes
    EXPECT_EQ(text.left(1), kDouble);
    EXPECT_EQ(text.left(2), two);
    EXPECT_EQ(text.left(3), text);
    EXPECT_EQ(text.left(4), text);
}

TEST_F(KestCStringTest, BufferProtocol)
{
    KestCString text("ab");
    char* buffer = text.getBuffer(5);
    EXPECT_EQ(text.size(), 5u);
    EXPECT_EQ(std::string(buffer, 5), std::string("ab\0\0\0", 5));
    text.releaseBuffer();
    EXPECT_EQ(text, "ab");

    EXPECT_EQ(text.getBuffer(-1), text.data());
    EXPECT_EQ(text, "ab");

    buffer = text.getBuffer(8);
    std::memcpy(buffer, "12345678", 8);
    text.releaseBuffer(3);
    EXPECT_EQ(text, "123");
    text.releaseBuffer(5);
    EXPECT_EQ(text, std::string("123\0\0", 5));
}

TEST_F(KestCStringTest, FormatReplacesTheContent)
{
    KestCString text("a much longer previous text");
    text.format("%s.mpp", "setup");
    EXPECT_EQ(text, "setup.mpp");

    text.format("%d", 1);
    EXPECT_EQ(text, "1");

    // A character conversion of 0 ends the text there.
    text.format("ab%cde", 0);
    EXPECT_EQ(text, "ab");

    // The text being formatted may be one of the arguments.
    text = "setup";
    text.format("%s.mpp", text.c_str());
    EXPECT_EQ(text, "setup.mpp");
}

TEST_F(KestCStringTest, FormatHasNoLengthLimit)
{
    const std::string part(5000, 'x');
    KestCString text;
    text.format("%s|%s", part.c_str(), part.c_str());
    EXPECT_EQ(text, part + "|" + part);

    text = std::string(3000, 'y').c_str();
    text.format("%s%s", text.c_str(), text.c_str());
    EXPECT_EQ(text, std::string(6000, 'y'));
}

TEST_F(KestCStringTest, FormatVMeasuresWithoutConsumingTheArguments)
{
    // Several arguments of different kinds: writing must start again from the first of them.
    const std::string longText(10000, 'z');
    EXPECT_EQ(formatted("%d-%s-%s-%.1f", 42, "mid", longText.c_str(), 2.5), "42-mid-" + longText + "-2.5");
    EXPECT_EQ(formatted("%s", ""), "");
}

TEST_F(KestCStringTest, LoadStringSizes)
{
    const std::string s253(253, 'a');
    const std::string s254(254, 'b');
    const std::string s1000(1000, 'c');
    sim::setStringResource(module(), 1, s253);
    sim::setStringResource(module(), 2, s254);
    sim::setStringResource(module(), 3, s1000);
    sim::setStringResource(module(), 4, std::string(381, 'd'));
    sim::setStringResource(module(), 5, std::string(382, 'e'));

    // Calls needed: one when the first attempt has room to spare, then one per pass of the loop
    // (told 384, 512, 640, ... characters).
    const struct {
        UINT id;
        std::size_t length;
        std::size_t calls;
    } cases[] = {{1, 253, 1}, {2, 254, 2}, {4, 381, 2}, {5, 382, 3}, {3, 1000, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const std::size_t before = sim::calls("LoadStringA");
        KestCString text("old");
        EXPECT_TRUE(text.loadString(module(), c.id));
        EXPECT_EQ(text.size(), c.length);
        EXPECT_EQ(text.getLength(), static_cast<int>(c.length));
        EXPECT_EQ(sim::calls("LoadStringA") - before, c.calls);
    }

    KestCString text;
    text.loadString(module(), 3);
    EXPECT_EQ(text, s1000);
}

TEST_F(KestCStringTest, LoadStringOfAMissingIdLeavesTheTextEmpty)
{
    KestCString text("old content");
    EXPECT_FALSE(text.loadString(module(), 77));
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(sim::calls("LoadStringA"), 2u);

    // A LoadStringA that answers 0 without touching the buffer still leaves the empty text.
    sim::failCall("LoadStringA", 1, 0);
    char buffer[8] = "garbage";
    EXPECT_EQ(loadStringResource(module(), 77, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
