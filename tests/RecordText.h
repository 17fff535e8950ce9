// What the record tests of both builds compare: byte runs for stream fields, and a record's dump.
#pragma once

#include "msi/KestMsiRecord.h"

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

// `count` bytes counting up from `first`.
inline std::vector<char> countingBytes(std::size_t count, char first = 0)
{
    std::vector<char> result(count);
    for (std::size_t i = 0; i < count; ++i) {
        result[i] = static_cast<char>(first + i);
    }
    return result;
}

// The record's dump as one text.
inline std::string dumped(const KestMsiRecord& record)
{
    std::ostringstream out;
    record.dump(out);
    return out.str();
}
