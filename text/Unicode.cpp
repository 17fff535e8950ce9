#include "text/Unicode.h"

#include "errors/Raise.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

using namespace persisting;

namespace qel {
namespace {

constexpr const char* fileName = "Unicode";
constexpr char32_t replacementCharacter = 0xFFFD;

// The character that starts at text[at] and how many bytes it takes; 0 bytes for a sequence that
// is not well-formed UTF-8.
struct Decoded {
    char32_t character;
    std::size_t length;
};

Decoded decodeAt(std::string_view text, std::size_t at) noexcept
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t length = 0;
    char32_t character = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, character = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, character = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, character = lead & 0x07, least = 0x10000;
    } else {
        return {0, 0};
    }
    if (text.size() - at < length) {
        return {0, 0};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return {0, 0};
        }
        character = (character << 6) | (byte(i) & 0x3F);
    }
    if (character < least || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF)) {
        return {0, 0};
    }
    return {character, length};
}

// Appends the character's UTF-16 code units through `put`.
template <class Put>
void putUtf16(char32_t character, Put&& put)
{
    if (character < 0x10000) {
        put(static_cast<WCHAR>(character));
    } else {
        character -= 0x10000;
        put(static_cast<WCHAR>(0xD800 + (character >> 10)));
        put(static_cast<WCHAR>(0xDC00 + (character & 0x3FF)));
    }
}

void appendUtf8(std::string& out, char32_t character)
{
    if (character < 0x80) {
        out += static_cast<char>(character);
    } else if (character < 0x800) {
        out += static_cast<char>(0xC0 | (character >> 6));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        out += static_cast<char>(0xE0 | (character >> 12));
        out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (character >> 18));
        out += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (character & 0x3F));
    }
}

// The system's conversion of a text in one go; the counts it takes are ints.
int countOf(const PersistingRule& rule, std::size_t size)
{
    if (size > static_cast<std::size_t>(INT_MAX)) {
        raiseInvalidParameter(rule, "The text is too long to convert");
    }
    return static_cast<int>(size);
}

}  // namespace

bool isUtf8(std::string_view text) noexcept
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = decodeAt(text, at).length;
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

WideText toWide(std::string_view utf8)
{
    static constexpr PersistingRule rule("qel::toWide", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        WideText wide;
        wide.reserve(utf8.size());
        for (std::size_t at = 0; at < utf8.size();) {
            const Decoded decoded = decodeAt(utf8, at);
            if (decoded.length == 0) {
                raiseInvalidParameter(rule,
                                      KestCString("The text is not UTF-8 from byte " + std::to_string(at)).c_str());
            }
            putUtf16(decoded.character, [&](WCHAR unit) { wide += unit; });
            at += decoded.length;
        }
        return wide;
    });
}

std::string fromWide(WideView wide)
{
    std::string utf8;
    utf8.reserve(wide.size());
    for (std::size_t at = 0; at < wide.size(); ++at) {
        const char32_t unit = wide[at];
        if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < wide.size() && wide[at + 1] >= 0xDC00 &&
            wide[at + 1] <= 0xDFFF) {
            appendUtf8(utf8, 0x10000 + ((unit - 0xD800) << 10) + (wide[at + 1] - 0xDC00));
            ++at;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(utf8, replacementCharacter);
        } else {
            appendUtf8(utf8, unit);
        }
    }
    return utf8;
}

WideText ansiToWide(std::string_view ansi)
{
    static constexpr PersistingRule rule("qel::ansiToWide", fileName, none, none, none, noCatchAll);
    WideText wide;
    if (ansi.empty()) {
        return wide;
    }
    const int count = countOf(rule, ansi.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), count, nullptr, 0);
    if (length > 0) {
        wide.resize(static_cast<std::size_t>(length));
        if (MultiByteToWideChar(CP_ACP, 0, ansi.data(), count, wide.data(), length) == length) {
            return wide;
        }
    }
    raiseWinError(rule, failedCall("MultiByteToWideChar"));
}

std::string fromAnsi(std::string_view ansi)
{
    return fromWide(ansiToWide(ansi));
}

KestCString toAnsi(std::string_view utf8)
{
    static constexpr PersistingRule rule("qel::toAnsi", fileName, none, none, none, noCatchAll);
    KestCString ansi;
    const WideText wide = toWide(utf8);
    if (wide.empty()) {
        return ansi;
    }
    const int count = countOf(rule, wide.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    if (length > 0) {
        ansi.resize(static_cast<std::size_t>(length));
        if (WideCharToMultiByte(CP_ACP, 0, wide.data(), count, ansi.data(), length, nullptr, nullptr) == length) {
            return ansi;
        }
    }
    raiseWinError(rule, failedCall("WideCharToMultiByte"));
}

KestCString wideToAnsi(WideView wide)
{
    KestCString ansi;
    const int count = static_cast<int>(std::min<std::size_t>(wide.size(), INT_MAX));
    const int length = count > 0 ? WideCharToMultiByte(CP_ACP, 0, wide.data(), count, nullptr, 0, nullptr, nullptr) : 0;
    if (length > 0) {
        ansi.resize(static_cast<std::size_t>(length));
        const int converted = WideCharToMultiByte(CP_ACP, 0, wide.data(), count, ansi.data(), length, nullptr, nullptr);
        ansi.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
    }
    return ansi;
}

WideText textToWide(std::string_view text)
{
    // Line by line: a report's history joins entries of either kind.
    WideText wide;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size() - 1) + 1;
        const std::string_view line = text.substr(0, end);
        wide += isUtf8(line) ? toWide(line) : ansiToWide(line);
        text.remove_prefix(end);
    }
    return wide;
}

void textToWide(std::string_view text, WCHAR* out, std::size_t size) noexcept
{
    std::size_t written = 0;
    if (isUtf8(text)) {
        for (std::size_t at = 0; at < text.size();) {
            const Decoded decoded = decodeAt(text, at);
            const std::size_t units = decoded.character < 0x10000 ? 1 : 2;
            if (written + units >= size) {
                break;
            }
            putUtf16(decoded.character, [&](WCHAR unit) { out[written++] = unit; });
            at += decoded.length;
        }
    } else if (size > 1) {
        const int count = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
        const int capacity = static_cast<int>(std::min<std::size_t>(size - 1, INT_MAX));
        const int converted = MultiByteToWideChar(CP_ACP, 0, text.data(), count, out, capacity);
        written = converted > 0 ? static_cast<std::size_t>(converted) : 0;
    }
    out[written] = 0;
}

}  // namespace qel
