// Deferred actions and their data. An immediate action schedules the deferred one (a custom action
// of the package run from the installation's script, with the in-script bit 1024; a rollback or
// commit action alike) and hands it its data; the deferred action, which reads nothing of the
// installation but CustomActionData, takes it from there.
//
//     qel::DeferredData data;                                  // text/DeferredData.h
//     data.add("file", qel::format(session, "[INSTALLDIR]settings.ini"));
//     qel::schedule(session, "qelRemoveSettings", data);      // its rollback action first
//     qel::schedule(session, "qelWriteSettings", data);
//
//     // in qelWriteSettings:
//     const qel::DeferredData data = qel::deferredData(session);
//
// A rollback action is scheduled before the action whose work it undoes: should that action or a
// later one fail, the installer runs the rollback actions scheduled so far, the last first.
#pragma once

#include "../msi/KestMsiHandle.h"
#include "../text/DeferredData.h"
#include "../text/TextArg.h"

namespace qel {

// Sets the property named after the action to the data and adds the action to the script
// (MsiSetProperty, then MsiDoAction): the action runs later with that text as CustomActionData.
void schedule(const KestMsiHandle& session, const TextArg& action, const DeferredData& data);
// As above, with a text of the caller's own form.
void schedule(const KestMsiHandle& session, const TextArg& action, const TextArg& data);

// In a deferred, rollback or commit action: the data its immediate action scheduled it with.
// Raises an EKestInvalidParameter for a CustomActionData that DeferredData did not encode.
DeferredData deferredData(const KestMsiHandle& session);

}  // namespace qel
