// KestCString under single-byte code pages (1250 to 1253) and double-byte ones (932, 936), against a
// plain walk of the text's rules: the text is split into its characters once, and every answer is
// read off that split.
#include "FuzzCheck.h"
#include "Simulation.h"
#include "text/KestCString.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The lead bytes of each code page tried: 932 (Shift-JIS) has two ranges, 936 (GBK) one, the
// single-byte pages none.
bool isLead932(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
bool isLead936(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}
bool noLeadBytes(unsigned char /*byte*/)
{
    return false;
}

struct CodePage {
    unsigned number;
    bool (*isLead)(unsigned char byte);
};
constexpr CodePage codePages[] = {{1252, noLeadBytes}, {1250, noLeadBytes}, {1251, noLeadBytes},
                                  {1253, noLeadBytes}, {932, isLead932},    {936, isLead936}};

class Walk {
public:
    Walk(const std::string& text, const CodePage& page) : text(text)
    {
        const std::size_t n = text.size();
        for (std::size_t pos = 0; pos < n;) {
            starts.push_back(pos);
            const bool lead = page.isLead(static_cast<unsigned char>(text[pos]));
            pos += lead && pos + 1 < n ? 2 : 1;
        }
        // Characters before the first NUL; a lead byte whose trail is the NUL (or the end) ends it.
        for (const std::size_t start : starts) {
            const bool lead = page.isLead(static_cast<unsigned char>(text[start]));
            if (text[start] == '\0' || (lead && (start + 1 >= n || text[start + 1] == '\0'))) {
                break;
            }
            ++length;
        }
    }

    int bytes() const { return static_cast<int>(text.size()); }

    std::size_t end(std::size_t index) const { return index + 1 < starts.size() ? starts[index + 1] : text.size(); }

    int byteToChar(int offset) const
    {
        if (offset <= 0 || offset >= bytes()) {
            return offset <= 0 ? offset : bytes();
        }
        int count = 0;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            count += end(i) <= static_cast<std::size_t>(offset) ? 1 : 0;
        }
        return count;
    }

    int charToByte(int index) const
    {
        if (index <= 0 || index >= length) {
            return index <= 0 ? index : bytes();
        }
        return static_cast<int>(starts[static_cast<std::size_t>(index)]);
    }

    int findBytes(const std::string& sub, int start) const
    {
        if (start > bytes()) {
            return -1;
        }
        if (sub.empty()) {
            return start;
        }
        for (const std::size_t pos : starts) {
            if (pos >= static_cast<std::size_t>(start) && text.compare(pos, sub.size(), sub) == 0 &&
                pos + sub.size() <= text.size()) {
                return static_cast<int>(pos);
            }
        }
        return -1;
    }

    int find(const std::string& sub, int start) const { return byteToChar(findBytes(sub, start < 0 ? 0 : start)); }

    std::string left(int count) const
    {
        count = count < 0 ? 0 : count;
        if (count >= bytes()) {
            return text;
        }
        const int prefix = count == 0 ? 0 : count >= length ? bytes() : charToByte(count);
        return text.substr(0, static_cast<std::size_t>(prefix));
    }

    const std::string& text;
    std::vector<std::size_t> starts;
    int length = 0;
};

// Each question is asked at the text's edges and at a few offsets the input picks: every library
// call walks the text, so asking at every offset would make long texts crawl.
std::vector<int> offsetsToTry(const Walk& walk, FuzzedDataProvider& input)
{
    const int n = walk.bytes();
    std::vector<int> offsets{-1, 0, 1, n - 1, n, n + 1};
    for (int picked = 0; picked < 6; ++picked) {
        offsets.push_back(input.ConsumeIntegralInRange(0, n));
    }
    return offsets;
}

void checkMeasures(const KestCString& s, const Walk& walk, const std::vector<int>& offsets)
{
    using fuzz::expectEqual;
    expectEqual(s.getLength(), walk.length, "getLength");
    for (const int offset : offsets) {
        expectEqual(s.byteToCharIndex(offset), walk.byteToChar(offset), "byteToCharIndex at " + std::to_string(offset));
        expectEqual(s.charToByteOffset(offset), walk.charToByte(offset),
                    "charToByteOffset at " + std::to_string(offset));
        expectEqual(std::string(s.left(offset)), walk.left(offset), "left at " + std::to_string(offset));
    }
}

