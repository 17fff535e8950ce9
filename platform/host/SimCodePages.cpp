// Code pages of the host platform model: the system's ANSI code page, the conversions between it
// (or UTF-8) and UTF-16 that KERNEL32 makes (MultiByteToWideChar, WideCharToMultiByte), GetACP,
// GetCPInfo and IsDBCSLeadByte, and the conversions the model's ANSI functions make at their edge.
//
// The model keeps its texts in Unicode (UTF-8). An A function converts what it is given from the
// system's ANSI code page and what it gives back into it, as Windows does; a character the page
// lacks becomes '?'.
//
// The pages: 1250, 1251, 1252, 1253 (single-byte), 932 (Shift-JIS), 936 (GBK), 949 (UHC) and 950
// (Big5), each built once from glibc's iconv tables (CP1250.., CP932, CP936, CP949, CP950), which
// are Microsoft's (0x80 is the euro sign in 1252, 0x5C the backslash in 932), with Windows' own
// entries where glibc leaves a byte undefined: the holes of the single-byte pages between 0x80
// and 0x9F stand for U+0080..U+009F, 1253's 0xAA, 0xD2 and 0xFF for U+F8F9..U+F8FB, 932's single
// bytes 0x80 for U+0080 and 0xA0, 0xFD..0xFF for U+F8F0..U+F8F3.
//
// Best fit: none. Windows and Wine map some characters a page lacks to a look-alike when
// converting to it without WC_NO_BEST_FIT_CHARS ("ł" becomes "l" and "Ω" "O" under 1252, "€"
// "?" but full-width letters their ASCII twins under 932); the model makes every missing
// character '?' (the caller's default character), as WC_NO_BEST_FIT_CHARS asks. So a test that
// compares what an A call gives for text the page lacks uses characters that have no best fit on
// Windows either: Cyrillic or CJK under 1252 (not Greek: Windows writes "Σ" as "S"), CJK under
// 1251.
// Bytes that are no character of the page (a lead byte without its trail byte, an undefined
// pair) become '?' (U+003F) on the way to UTF-16, or fail with MB_ERR_INVALID_CHARS; invalid
// UTF-8 becomes U+FFFD, a lone surrogate on the way to UTF-8 U+FFFD too.
#include "SimModel.h"

#include <array>
#include <cstring>
#include <iconv.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

using namespace sim;
using namespace sim::detail;

namespace {

constexpr char32_t none = 0xFFFFFFFF;
constexpr long errorInvalidFlags = 1004;  // ERROR_INVALID_FLAGS

struct CodePage {
    unsigned number = 0;
    bool doubleByte = false;
    std::array<bool, 256> lead{};
    std::array<char32_t, 256> single{};                 // a single byte's character, or none
    std::vector<char32_t> pairs;                        // lead * 256 + trail, or none
    std::unordered_map<char32_t, std::uint16_t> bytes;  // a character's bytes: one, or lead << 8 | trail
};

const char* iconvName(unsigned number)
{
    switch (number) {
    case 1250:
        return "CP1250";
    case 1251:
        return "CP1251";
    case 1252:
        return "CP1252";
    case 1253:
        return "CP1253";
    case 932:
        return "CP932";
    case 936:
        return "CP936";
    case 949:
        return "CP949";
    case 950:
        return "CP950";
    default:
        return nullptr;
    }
}

// The one character iconv makes of exactly these bytes, or none.
char32_t decodeWith(iconv_t cd, const unsigned char* input, std::size_t length)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(input));
    std::size_t inLeft = length;
    char32_t out[2] = {};
    char* outPointer = reinterpret_cast<char*>(out);
    std::size_t outLeft = sizeof out;
    if (iconv(cd, &in, &inLeft, &outPointer, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0 ||
        outLeft != sizeof out - sizeof(char32_t)) {
        return none;
    }
    return out[0];
}

// The bytes iconv makes of one character: 0 when it has none.
std::uint16_t encodeWith(iconv_t cd, char32_t character, bool& found)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(&character);
    std::size_t inLeft = sizeof character;
    unsigned char out[4] = {};
    char* outPointer = reinterpret_cast<char*>(out);
    std::size_t outLeft = sizeof out;
    found = iconv(cd, &in, &inLeft, &outPointer, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
    const std::size_t written = sizeof out - outLeft;
    if (!found || written == 0 || written > 2) {
        found = false;
        return 0;
    }
    return written == 1 ? out[0] : static_cast<std::uint16_t>(out[0] << 8 | out[1]);
}

// The lead bytes of the double-byte pages: 932's two ranges, the others' one.
bool leadByteOf(unsigned number, unsigned char byte)
{
    switch (number) {
    case 932:
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
        return byte >= 0x81 && byte <= 0xFE;
    default:
        return false;
    }
}

