// Texts between the ANSI code page, in which KestCString keeps them, and the UTF-16 that the
// system's wide calls take and give: for paths that the code page may not hold.
#pragma once

#include "../text/KestCString.h"
#include "QelCustInst/QelPlatform.h"

#include <string>

namespace qel {

using WideText = std::basic_string<WCHAR>;

// The text up to its first NUL, converted from the ANSI code page (MultiByteToWideChar with
// CP_ACP); empty when the system converts nothing.
WideText toWide(const KestCString& text);

// The text up to its first NUL in the ANSI code page (WideCharToMultiByte with CP_ACP): a
// character the code page lacks becomes what the system puts in its place, so the result is for
// reading, not for naming a file.
KestCString toAnsi(const WideText& text);

}  // namespace qel
