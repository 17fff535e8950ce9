// QelCustInst for authors of custom actions: the one header an action includes.
//
//     #include <QelCustInst/qel.h>
//
//     void writeSettings(KestMsiHandle& session)
//     {
//         qel::File file = qel::File::create(qel::targetPath(session, "INSTALLDIR") + "settings.ini");
//         for (const auto& row : qel::rows(session, "SELECT `Name`, `Value` FROM `Setting`")) {
//             file.write(row.text("Name") + "=" + qel::format(session, row.text("Value")) + "\r\n");
//         }
//         file.close();
//     }
//
//     UINT WINAPI qelWriteSettings(MSIHANDLE session)
//     {
//         return qel::runAction(session, "qelWriteSettings", &writeSettings);
//     }
//
// It gives the qel:: calls: the action frame (qel::runAction), the session (properties, folders,
// conditions, features and components, actions, messages and the log), the database's rows read by
// column name, deferred data and progress, files and folders, UTF-8 text, and raising a failure of
// the action's own in one line (qel::raiseWinError, qel::raiseMsiError, qel::raiseException, ...).
// The framework's classes underneath (KestMsiHandle, KestMsiRecord, the EKest exceptions) come
// with it, and the platform's declarations (UINT, WINAPI, MSIHANDLE, the installer's constants).
#pragma once

#include "actions/ActionFrame.h"
#include "actions/File.h"
#include "errors/Raise.h"
#include "msi/Database.h"
#include "msi/Deferred.h"
#include "msi/Progress.h"
#include "msi/Records.h"
#include "msi/Session.h"
#include "text/Text.h"
#include "text/TextArg.h"
#include "text/Unicode.h"
