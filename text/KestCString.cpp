#include "text/KestCString.h"

#include "text/DeferredOutcome.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

// Byte counts of the library's texts fit an int; anything larger is clamped rather than wrapped.
int toInt(std::size_t count)
{
    return count > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
}

// The answers of IsDBCSLeadByte within one walk of a text, by byte value: -1 not yet asked, else
// 0 or 1. Each byte value is asked at most once per walk; the next walk asks again, as the code
// page is the system's to change.
using LeadBytes = std::array<signed char, 256>;

LeadBytes unasked()
{
    LeadBytes answers;
    answers.fill(-1);
    return answers;
}

[[gnu::noinline]] bool ask(LeadBytes& answers, unsigned char value)
{
    answers[value] = IsDBCSLeadByte(value) != FALSE ? 1 : 0;
    return answers[value] != 0;
}

inline bool isLeadByte(LeadBytes& answers, char c)
{
    const auto value = static_cast<unsigned char>(c);
    const signed char known = answers[value];
    return known < 0 ? ask(answers, value) : known != 0;
}

// True when the ANSI code page has no lead bytes (GetCPInfo's MaxCharSize 1), so that every byte is
// a character of its own. GetCPInfo's answer is kept with the number of the code page it was about:
// GetACP is cheap to ask each time, and a code page changed under the process is asked about anew.
bool isSingleByteCodePage()
{
    static std::atomic<std::uint32_t> known{0};  // the code page's number << 1 | single-byte; 0: none yet
    const UINT codePage = GetACP();
    const std::uint32_t kept = known.load(std::memory_order_relaxed);
    if (kept != 0 && kept >> 1 == codePage) {
        return (kept & 1u) != 0;
    }
    CPINFO info{};
    if (GetCPInfo(codePage, &info) == FALSE) {
        return false;  // the walk holds for any code page
    }
    const bool singleByte = info.MaxCharSize == 1;
    known.store(static_cast<std::uint32_t>(codePage) << 1 | (singleByte ? 1u : 0u), std::memory_order_relaxed);
    return singleByte;
}

// Bytes taken by the character that starts at `pos`: two after a lead byte, else one, never
// reaching past `length`.
inline std::size_t charWidth(LeadBytes& answers, const char* text, std::size_t pos, std::size_t length)
{
    return isLeadByte(answers, text[pos]) && pos + 1 < length ? 2 : 1;
}

// Long walks step over ASCII a word at a time when no ASCII value is a lead byte, which costs
// asking about the 128 ASCII values once: worth it from this many bytes on.
constexpr std::size_t wordWalkFrom = 512;
constexpr std::uint64_t highBits = 0x8080808080808080u;
constexpr std::uint64_t lowBits = 0x0101010101010101u;

bool asciiIsSingleByte(LeadBytes& answers)
{
    for (int value = 0; value < 0x80; ++value) {
        if (isLeadByte(answers, static_cast<char>(value))) {
            return false;
        }
    }
    return true;
}

std::uint64_t wordAt(const char* text)
{
    std::uint64_t word = 0;
    std::memcpy(&word, text, sizeof word);
    return word;
}

// Eight bytes below 0x80.
bool isAsciiWord(std::uint64_t word)
{
    return (word & highBits) == 0;
}

// Eight bytes below 0x80 and none a NUL.
bool isAsciiWordWithoutNul(std::uint64_t word)
{
    return ((word | (word - lowBits)) & highBits) == 0;
}

// byteToCharIndex on the first `length` bytes of `text`; on a single-byte code page every byte
// before the offset is a character.
int charIndexOf(LeadBytes& answers, bool singleByte, const char* text, std::size_t length, int byteOffset)
{
    if (byteOffset <= 0) {
        return byteOffset;
    }
    if (static_cast<std::size_t>(byteOffset) >= length) {
        return toInt(length);
    }
    if (singleByte) {
        return byteOffset;
    }
    // Count the characters that end at or before the offset: an offset inside a double-byte
    // character gives the index of that character.
    const auto limit = static_cast<std::size_t>(byteOffset);
    const bool byWords = limit >= wordWalkFrom && asciiIsSingleByte(answers);
    std::size_t pos = 0;
    int count = 0;
    while (pos < limit) {
        if (byWords && limit - pos >= sizeof(std::uint64_t) && isAsciiWord(wordAt(text + pos))) {
            pos += sizeof(std::uint64_t);
            count += static_cast<int>(sizeof(std::uint64_t));
            continue;
        }
        pos += charWidth(answers, text, pos, length);
        ++count;
    }
    return pos > limit ? count - 1 : count;
}

