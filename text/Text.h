// Text the kit's calls give back: UTF-8, in a std::string.
//
//     const std::string product = qel::property(session, "ProductName");
//     auto folder = qel::targetPath(session, "INSTALLDIR");       // a qel::Text
//
// A qel::Text is a std::string in every way but one: it does not become a KestCString, the
// library's text of the ANSI code page, without being asked to. Code written when these calls
// gave KestCString, `const KestCString name = qel::property(...)`, stops compiling with a message
// that says what to write instead, rather than compiling into bytes of UTF-8 read as ANSI.
#pragma once

#include "../text/KestCString.h"

#include <concepts>
#include <string>
#include <utility>

namespace qel {

class Text : public std::string {
public:
    Text() = default;
    explicit Text(std::string utf8) noexcept : std::string(std::move(utf8)) {}
    using std::string::string;

    // Refused at compile time, by name: a KestCString holds text of the ANSI code page, which
    // loses every character that page lacks.
    template <class Target>
    requires std::same_as<Target, KestCString>
    operator Target() const  // NOLINT(google-explicit-constructor): there only to be refused
    {
        static_assert(sizeof(Target) == 0,
                      "qel:: calls give UTF-8 text: keep it in a std::string (or auto), not a KestCString; "
                      "qel::toAnsi(text) makes the ANSI text of the older calls, losing what the code page lacks");
        return {};
    }
};

}  // namespace qel
