// The installer's progress bar and the action text beside it, for a deferred action whose work
// takes a while. The immediate action that schedules it reserves the ticks the work will take;
// the deferred action says what it does and moves the bar as it goes.
//
//     qel::addProgressTicks(session, settingCount * ticksPerSetting);      // immediate
//
//     qel::actionStart(session, "qelWriteSettings", "Writing settings", "Setting [1]");  // deferred
//     for (...) {
//         qel::actionData(session, qel::record(name));
//         if (qel::reportProgress(session, ticksPerSetting) == IDCANCEL) {
//             return ERROR_INSTALL_USEREXIT;
//         }
//     }
//
// Each call answers what the user did: IDCANCEL when they cancelled the installation, which the
// action then ends with ERROR_INSTALL_USEREXIT (1602); otherwise IDOK or 0. A message the
// installer refuses raises.
#pragma once

#include "../msi/KestMsiHandle.h"
#include "../msi/KestMsiRecord.h"
#include "../text/TextArg.h"

namespace qel {

// Adds ticks to the bar's total (a progress message of kind 3), for work of a deferred action
// scheduled by this immediate one.
int addProgressTicks(const KestMsiHandle& session, int ticks);
// Shows what the action does now (ActionStart): its name, a description ("Writing settings") and
// the template of the lines actionData shows ("Setting [1]").
int actionStart(const KestMsiHandle& session, const TextArg& action, const TextArg& description,
                const TextArg& dataTemplate = "");
// Shows a line under the action's template, its [1], [2], ... taken from the record (ActionData).
int actionData(const KestMsiHandle& session, const KestMsiRecord& fields);
// Moves the bar by ticks of the total reserved (a progress message of kind 2).
int reportProgress(const KestMsiHandle& session, int ticks);

}  // namespace qel
