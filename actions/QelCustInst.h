// The library's boundary: its entry routine and the custom actions it exports.
#pragma once

#include "QelPlatform.h"

extern "C" {

// Sends the installer the package's message 26002, asking for the original disk, as an
// informational message. Export ordinal 10.
UINT WINAPI qelPromptForOriginalDisk(MSIHANDLE session);

// Sets PROMPT_FOR_CD1 to "1" when the source of INSTALLDIR is on a CD-ROM drive, else "0".
// Export ordinal 11.
UINT WINAPI qelAreWeRunningFromCD(MSIHANDLE session);

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
}
