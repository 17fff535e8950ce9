// The installer's two-call protocol for texts of variable length (property values, paths, record
// fields): ask with an empty buffer to learn the length, then fetch with a buffer a little larger.
#pragma once

#include "../text/KestCString.h"
#include "QelCustInst/QelPlatform.h"

#include <cstring>
#include <vector>

// Calls query(buffer, &size) with a zeroed buffer of `capacity` characters and size = capacity.
// On success `text` becomes the buffer's text up to its terminating zero (never read past the
// buffer); otherwise `text` is left alone. Returns the query's result.
template <class Query>
UINT fetchInstallerText(Query&& query, DWORD capacity, KestCString& text)
{
    std::vector<char> buffer(capacity > 0 ? capacity : 1, '\0');  // never a null buffer
    DWORD size = capacity;
    const UINT result = query(buffer.data(), &size);
    if (result == ERROR_SUCCESS) {
        text.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
    }
    return result;
}

// Both calls: learns the length with an empty buffer (that call's answer is not looked at), then
// fetches with a buffer of length + `extra` characters. Returns the second call's result.
template <class Query>
UINT queryInstallerText(Query&& query, DWORD extra, KestCString& text)
{
    char empty[1] = "";
    DWORD length = 0;
    query(empty, &length);
    return fetchInstallerText(query, length + extra, text);
}
