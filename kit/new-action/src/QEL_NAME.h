// The custom action this project exports, as the installer calls it.
#pragma once

#include <QelCustInst/qel.h>

// Sets SETUP_INI_FOUND to 1 when setup.ini lies beside the package (in the source folder of
// INSTALLDIR), else to 0, and logs where it looked. Answers 0; 1603 when the installer or the
// system refused a call, with a report in the installer's log. Export ordinal 1.
extern "C" UINT WINAPI QEL_NAME(MSIHANDLE session);
