// Byte runs that tell every byte from its neighbours, for stream fields.
#pragma once

#include <cstddef>
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
