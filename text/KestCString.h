// The library's text type: a std::string of 8-bit characters in the system's ANSI code page,
// which may be a double-byte code page, with members that count, search and cut by characters.
#pragma once

#include "QelCustInst/QelPlatform.h"

#include <cstdarg>
#include <cstddef>
#include <string>

// 0 for a null pointer, else the number of bytes before the terminating NUL.
int safeLength(const char* text);

// LoadStringA; when it loads nothing the buffer is left holding the empty text.
int loadStringResource(HINSTANCE module, UINT id, char* buffer, int size);

class KestCString : public std::string {
public:
    KestCString() = default;
    KestCString(const char* text);             // NOLINT(google-explicit-constructor): a text type
    KestCString(const std::string& text);      // NOLINT(google-explicit-constructor)
    KestCString(std::string&& text) noexcept;  // NOLINT(google-explicit-constructor)

    KestCString& operator=(const char* text);

    // Characters before the first NUL; a double-byte character counts once.
    int getLength() const;
    int byteToCharIndex(int byteOffset) const;
    int charToByteOffset(int charIndex) const;

    // Byte offset of the first match at or after startByte (never on a trail byte), or -1.
    int findBytes(const char* sub, int startByte) const;
    int findBytes(const char* sub) const;
    // Character index of the first match, or -1. A negative start searches from the beginning;
    // otherwise start is a byte offset.
    int find(const char* sub, int start = -1) const;

    // The first count characters.
    KestCString left(int count) const;

    // Fill-in-place: a writable array of at least minLength bytes plus a terminator; then
    // releaseBuffer sets the length (negative: up to the first NUL).
    char* getBuffer(int minLength);
    void releaseBuffer(int newLength = -1);

    // printf-style formatting; replaces the content, with no length limit. A text shorter than
    // formatStackSize bytes is formatted once, on the stack; a longer one is measured first.
    static constexpr int formatStackSize = 512;
    void formatV(const char* format, va_list arguments);
    // formatV's work for a caller that only passes the text on: hands it to `take` (its bytes up to
    // the first NUL produced, with their count) and keeps nothing. False, with nothing handed on,
    // for a null format or one that cannot be applied.
    using TextSink = void (*)(void* context, const char* text, std::size_t length);
    static bool formatVTo(const char* format, va_list arguments, TextSink take, void* context);
    void format(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

    // Loads a string resource; true when one was found.
    bool loadString(HINSTANCE module, UINT id);
};

KestCString operator+(const char* left, const KestCString& right);
