// What the fuzz targets share: stopping the run on a mismatch with a reference, and the check that
// the library left nothing of the platform behind.
//
// A mismatch aborts, so libFuzzer reports it like a crash and keeps the input that caused it.
#pragma once

#include "Simulation.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace fuzz {

// The text as a C string reads it: up to its first NUL.
inline std::string cutAtNul(std::string_view text)
{
    return std::string(text.substr(0, text.find('\0')));
}

// Control and non-ASCII bytes as \xNN, so that a report shows exactly what was compared.
inline std::string visible(std::string_view text)
{
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            shown += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

// What the current input set up, shown with a mismatch; each input starts it afresh.
inline std::string& setting()
{
    static std::string text;
    return text;
}

[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {})
{
    std::fprintf(stderr, "\nfuzz: mismatch: %.*s\n%.*s\n%s\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(detail.size()), detail.data(), setting().c_str());
    std::abort();
}

inline void expect(bool holds, std::string_view what)
{
    if (!holds) {
        fail(what);
    }
}

template <class Actual, class Expected>
void expectEqual(const Actual& actual, const Expected& expected, std::string_view what)
{
    if (actual == expected) {
        return;
    }
    std::ostringstream detail;
    if constexpr (std::is_convertible_v<const Actual&, std::string_view> &&
                  std::is_convertible_v<const Expected&, std::string_view>) {
        detail << "  actual:   \"" << visible(actual) << "\"\n  expected: \"" << visible(expected) << "\"";
    } else {
        detail << "  actual:   " << actual << "\n  expected: " << expected;
    }
    fail(what, detail.str());
}

// Every record, search handle and system buffer the library took is released, nothing was closed
// twice and the installer's session stays open.
inline void expectNothingLeft(MSIHANDLE session)
{
    const std::vector<std::string> problems = sim::leftovers(session).problems();
    if (!problems.empty()) {
        std::string all;
        for (const std::string& problem : problems) {
            all += "  " + problem + "\n";
        }
        fail("the library left something behind", all);
    }
}

}  // namespace fuzz