// Whether `pos` starts a character, given `boundary` <= pos where one starts. A byte that is no
// lead byte ends a character (a single-byte one, or a double-byte one as its trail byte), so
// only the run of lead-byte values right before `pos` matters: the pairs in it are characters,
// and an odd one out makes `pos` its trail byte.
bool startsCharacter(LeadBytes& answers, const char* text, std::size_t boundary, std::size_t pos)
{
    std::size_t run = 0;
    while (pos - run > boundary && isLeadByte(answers, text[pos - run - 1])) {
        ++run;
    }
    return run % 2 == 0;
}

// findBytes on the first `length` bytes of `text`: the bytes are searched, and each match is
// taken only when it starts a character, which on a single-byte code page every byte does.
int findBytesIn(LeadBytes& answers, bool singleByte, const char* text, std::size_t length, const char* sub,
                int startByte)
{
    if (startByte > 0 && static_cast<std::size_t>(startByte) > length) {
        return -1;
    }
    // A negative start searches from the beginning, as find does.
    const std::size_t start = startByte > 0 ? static_cast<std::size_t>(startByte) : 0;
    const std::string_view wanted(sub == nullptr ? "" : sub);
    if (wanted.empty()) {
        return toInt(start);  // the empty text matches where the search starts
    }

    // Character boundaries count from the start of the whole text, so that a start on a trail
    // byte cannot turn that trail byte into the first byte of a match. Each byte is looked at
    // by startsCharacter at most once: after a match on a trail byte, the next character starts
    // right behind it.
    const std::string_view whole(text, length);
    std::size_t boundary = 0;
    for (std::size_t from = start;;) {
        const std::size_t match = whole.find(wanted, from);
        if (match == std::string_view::npos) {
            return -1;
        }
        if (singleByte || startsCharacter(answers, text, boundary, match)) {
            return toInt(match);
        }
        boundary = match + 1;
        from = match + 1;
    }
}

// The first of formatting's two passes, into `local`: the formatted length (which may not have fit),
// or negative when the format cannot be applied. It works on a copy of the list: a text too long
// for `local` needs the list again.
int formatOnStack(char (&local)[KestCString::formatStackSize], const char* format, va_list arguments)
{
    va_list firstArguments;
    va_copy(firstArguments, arguments);
    const int measured = std::vsnprintf(local, sizeof local, format, firstArguments);
    va_end(firstArguments);
    return measured;
}

// The second pass, for a text of `measured` bytes, into a string of its own.
KestCString formatLong(const char* format, va_list arguments, int measured)
{
    const std::size_t room = static_cast<std::size_t>(measured) + 1;
    KestCString formatted;
    formatted.resize(room, '\0');
    std::vsnprintf(formatted.data(), room, format, arguments);
    formatted.releaseBuffer(-1);  // cut at the first NUL the formatting produced
    return formatted;
}

// printf-style formatting in two passes. Most texts fit the stack buffer and are formatted in the
// first pass, which also measures them: `fits` gets their bytes up to the first NUL the formatting
// produced. A longer one is formatted again into a string of its own, handed to `isLong`. False,
// with nothing handed on, for a null format or one that cannot be applied.
template <class Fits, class IsLong>
bool formatTwoPass(const char* format, va_list arguments, Fits&& fits, IsLong&& isLong)
{
    if (format == nullptr) {
        return false;
    }
    char local[KestCString::formatStackSize];
    const int measured = formatOnStack(local, format, arguments);
    if (measured < 0) {
        return false;
    }
    if (measured < KestCString::formatStackSize) {
        fits(local, std::strlen(local));
    } else {
        KestCString formatted = formatLong(format, arguments, measured);
        isLong(formatted);
    }
    return true;
}

}  // namespace

int safeLength(const char* text)
{
    return text == nullptr ? 0 : toInt(std::strlen(text));
}

int loadStringResource(HINSTANCE module, UINT id, char* buffer, int size)
{
    const int loaded = LoadStringA(module, id, buffer, size);
    if (loaded == 0 && buffer != nullptr && size > 0) {
        buffer[0] = '\0';
    }
    return loaded;
}

KestCString::KestCString(const char* text)
{
    if (text != nullptr) {
        assign(text);
    }
}

KestCString::KestCString(const std::string& text) : std::string(text) {}

KestCString::KestCString(std::string&& text) noexcept : std::string(std::move(text)) {}

KestCString& KestCString::operator=(const char* text)
{
    if (text == nullptr) {
        clear();
    } else {
        assign(text);
    }
    return *this;
}

int KestCString::getLength() const
{
    if (isSingleByteCodePage()) {
        return toInt(std::strlen(c_str()));
    }
    LeadBytes answers = unasked();
    const char* text = c_str();
    const std::size_t length = size();
    const bool byWords = length >= wordWalkFrom && asciiIsSingleByte(answers);
    std::size_t count = 0;
    for (std::size_t pos = 0; text[pos] != '\0';) {
        if (byWords && length - pos >= sizeof(std::uint64_t) && isAsciiWordWithoutNul(wordAt(text + pos))) {
            pos += sizeof(std::uint64_t);
            count += sizeof(std::uint64_t);
            continue;
        }
        if (isLeadByte(answers, text[pos])) {
            if (text[pos + 1] == '\0') {
                break;  // a lead byte without its trail byte is no character
            }
            pos += 2;
        } else {
            ++pos;
        }
        ++count;
    }
    return toInt(count);
}

