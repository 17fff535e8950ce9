// The installer's two-call protocol for texts of variable length (property values, paths, record
// fields): ask with an empty buffer to learn the length, then fetch with a buffer a little larger.
// The same for the ANSI calls (char, into a KestCString) and the wide ones (WCHAR, into a
// qel::WideText), whose sizes count WCHARs.
#pragma once

#include "../text/KestCString.h"
#include "QelCustInst/QelPlatform.h"

#include <string>
#include <string_view>
#include <vector>

// Calls query(buffer, &size) with a zeroed buffer of `capacity` characters and size = capacity.
// On success `text` becomes the buffer's text up to its terminating zero (never read past the
// buffer); otherwise `text` is left alone. Returns the query's result.
template <class Char, class Query>
UINT fetchInstallerText(Query&& query, DWORD capacity, std::basic_string<Char>& text)
{
    std::vector<Char> buffer(capacity > 0 ? capacity : 1, Char());  // never a null buffer
    DWORD size = capacity;
    const UINT result = query(buffer.data(), &size);
    if (result == ERROR_SUCCESS) {
        std::size_t length = 0;
        while (length < buffer.size() && buffer[length] != Char()) {
            ++length;
        }
        text.assign(buffer.data(), length);
    }
    return result;
}

// Both calls: learns the length with an empty buffer (that call's answer is not looked at), then
// fetches with a buffer of length + `extra` characters. Returns the second call's result.
template <class Char, class Query>
UINT queryInstallerText(Query&& query, DWORD extra, std::basic_string<Char>& text)
{
    Char empty[1] = {Char()};
    DWORD length = 0;
    query(empty, &length);
    return fetchInstallerText(query, length + extra, text);
}

// The text as the installer's formatting gives it back unchanged. The installer formats a
// message's fields too, once their values are in its template: a text sent as field 1 under "[1]"
// would still have its [Property], [%VAR], [~] and {groups} formatted, and a hidden property's
// value written into the log. Each [, ], { and } is written as the escape [\c], which formatting
// turns back into the character itself.
template <class Char>
constexpr bool isFormattingCharacter(Char c)
{
    return c == '[' || c == ']' || c == '{' || c == '}';
}

template <class Char>
std::basic_string<Char> unformatted(std::basic_string_view<Char> text)
{
    std::basic_string<Char> escaped;
    escaped.reserve(text.size());
    for (const Char c : text) {
        if (isFormattingCharacter(c)) {
            escaped += Char('[');
            escaped += Char('\\');
            escaped += c;
            escaped += Char(']');
        } else {
            escaped += c;
        }
    }
    return escaped;
}
