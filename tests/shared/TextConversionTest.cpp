// Code pages and the wide calls: KERNEL32's conversions between the code pages and UTF-16, and
// the installer's W calls beside their A twins, which convert through the system's ANSI code page.
// The A cases expect code page 1252, the model's default and Wine's in its default locale. And the
// build's C library printing a checked format written with Windows' lengths.
#include "backend/SharedTest.h"
#include "text/KestCString.h"
#include "text/LiteralFormat.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Wide = std::basic_string<WCHAR>;

// A UTF-16 literal as the platform's wide text (WCHAR is wchar_t on Windows, char16_t on the host).
Wide wide(const char16_t* text)
{
    Wide out;
    for (; *text; ++text) {
        out += static_cast<WCHAR>(*text);
    }
    return out;
}

std::string toPage(UINT page, const Wide& text, DWORD flags = 0)
{
    char out[64] = {};
    const int length = WideCharToMultiByte(page, flags, text.c_str(), static_cast<int>(text.size()), out, sizeof out,
                                           nullptr, nullptr);
    return std::string(out, static_cast<std::size_t>(length));
}

Wide fromPage(UINT page, const std::string& bytes, DWORD flags = 0)
{
    WCHAR out[64] = {};
    const int length = MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), out, 64);
    return Wide(out, static_cast<std::size_t>(length));
}

struct Text {
    const char* what;
    const char16_t* text;
    const char* ansi1252;  // what the A calls give under 1252; nullptr where Windows has a best fit
};

const Text texts[] = {
    {"Latin-1", u"Caf\u00e9", "Caf\xe9"},
    {"Cyrillic", u"\u041f\u0440\u0438\u0432\u0435\u0442", "??????"},
    {"Greek (best fit under 1252: not compared)", u"\u03a9\u03bc\u03ad\u03b3\u03b1", nullptr},
    {"CJK", u"\u65e5\u672c\u8a9e", "???"},
    {"the euro sign", u"5 \u20ac", "5 \x80"},
};

// What the build's C library prints for a checked format, given as qel::log gives it.
template <class... Args>
std::string printed(qel::LiteralFormat<Args...> format, const Args&... args)
{
    std::string rewritten;
    KestCString text;
    text.format(format.forC(rewritten), qel::passedToFormat(args)...);
    return text.c_str();
}

}  // namespace

class TextConversionTest : public SharedTest {};

TEST_F(TextConversionTest, WindowsLengthsPrintWithTheirMeaningOnEveryBuild)
{
    const DWORD big = 4000000000u;
    const std::int64_t negative = -5;
    const std::uint64_t wide = std::uint64_t{1} << 40;
    const std::pair<std::string, std::string> cases[] = {
        {printed("%lu|%ld|%lx", big, std::int32_t{-7}, DWORD{255}), "4000000000|-7|ff"},
        {printed("%I64d|%I64u|%llx|%lld", negative, wide, wide - 1, negative), "-5|1099511627776|ffffffffff|-5"},
        {printed("[%5lu|%-4ld|%*lu]", DWORD{42}, std::int32_t{-1}, 3, DWORD{9}), "[   42|-1  |  9]"},
        {printed("%d%%%lu %s %zu", 1, DWORD{2}, "I64", std::size_t{3}), "1%2 I64 3"},
    };
    for (const auto& [got, expected] : cases) {
        EXPECT_EQ(got, expected);
    }
}

TEST_F(TextConversionTest, EachCodePageConvertsBothWays)
{
    struct Row {
        UINT page;
        const char16_t* text;
        const char* bytes;
    };
    const Row rows[] = {
        {1252, u"Caf\u00e9 \u20ac", "Caf\xe9 \x80"},
        {1250, u"\u0141\u00f3d\u017a", "\xa3\xf3\x64\x9f"},
        {1251, u"\u041f\u0440\u0438\u0432\u0435\u0442", "\xcf\xf0\xe8\xe2\xe5\xf2"},
        {1253, u"\u03a9\u03bc\u03ad\u03b3\u03b1", "\xd9\xec\xdd\xe3\xe1"},
        {932, u"\u65e5\u672c\u8a9e\\", "\x93\xfa\x96\x7b\x8c\xea\\"},
        {936, u"\u4e2d\u6587", "\xd6\xd0\xce\xc4"},
        {949, u"\ud55c\uad6d", "\xc7\xd1\xb1\xb9"},
        {950, u"\u4e2d\u6587", "\xa4\xa4\xa4\xe5"},
        {CP_UTF8, u"\u00e9\u20ac\U0001F600", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(toPage(row.page, wide(row.text)), row.bytes) << row.page;
        EXPECT_EQ(fromPage(row.page, row.bytes), wide(row.text)) << row.page;
    }
    // No best fit for these: a character the page lacks is '?', and reported.
    BOOL usedDefault = FALSE;
    char out[16] = {};
    const Wide cyrillic = wide(u"\u041f\u0438");
    EXPECT_EQ(WideCharToMultiByte(1252, 0, cyrillic.c_str(), 2, out, sizeof out, nullptr, &usedDefault), 2);
    EXPECT_EQ(std::string(out, 2), "??");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, cyrillic.c_str(), 2, out, sizeof out, "*", &usedDefault), 2);
    EXPECT_EQ(std::string(out, 2), "**");
    EXPECT_EQ(toPage(1251, wide(u"\u65e5")), "?");
}