std::unique_ptr<CodePage> build(unsigned number)
{
    auto page = std::make_unique<CodePage>();
    page->number = number;
    page->doubleByte = number == 932 || number == 936 || number == 949 || number == 950;
    for (int byte = 0; byte < 256; ++byte) {
        page->lead[byte] = leadByteOf(number, static_cast<unsigned char>(byte));
    }
    iconv_t decoder = iconv_open("UTF-32LE", iconvName(number));
    iconv_t encoder = iconv_open(iconvName(number), "UTF-32LE");
    if (decoder == reinterpret_cast<iconv_t>(-1) || encoder == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error(std::string("sim: iconv lacks ") + iconvName(number));
    }
    for (int byte = 0; byte < 256; ++byte) {
        const auto b = static_cast<unsigned char>(byte);
        page->single[byte] = page->lead[byte] ? none : byte < 0x80 ? char32_t(byte) : decodeWith(decoder, &b, 1);
    }
    // Windows' entries for the bytes glibc leaves undefined.
    if (!page->doubleByte) {
        for (int byte = 0x80; byte <= 0x9F; ++byte) {
            if (page->single[byte] == none) {
                page->single[byte] = char32_t(byte);
            }
        }
        if (number == 1253) {
            page->single[0xAA] = 0xF8F9;
            page->single[0xD2] = 0xF8FA;
            page->single[0xFF] = 0xF8FB;
        }
    } else if (number == 932) {
        page->single[0x80] = 0x80;
        page->single[0xA0] = 0xF8F0;
        page->single[0xFD] = 0xF8F1;
        page->single[0xFE] = 0xF8F2;
        page->single[0xFF] = 0xF8F3;
    }
    for (int byte = 0; byte < 256; ++byte) {
        if (page->single[byte] != none) {
            page->bytes.emplace(page->single[byte], static_cast<std::uint16_t>(byte));
        }
    }
    if (page->doubleByte) {
        page->pairs.assign(65536, none);
        std::vector<char32_t> found;
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            if (!page->lead[lead]) {
                continue;
            }
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                const unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
                const char32_t character = decodeWith(decoder, pair, 2);
                page->pairs[lead * 256 + trail] = character;
                if (character != none) {
                    found.push_back(character);
                }
            }
        }
        // The bytes for a character several pairs stand for are the ones Windows (and glibc's
        // table, which follows it) converts it to.
        for (char32_t character : found) {
            if (page->bytes.contains(character)) {
                continue;
            }
            bool ok = false;
            const std::uint16_t bytes = encodeWith(encoder, character, ok);
            if (ok && bytes > 0xFF && page->pairs[bytes] == character) {
                page->bytes.emplace(character, bytes);
            }
        }
    }
    iconv_close(decoder);
    iconv_close(encoder);
    return page;
}

const CodePage& codePage(unsigned number)
{
    static std::mutex lock;
    static std::map<unsigned, std::unique_ptr<CodePage>> pages;
    const std::lock_guard<std::mutex> guard(lock);
    auto& page = pages[number];
    if (!page) {
        page = build(number);
    }
    return *page;
}

// The page a call names: CP_ACP is the system's; 0 for none the model knows (CP_UTF8 is itself).
unsigned namedPage(UINT number)
{
    if (number == CP_ACP) {
        return model().codePage;
    }
    return number == CP_UTF8 || knownCodePage(number) ? number : 0;
}

void appendUtf16(std::u16string& out, char32_t c)
{
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The character a well-formed UTF-8 sequence at `at` stands for, moving past it; none (moving
// one byte on) for a byte that begins no well-formed sequence.
char32_t nextUtf8(std::string_view text, std::size_t& at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first < 0x80) {
        ++at;
        return first;
    }
    std::size_t length = first >= 0xF0 && first <= 0xF4 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 && first < 0xE0 ? 2 : 0;
    if (first > 0xF4) {
        length = 0;
    }
    if (length == 0 || at + length > text.size()) {
        ++at;
        return none;
    }
    char32_t c = first & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return none;
        }
        c = c << 6 | (byte(at + i) & 0x3F);
    }
    const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++at;
        return none;
    }
    at += length;
    return c;
}

// The character of a UTF-16 text at `at`, moving past it; none for a lone surrogate.
char32_t nextUtf16(std::u16string_view text, std::size_t& at)
{
    const char16_t unit = text[at++];
    if (unit >= 0xD800 && unit <= 0xDBFF && at < text.size() && text[at] >= 0xDC00 && text[at] <= 0xDFFF) {
        return 0x10000 + ((unit - 0xD800) << 10) + (text[at++] - 0xDC00);
    }
    return unit >= 0xD800 && unit <= 0xDFFF ? none : unit;
}