void checkSearch(const KestCString& s, const Walk& walk, const std::string& sub, const std::vector<int>& starts)
{
    using fuzz::expectEqual;
    expectEqual(s.findBytes(sub.c_str()), walk.findBytes(sub, 0), "findBytes of \"" + fuzz::visible(sub) + "\"");
    for (const int start : starts) {
        const std::string at = " of \"" + fuzz::visible(sub) + "\" from " + std::to_string(start);
        if (start >= 0) {
            expectEqual(s.findBytes(sub.c_str(), start), walk.findBytes(sub, start), "findBytes" + at);
        }
        expectEqual(s.find(sub.c_str(), start), walk.find(sub, start), "find" + at);
    }
}

void checkBuffer(const std::string& text, FuzzedDataProvider& input)
{
    KestCString s(text);
    const int minLength = input.ConsumeIntegralInRange<int>(-2, static_cast<int>(text.size()) + 16);
    char* buffer = s.getBuffer(minLength);
    const std::size_t size =
        minLength > static_cast<int>(text.size()) ? static_cast<std::size_t>(minLength) : text.size();
    fuzz::expectEqual(s.size(), size, "getBuffer's length");
    std::string expected = text;
    expected.resize(size, '\0');
    fuzz::expect(std::memcmp(buffer, expected.data(), size) == 0 && buffer[size] == '\0',
                 "getBuffer keeps the text, pads with NUL and terminates");

    // Fill part of the array in place, as a caller of the protocol does.
    const std::string written = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(0, size));
    std::memcpy(buffer, written.data(), written.size());
    expected.replace(0, written.size(), written);

    const int newLength = input.ConsumeIntegralInRange<int>(-1, static_cast<int>(size) + 8);
    s.releaseBuffer(newLength);
    if (newLength < 0) {
        expected = fuzz::cutAtNul(expected);
    } else {
        expected.resize(static_cast<std::size_t>(newLength), '\0');
    }
    fuzz::expectEqual(std::string(s), expected, "releaseBuffer(" + std::to_string(newLength) + ")");
}

std::string padded(const std::string& text, std::size_t width, bool onTheLeft)
{
    if (text.size() >= width) {
        return text;
    }
    const std::string pad(width - text.size(), ' ');
    return onTheLeft ? pad + text : text + pad;
}

// A fixed set of formats; the fuzzed text only ever travels as an argument.
void checkFormat(const std::string& text, const std::string& sub, FuzzedDataProvider& input)
{
    KestCString s(input.ConsumeRandomLengthString(64));
    const std::string before = fuzz::cutAtNul(s);
    const std::string argument = fuzz::cutAtNul(text);
    const int number = input.ConsumeIntegral<int>();
    std::string expected;
    switch (input.ConsumeIntegralInRange(0, 5)) {
    case 0:
        s.format("%s", text.c_str());
        expected = argument;
        break;
    case 1:  // the string's own text as the argument
        s.format("%s.mpp", s.c_str());
        expected = before + ".mpp";
        break;
    case 2:
        s.format("[%d] %s", number, text.c_str());
        expected = "[" + std::to_string(number) + "] " + argument;
        break;
    case 3: {
        const int precision = input.ConsumeIntegralInRange(0, 300);
        const char c = input.ConsumeIntegral<char>();
        s.format("%.*s|%c", precision, text.c_str(), c);
        expected = fuzz::cutAtNul(argument.substr(0, static_cast<std::size_t>(precision)) + "|" + std::string(1, c));
        break;
    }
    case 4:
        s.format("%-8s|%5d|%%", text.c_str(), number);
        expected = padded(argument, 8, false) + "|" + padded(std::to_string(number), 5, true) + "|%";
        break;
    default:
        s.format("%s%s%s", text.c_str(), text.c_str(), sub.c_str());
        expected = argument + argument + sub;
        break;
    }
    fuzz::expectEqual(std::string(s), expected, "format");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const CodePage& page = input.PickValueInArray(codePages);
    // Only the code page matters here; the model is renewed now and then to drop its call journal.
    if (sim::callLog().size() > 100000) {
        sim::reset();
    }
    sim::setCodePage(page.number);

    const std::string text = input.ConsumeRandomLengthString(256);
    const std::string sub = fuzz::cutAtNul(input.ConsumeRandomLengthString(6));
    const KestCString s(text);
    const Walk walk(text, page);

    const std::vector<int> offsets = offsetsToTry(walk, input);
    checkMeasures(s, walk, offsets);
    checkSearch(s, walk, sub, offsets);
    checkBuffer(text, input);
    checkFormat(text, sub, input);
    fuzz::expectEqual(std::string(s), text, "the measures and searches leave the text as it was");
    return 0;
}
