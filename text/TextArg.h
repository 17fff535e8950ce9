// Text handed to the kit's calls: UTF-8 in a literal, a std::string or a std::string_view; or a
// KestCString, whose text is in the ANSI code page and is converted from it, so that code written
// when these calls took KestCString keeps its meaning.
//
//     qel::setProperty(session, "GREETING", "Привет, Café");        // UTF-8
//     qel::setProperty(session, "FOLDER", ansiFolder);             // a KestCString: ANSI
#pragma once

#include "../text/KestCString.h"
#include "../text/Unicode.h"

#include <string>
#include <string_view>

namespace qel {

class TextArg {
public:
    TextArg(const char* utf8) : text(utf8 != nullptr ? utf8 : "") {}  // NOLINT(google-explicit-constructor)
    TextArg(const std::string& utf8) : text(utf8) {}                  // NOLINT(google-explicit-constructor)
    TextArg(std::string_view utf8) : text(utf8) {}                    // NOLINT(google-explicit-constructor)
    TextArg(const KestCString& ansi) : text(ansi), isAnsi(true) {}    // NOLINT(google-explicit-constructor)

    bool empty() const { return text.empty(); }
    // The text in UTF-16, for the wide calls.
    WideText wide() const { return isAnsi ? ansiToWide(text) : toWide(text); }
    // The text in UTF-8.
    std::string utf8() const { return isAnsi ? fromAnsi(text) : std::string(text); }

private:
    std::string_view text;
    bool isAnsi = false;
};

}  // namespace qel
