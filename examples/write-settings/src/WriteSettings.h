// The custom actions this DLL exports, as the installer calls them. Together they keep a product's
// settings file, INSTALLDIR\settings.ini, one "Name=value" line for each row of the package's table
// QelSetting whose condition holds and whose feature is being installed, its value formatted by
// the installer:
//
//   qelScheduleSettings  immediate, after InstallFiles, on a first installation: reads the table,
//                        reserves progress for the writing and schedules qelRollbackSettings, then
//                        qelWriteSettings, with the file's path and lines.           Export ordinal 1.
//   qelWriteSettings     deferred: writes the file, a progress step a setting.       Export ordinal 2.
//   qelRemoveSettings    rollback (as qelRollbackSettings) and deferred (as itself): removes the file,
//                        should there be one.                                        Export ordinal 3.
//   qelScheduleRemoval   immediate, before RemoveFiles: when the product is removed, schedules
//                        qelRemoveSettings with the file's path.                     Export ordinal 4.
//
// Each answers 0, ERROR_INSTALL_USEREXIT (1602) when the user cancelled, or 1603 when an installer
// or file call failed, with a report in the installer's log.
#pragma once

#include <QelCustInst/qel.h>

extern "C" {

UINT WINAPI qelScheduleSettings(MSIHANDLE session);
UINT WINAPI qelWriteSettings(MSIHANDLE session);
UINT WINAPI qelRemoveSettings(MSIHANDLE session);
UINT WINAPI qelScheduleRemoval(MSIHANDLE session);
}
