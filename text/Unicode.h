// The kit's text is UTF-8 in std::string; the installer and Windows keep theirs in UTF-16 and
// take it whole only through their wide (W) calls. These convert at that edge, and between UTF-8
// and the ANSI code page of the library's older text type, KestCString.
//
//     MsiSetPropertyW(session, qel::toWide(name).c_str(), qel::toWide(value).c_str());
//     const std::string path = qel::fromWide(buffer);
//
// Why UTF-8: an author's literals ("Café", "C:\\Программы\\") and a UTF-8 settings file are
// already in it, it travels through std::string, printf formats and the library's byte-wise text
// helpers unchanged, and every character of every script round-trips through it and UTF-16.
#pragma once

#include "../text/KestCString.h"
#include "QelCustInst/QelPlatform.h"

#include <string>
#include <string_view>

namespace qel {

// UTF-16 text as the wide calls take and give it.
using WideText = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

// Whether the bytes are well-formed UTF-8 (no overlong form, surrogate or value past U+10FFFF).
bool isUtf8(std::string_view text) noexcept;

// UTF-8 to UTF-16. Text that is not UTF-8 raises an EKestInvalidParameter naming the byte offset
// where it stops being so (never the text, which may be secret).
WideText toWide(std::string_view utf8);
// UTF-16 to UTF-8. An unpaired surrogate, which no character is, becomes U+FFFD.
std::string fromWide(WideView wide);

// Text of the ANSI code page (what a KestCString holds) to UTF-16 and to UTF-8; nothing is lost.
// A refused conversion raises an EKestWinError.
WideText ansiToWide(std::string_view ansi);
std::string fromAnsi(std::string_view ansi);
// UTF-8 to the ANSI code page, as the installer's ANSI calls convert: a character the code page
// lacks becomes '?' (or, on Windows, a look-alike). For code that must hand text to an ANSI call.
KestCString toAnsi(std::string_view utf8);
// UTF-16 to the ANSI code page in the same way, for a report that names a path: never raises but
// for memory, giving what the system converted ("" when it converted nothing).
KestCString wideToAnsi(WideView wide);

// For text whose encoding is not known to be either, such as a report built from the library's
// ANSI classes and the kit's UTF-8 calls: each line UTF-8 where it is well-formed, else the ANSI
// code page.
WideText textToWide(std::string_view text);

// As textToWide, without allocating and without raising, for a report made when memory has run
// out: converts into `out` (capacity `size`, at least 1), cutting the text short where it does
// not fit, and always terminates it.
void textToWide(std::string_view text, WCHAR* out, std::size_t size) noexcept;

}  // namespace qel