TEST_F(TextConversionTest, TheSizeProtocolAndInvalidInput)
{
    const Wide text = wide(u"Caf\u00e9");
    char bytes[8] = {};
    // -1: the terminator is converted and counted too; size 0 asks for the size.
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), 6);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr), 6);
    EXPECT_EQ(std::string(bytes), "Caf\xc3\xa9");
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, 5, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    WCHAR units[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, units, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    // Invalid UTF-8: U+FFFD, or a failure when the caller asks for one.
    EXPECT_EQ(fromPage(CP_UTF8, "a\xc3"), wide(u"a\ufffd"));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xc3", 2, units, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    const Wide lone = wide(u"a") + static_cast<WCHAR>(0xD800);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.c_str(), 2, bytes, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // A lead byte without its trail byte is no character of 932.
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x82", 2, units, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

    // UTF-8 has no default character.
    BOOL usedDefault = FALSE;
    const auto refusal = [](int result) { return result == 0 ? GetLastError() : 0; };
    expectDocumented(refusal(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, 8, nullptr, &usedDefault)),
                     static_cast<DWORD>(ERROR_INVALID_PARAMETER), documented::utf8ConversionTakesNoDefaultCharacter);
    expectDocumented(refusal(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, 8, "?", nullptr)),
                     static_cast<DWORD>(ERROR_INVALID_PARAMETER), documented::utf8ConversionTakesNoDefaultCharacter);
}

TEST_F(TextConversionTest, CodePageInformation)
{
    CPINFO info{};
    ASSERT_TRUE(GetCPInfo(932, &info));
    EXPECT_EQ(info.MaxCharSize, 2u);
    EXPECT_EQ(info.DefaultChar[0], '?');
    EXPECT_EQ(std::vector<int>(info.LeadByte, info.LeadByte + 6), (std::vector<int>{0x81, 0x9F, 0xE0, 0xFC, 0, 0}));
    ASSERT_TRUE(GetCPInfo(950, &info));
    EXPECT_EQ(std::vector<int>(info.LeadByte, info.LeadByte + 4), (std::vector<int>{0x81, 0xFE, 0, 0}));
    ASSERT_TRUE(GetCPInfo(1251, &info));
    EXPECT_EQ(info.MaxCharSize, 1u);
    EXPECT_EQ(info.LeadByte[0], 0);
    CPINFO system{};
    ASSERT_TRUE(GetCPInfo(CP_ACP, &system));
    ASSERT_TRUE(GetCPInfo(GetACP(), &info));
    EXPECT_EQ(system.MaxCharSize, info.MaxCharSize);
    EXPECT_FALSE(GetCPInfo(12345, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(TextConversionTest, PropertiesKeepUnicodeAndTheACallsGiveTheCodePage)
{
    // The A cases are written for code page 1252; the W ones hold under any (the shared cases run
    // under a Russian and a Japanese code page too).
    const bool page1252 = GetACP() == 1252;
    const MSIHANDLE session = Backend::session();
    const Wide name = wide(u"QEL_TEXT");
    for (const Text& text : texts) {
        const Wide value = wide(text.text);
        ASSERT_EQ(MsiSetPropertyW(session, name.c_str(), value.c_str()), static_cast<UINT>(ERROR_SUCCESS)) << text.what;
        WCHAR read[32] = {};
        DWORD size = 32;
        EXPECT_EQ(MsiGetPropertyW(session, name.c_str(), read, &size), static_cast<UINT>(ERROR_SUCCESS)) << text.what;
        EXPECT_EQ(Wide(read, size), value) << text.what;
        // The length query counts WCHARs.
        size = 0;
        EXPECT_EQ(MsiGetPropertyW(session, name.c_str(), read, &size), static_cast<UINT>(ERROR_MORE_DATA));
        EXPECT_EQ(size, value.size()) << text.what;
        if (text.ansi1252 && page1252) {
            char ansi[32] = {};
            size = sizeof ansi;
            EXPECT_EQ(MsiGetPropertyA(session, "QEL_TEXT", ansi, &size), static_cast<UINT>(ERROR_SUCCESS));
            EXPECT_EQ(std::string(ansi, size), text.ansi1252) << text.what;
        }
    }
    if (!page1252) {
        return;
    }
    // What the A setter gives is read back whole by the W getter.
    ASSERT_EQ(MsiSetPropertyA(session, "QEL_TEXT", "na\xefve"), static_cast<UINT>(ERROR_SUCCESS));
    WCHAR read[32] = {};
    DWORD size = 32;
    EXPECT_EQ(MsiGetPropertyW(session, name.c_str(), read, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(Wide(read, size), wide(u"na\u00efve"));
}

TEST_F(TextConversionTest, RecordsKeepUnicodeToo)
{
    const MSIHANDLE record = MsiCreateRecord(2);
    const Wide cyrillic = wide(u"\u041f\u0440\u0438\u0432\u0435\u0442 [2]");
    ASSERT_EQ(MsiRecordSetStringW(record, 0, cyrillic.c_str()), static_cast<UINT>(ERROR_SUCCESS));
    const Wide cjk = wide(u"\u65e5\u672c");
    ASSERT_EQ(MsiRecordSetStringW(record, 2, cjk.c_str()), static_cast<UINT>(ERROR_SUCCESS));
    WCHAR read[32] = {};
    DWORD size = 32;
    EXPECT_EQ(MsiRecordGetStringW(record, 2, read, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(Wide(read, size), cjk);
    size = 32;
    EXPECT_EQ(MsiFormatRecordW(Backend::session(), record, read, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(Wide(read, size), wide(u"\u041f\u0440\u0438\u0432\u0435\u0442 \u65e5\u672c"));
    char ansi[32] = {};
    size = sizeof ansi;
    EXPECT_EQ(MsiRecordGetStringA(record, 2, ansi, &size), static_cast<UINT>(ERROR_SUCCESS));
    if (GetACP() == 1252) {  // a page without CJK: the A call loses it
        EXPECT_EQ(std::string(ansi, size), "??");
    }
    MsiCloseHandle(record);
}