std::u16string pageToWide(std::string_view bytes, const CodePage& page, bool& invalid)
{
    std::u16string out;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[at]);
        char32_t c = page.single[b];
        std::size_t length = 1;
        if (page.lead[b]) {
            c = at + 1 < bytes.size() ? page.pairs[b * 256 + static_cast<unsigned char>(bytes[at + 1])] : none;
            length = c == none ? 1 : 2;
        }
        if (c == none) {
            invalid = true;
            c = '?';
        }
        appendUtf16(out, c);
        at += length;
    }
    return out;
}

std::string wideToPage(std::u16string_view text, const CodePage& page, std::string_view defaultChar, bool& usedDefault)
{
    std::string out;
    for (char16_t unit : text) {
        // Unit by unit, as Windows and Wine convert to a code page: a surrogate pair is two
        // characters the page lacks.
        const auto it = page.bytes.find(unit);
        if (it == page.bytes.end()) {
            usedDefault = true;
            out += defaultChar;
        } else if (it->second > 0xFF) {
            out += static_cast<char>(it->second >> 8);
            out += static_cast<char>(it->second & 0xFF);
        } else {
            out += static_cast<char>(it->second);
        }
    }
    return out;
}

// The size protocol of both conversions: the whole output when it fits, the needed size for an
// output size of 0, else 0 and ERROR_INSUFFICIENT_BUFFER (what fits written nonetheless).
template <class Char>
int deliver(const std::basic_string<Char>& out, Char* buffer, int size)
{
    const int needed = static_cast<int>(out.size());
    if (size == 0) {
        return needed;
    }
    if (needed > size) {
        std::memcpy(buffer, out.data(), static_cast<std::size_t>(size) * sizeof(Char));
        model().lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(buffer, out.data(), out.size() * sizeof(Char));
    return needed;
}

int failConversion(long error)
{
    model().lastError = static_cast<DWORD>(error);
    return 0;
}

}  // namespace

namespace sim::detail {

bool knownCodePage(unsigned number)
{
    return iconvName(number) != nullptr;
}

std::u16string utf8ToWide(std::string_view text, bool* invalid)
{
    std::u16string out;
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = nextUtf8(text, at);
        if (c == none) {
            if (invalid) {
                *invalid = true;
            }
            c = 0xFFFD;
        }
        appendUtf16(out, c);
    }
    return out;
}

std::string wideToUtf8(std::u16string_view text, bool* invalid)
{
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = nextUtf16(text, at);
        if (c == none) {
            if (invalid) {
                *invalid = true;
            }
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string fromAnsi(std::string_view bytes)
{
    bool invalid = false;
    return wideToUtf8(pageToWide(bytes, codePage(model().codePage), invalid));
}

std::string toAnsi(std::string_view utf8)
{
    bool usedDefault = false;
    return wideToPage(utf8ToWide(utf8), codePage(model().codePage), "?", usedDefault);
}

std::optional<std::string> textOf(LPCSTR text)
{
    return text ? std::optional<std::string>(fromAnsi(text)) : std::nullopt;
}

std::optional<std::string> textOf(LPCWSTR text)
{
    return text ? std::optional<std::string>(wideToUtf8(text)) : std::nullopt;
}

std::u32string foldedCase(std::string_view utf8)
{
    std::u32string folded;
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t c = nextUtf8(utf8, at);
        if (c == none) {
            c = 0xFFFD;
        } else if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB) ||
                   (c >= 0x410 && c <= 0x42F)) {
            c += 0x20;
        } else if (c >= 0x400 && c <= 0x40F) {
            c += 0x50;
        } else if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
            // Latin Extended-A pairs its letters: even upper, odd lower, but for 0x139-0x148 and
            // 0x179-0x17E, where odd is upper.
            const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
            if ((c % 2 == 1) == oddUpper) {
                c += 1;
            }
        }
        folded += c;
    }
    return folded;
}

bool isLeadByte(unsigned char byte)
{
    return leadByteOf(model().codePage, byte);
}

}  // namespace sim::detail

BOOL WINAPI IsDBCSLeadByte(BYTE testChar)
{
    return modelled<BOOL>("IsDBCSLeadByte", [&]() -> BOOL { return isLeadByte(testChar) ? TRUE : FALSE; });
}

UINT WINAPI GetACP()
{
    return modelled<UINT>("GetACP", [&]() -> UINT { return model().codePage; });
}