int KestCString::byteToCharIndex(int byteOffset) const
{
    LeadBytes answers = unasked();
    return charIndexOf(answers, isSingleByteCodePage(), data(), size(), byteOffset);
}

int KestCString::charToByteOffset(int charIndex) const
{
    if (charIndex <= 0) {
        return charIndex;
    }
    if (charIndex >= getLength()) {
        return toInt(size());
    }
    LeadBytes answers = unasked();
    std::size_t pos = 0;
    for (int step = 0; step < charIndex && pos < size(); ++step) {
        pos += charWidth(answers, data(), pos, size());
    }
    return toInt(pos);
}

int KestCString::findBytes(const char* sub, int startByte) const
{
    LeadBytes answers = unasked();
    return findBytesIn(answers, isSingleByteCodePage(), data(), size(), sub, startByte);
}

int KestCString::findBytes(const char* sub) const
{
    return findBytes(sub, 0);
}

int KestCString::find(const char* sub, int start) const
{
    // One walk's answers, and one look at the code page, serve both the search and the count.
    LeadBytes answers = unasked();
    const bool singleByte = isSingleByteCodePage();
    const int byteOffset = findBytesIn(answers, singleByte, data(), size(), sub, start < 0 ? 0 : start);
    return charIndexOf(answers, singleByte, data(), size(), byteOffset);
}

KestCString KestCString::left(int count) const
{
    if (count < 0) {
        count = 0;
    }
    if (static_cast<std::size_t>(count) >= size()) {
        return *this;
    }
    int prefix = 0;
    if (count > 0) {
        prefix = count >= getLength() ? toInt(size()) : charToByteOffset(count);
    }
    return KestCString(substr(0, static_cast<std::size_t>(prefix)));
}

char* KestCString::getBuffer(int minLength)
{
    if (minLength >= 0 && static_cast<std::size_t>(minLength) > size()) {
        resize(static_cast<std::size_t>(minLength), '\0');
    }
    return data();
}

void KestCString::releaseBuffer(int newLength)
{
    // The array always holds a terminator at size(), so strlen stays inside it.
    const std::size_t length = newLength < 0 ? std::strlen(c_str()) : static_cast<std::size_t>(newLength);
    resize(length, '\0');
}

bool KestCString::formatVTo(const char* format, va_list arguments, TextSink take, void* context)
{
    return formatTwoPass(
        format, arguments, [&](const char* text, std::size_t length) { take(context, text, length); },
        [&](KestCString& formatted) { take(context, formatted.data(), formatted.size()); });
}

void KestCString::formatV(const char* format, va_list arguments)
{
    // The text is complete before this string changes, so arguments may point into its own text
    // (s.format("%s.mpp", s.c_str())).
    const bool formatted = formatTwoPass(
        format, arguments, [&](const char* text, std::size_t length) { assign(text, length); },
        [&](KestCString& longText) { swap(longText); });
    if (!formatted) {
        clear();  // no partial text is kept
    }
}

void KestCString::format(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    auto outcome = DeferredOutcome<void>::of([&] { formatV(format, arguments); });
    va_end(arguments);  // in this very function, as va_start, whichever way the call went
    outcome.get();
}

bool KestCString::loadString(HINSTANCE module, UINT id)
{
    // Most resources fit a small local buffer. A result that comes within two characters of the
    // size given may have been cut, so those go through the growing loop below.
    constexpr int firstSize = 256;
    char local[2 * firstSize] = {};
    int loaded = std::max(loadStringResource(module, id, local, firstSize), 0);
    if (loaded > 0 && firstSize - loaded > 2) {
        const void* end = std::memchr(local, '\0', sizeof local);
        assign(local, end == nullptr ? sizeof local : static_cast<std::size_t>(static_cast<const char*>(end) - local));
        return true;
    }

    // The buffer has size bytes; LoadStringA is told half of that and the buffer grows until
    // the text comes back with room to spare.
    int size = 2 * firstSize;
    do {
        size += 256;
        char* buffer = getBuffer(size - 1);
        loaded = std::max(loadStringResource(module, id, buffer, size / 2), 0);
    } while (size / 2 - loaded <= 2 && size <= INT_MAX - 256);
    releaseBuffer(-1);
    return loaded > 0;
}

KestCString operator+(const char* left, const KestCString& right)
{
    KestCString result(left);
    result.append(right);
    return result;
}
