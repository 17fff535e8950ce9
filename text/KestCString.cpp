#include "text/KestCString.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// Byte counts of the library's texts fit an int; anything larger is clamped rather than wrapped.
int toInt(std::size_t count)
{
    return count > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
}

bool isLeadByte(char c)
{
    return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE;
}

// Bytes taken by the character that starts at `pos`: two after a lead byte, else one, never
// reaching past `length`.
std::size_t charWidth(const char* text, std::size_t pos, std::size_t length)
{
    return isLeadByte(text[pos]) && pos + 1 < length ? 2 : 1;
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
    const char* text = c_str();
    int count = 0;
    for (std::size_t pos = 0; text[pos] != '\0';) {
        if (isLeadByte(text[pos])) {
            if (text[pos + 1] == '\0') {
                break;  // a lead byte without its trail byte is no character
            }
            pos += 2;
        } else {
            ++pos;
        }
        if (count < INT_MAX) {
            ++count;
        }
    }
    return count;
}

int KestCString::byteToCharIndex(int byteOffset) const
{
    if (byteOffset <= 0) {
        return byteOffset;
    }
    const int byteLength = toInt(size());
    if (byteOffset >= byteLength) {
        return byteLength;
    }
    // Count the characters that end at or before the offset: an offset inside a double-byte
    // character gives the index of that character.
    const auto limit = static_cast<std::size_t>(byteOffset);
    int count = 0;
    for (std::size_t pos = 0; pos < limit;) {
        pos += charWidth(data(), pos, size());
        if (pos <= limit) {
            ++count;
        }
    }
    return count;
}

int KestCString::charToByteOffset(int charIndex) const
{
    if (charIndex <= 0) {
        return charIndex;
    }
    if (charIndex >= getLength()) {
        return toInt(size());
    }
    std::size_t pos = 0;
    for (int step = 0; step < charIndex && pos < size(); ++step) {
        pos += charWidth(data(), pos, size());
    }
    return toInt(pos);
}

int KestCString::findBytes(const char* sub, int startByte) const
{
    const std::size_t length = size();
    if (startByte > 0 && static_cast<std::size_t>(startByte) > length) {
        return -1;
    }
    // A negative start searches from the beginning, as find does.
    const std::size_t start = startByte > 0 ? static_cast<std::size_t>(startByte) : 0;
    const std::size_t subLength = sub == nullptr ? 0 : std::strlen(sub);
    if (subLength == 0) {
        return toInt(start);  // the empty text matches where the search starts
    }

    // Candidates are the character boundaries of the whole text at or after the start, so that a
    // start on a trail byte cannot turn that trail byte into the first byte of a match.
    std::size_t pos = 0;
    while (pos < start) {
        pos += charWidth(data(), pos, length);
    }
    for (; pos < length && length - pos >= subLength; pos += charWidth(data(), pos, length)) {
        if (std::memcmp(data() + pos, sub, subLength) == 0) {
            return toInt(pos);
        }
    }
    return -1;
}

int KestCString::findBytes(const char* sub) const
{
    return findBytes(sub, 0);
}

int KestCString::find(const char* sub, int start) const
{
    const int byteOffset = start < 0 ? findBytes(sub) : findBytes(sub, start);
    return byteToCharIndex(byteOffset);
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

void KestCString::formatV(const char* format, va_list arguments)
{
    if (format == nullptr) {
        clear();
        return;
    }

    // Measure on a copy: the list itself is still needed for writing.
    va_list measureArguments;
    va_copy(measureArguments, arguments);
    const int measured = std::vsnprintf(nullptr, 0, format, measureArguments);
    va_end(measureArguments);
    if (measured < 0) {
        clear();  // the format could not be applied; no partial text is kept
        return;
    }

    // Written into a string of its own, so that arguments pointing into this string's text
    // (s.format("%s.mpp", s.c_str())) are read intact while the new text is written.
    const std::size_t room = static_cast<std::size_t>(measured) + 1;
    KestCString formatted;
    formatted.resize(room, '\0');
    std::vsnprintf(formatted.data(), room, format, arguments);
    formatted.releaseBuffer(-1);
    swap(formatted);
}

void KestCString::format(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    try {
        formatV(format, arguments);
    } catch (...) {
        va_end(arguments);
        throw;
    }
    va_end(arguments);
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