BOOL WINAPI GetCPInfo(UINT codePageNumber, LPCPINFO info)
{
    return modelled<BOOL>("GetCPInfo", [&]() -> BOOL {
        const unsigned number = namedPage(codePageNumber);
        if (number == 0 || !info) {
            return failConversion(ERROR_INVALID_PARAMETER);
        }
        std::memset(info, 0, sizeof *info);
        info->DefaultChar[0] = '?';
        if (number == CP_UTF8) {
            info->MaxCharSize = 4;
            return TRUE;
        }
        const CodePage& page = codePage(number);
        info->MaxCharSize = page.doubleByte ? 2 : 1;
        // The lead bytes as ranges, first and last byte of each, ending with a pair of zeros.
        int at = 0;
        for (int byte = 0; byte < 256 && at < MAX_LEADBYTES - 2; ++byte) {
            if (page.lead[byte] && (byte == 0 || !page.lead[byte - 1])) {
                int last = byte;
                while (last + 1 < 256 && page.lead[last + 1]) {
                    ++last;
                }
                info->LeadByte[at++] = static_cast<BYTE>(byte);
                info->LeadByte[at++] = static_cast<BYTE>(last);
            }
        }
        return TRUE;
    });
}

int WINAPI MultiByteToWideChar(UINT codePageNumber, DWORD flags, LPCSTR multiByte, int multiByteCount, LPWSTR wide,
                               int wideCount)
{
    return modelled<int>("MultiByteToWideChar", [&]() -> int {
        const unsigned number = namedPage(codePageNumber);
        if (number == 0 || !multiByte || multiByteCount == 0 || multiByteCount < -1 || wideCount < 0 ||
            (wideCount > 0 && !wide) || static_cast<const void*>(multiByte) == static_cast<const void*>(wide)) {
            return failConversion(ERROR_INVALID_PARAMETER);
        }
        constexpr DWORD precomposed = 0x1, composite = 0x2, glyphChars = 0x4;
        const DWORD allowed =
            number == CP_UTF8 ? MB_ERR_INVALID_CHARS : precomposed | composite | glyphChars | MB_ERR_INVALID_CHARS;
        if ((flags & ~allowed) != 0) {
            return failConversion(errorInvalidFlags);
        }
        const std::string_view bytes = multiByteCount == -1
                                           ? std::string_view(multiByte, std::strlen(multiByte) + 1)
                                           : std::string_view(multiByte, static_cast<std::size_t>(multiByteCount));
        bool invalid = false;
        const std::u16string out =
            number == CP_UTF8 ? utf8ToWide(bytes, &invalid) : pageToWide(bytes, codePage(number), invalid);
        if (invalid && (flags & MB_ERR_INVALID_CHARS)) {
            return failConversion(ERROR_NO_UNICODE_TRANSLATION);
        }
        return deliver(out, wide, wideCount);
    });
}

int WINAPI WideCharToMultiByte(UINT codePageNumber, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multiByte,
                               int multiByteCount, LPCSTR defaultChar, LPBOOL usedDefaultChar)
{
    return modelled<int>("WideCharToMultiByte", [&]() -> int {
        const unsigned number = namedPage(codePageNumber);
        if (number == 0 || !wide || wideCount == 0 || wideCount < -1 || multiByteCount < 0 ||
            (multiByteCount > 0 && !multiByte) ||
            static_cast<const void*>(multiByte) == static_cast<const void*>(wide)) {
            return failConversion(ERROR_INVALID_PARAMETER);
        }
        const std::u16string_view text = wideCount == -1
                                             ? std::u16string_view(wide, std::char_traits<char16_t>::length(wide) + 1)
                                             : std::u16string_view(wide, static_cast<std::size_t>(wideCount));
        std::string out;
        if (number == CP_UTF8) {
            // The UTF-8 conversion has no default character, and WC_ERR_INVALID_CHARS is its only flag.
            if (defaultChar || usedDefaultChar) {
                return failConversion(ERROR_INVALID_PARAMETER);
            }
            if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
                return failConversion(errorInvalidFlags);
            }
            bool invalid = false;
            out = wideToUtf8(text, &invalid);
            if (invalid && (flags & WC_ERR_INVALID_CHARS)) {
                return failConversion(ERROR_NO_UNICODE_TRANSLATION);
            }
        } else {
            constexpr DWORD discardNonSpacing = 0x10, separateChars = 0x20, defaultCharFlag = 0x40,
                            compositeCheck = 0x200;
            if ((flags &
                 ~(discardNonSpacing | separateChars | defaultCharFlag | compositeCheck | WC_NO_BEST_FIT_CHARS)) != 0) {
                return failConversion(errorInvalidFlags);  // WC_ERR_INVALID_CHARS is for UTF-8 only
            }
            const CodePage& page = codePage(number);
            std::string replacement = "?";
            if (defaultChar) {
                const auto first = static_cast<unsigned char>(defaultChar[0]);
                replacement.assign(defaultChar, page.lead[first] && defaultChar[1] != '\0' ? 2 : 1);
            }
            bool usedDefault = false;
            out = wideToPage(text, page, replacement, usedDefault);
            if (usedDefaultChar) {
                *usedDefaultChar = usedDefault ? TRUE : FALSE;
            }
        }
        return deliver(out, multiByte, multiByteCount);
    });
}
