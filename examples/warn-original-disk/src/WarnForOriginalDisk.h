// The custom action this DLL exports, as the installer calls it.
#pragma once

#include <QelCustInst/qel.h>

extern "C" {

// When the installation runs from a CD-ROM (PROMPT_FOR_CD1 is 1) and its user interface shows
// dialogs (UILevel reduced or full), shows the package's message 26002 as a warning with OK and
// Cancel. Answers ERROR_INSTALL_USEREXIT (1602) when the user cancels, else 0; 1603 when an
// installer call failed, with a report in the installer's log. Export ordinal 1.
UINT WINAPI qelWarnForOriginalDisk(MSIHANDLE session);
}
