// Custom actions of the script package (backend/windows/QelScript.wxs), for the shared cases of
// deferred, rollback and commit actions. The same code runs in the model's installations and,
// built into a DLL of its own, in Wine's.
//
// qelScheduleScript, the immediate action, reads the plan in the property QEL_PLAN: words
// separated by spaces, each a letter and, for the first four, a colon and the data:
//   D:data  schedules QelDeferred with that data (MsiSetProperty of its name, then MsiDoAction)
//   R:data  QelRollback, a rollback action        C:data  QelCommit, a commit action
//   F:data  QelFail, a deferred action that fails
//   X       the immediate action fails here (ERROR_INSTALL_FAILURE)
//   U       the immediate action ends here as the user asked (ERROR_INSTALL_USEREXIT)
//   L       the immediate action sets the hidden property QEL_SECRET (MsiHiddenProperties), logs
//           texts that name it or that formatting would change, escaped as the library logs a
//           line, and deletes the property again
// Each action reports what it did and saw in INFO messages whose text begins with "qel: ":
//   "qel: scheduled DATA ANSWER"      MsiDoAction's answer for each word scheduled
//   "qel: logged TEXT"                each text L logged, as the installer wrote it
//   "qel: ran DATA MODE"              a scheduled action ran with CustomActionData DATA; MODE is
//                                     S, R or C (MsiGetMode SCHEDULED, ROLLBACK, COMMIT) or -
//   "qel: saw DATA NAME VALUE"        in QelDeferred, what it saw: database (whether
//                                     MsiGetActiveDatabase answered a handle), ProductCode and
//                                     UserSID (set or empty), ProductLine (its value), progress
//                                     (MsiProcessMessage's answer for a progress report)
#pragma once

#include "QelPlatform.h"

extern "C" {
UINT WINAPI qelScheduleScript(MSIHANDLE install);
UINT WINAPI qelReportScript(MSIHANDLE install);
UINT WINAPI qelFailScript(MSIHANDLE install);
}
