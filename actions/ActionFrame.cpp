#include "actions/ActionFrame.h"

#include "errors/EKestException.h"
#include "messages/KestMessageProcessor.h"
#include "text/KestCString.h"

#include <sstream>

namespace qel {
namespace {

// The exception as the library's logs write it (code, caption, message and every history entry),
// after the action's name.
KestCString describe(const char* actionName, const EKestException& error)
{
    std::ostringstream report;
    KestMessageProcessor processor;
    processor.initialize(report);
    processor.logMessage("%s: ", actionName);
    processor.logMessage(error);
    return report.str();
}

// Hands `text` to the installer's log. The text travels as field 1 under the template "[1]", so
// brackets in it are never taken for installer formatting. The caller ignores its failures: there
// is nothing left to tell them to.
void reportToInstaller(MSIHANDLE session, const KestCString& text)
{
    const KestMsiHandle record(MsiCreateRecord(1), false);
    if (record.getMsiHandle() == 0) {
        return;
    }
    if (MsiRecordSetStringA(record.getMsiHandle(), 0, "[1]") == ERROR_SUCCESS &&
        MsiRecordSetStringA(record.getMsiHandle(), 1, text.c_str()) == ERROR_SUCCESS) {
        MsiProcessMessage(session, INSTALLMESSAGE_INFO, record.getMsiHandle());
    }
}

}  // namespace

UINT runAction(MSIHANDLE session, const char* actionName, ActionSteps steps) noexcept
{
    try {
        KestMsiHandle installation(session, true);
        steps(installation);
        return ERROR_SUCCESS;
    } catch (const EKestException& error) {
        try {
            reportToInstaller(session, describe(actionName, error));
        } catch (...) {
        }
    } catch (...) {
        try {
            KestCString text;
            text.format("%s: an unexpected exception ended the action.\n", actionName);
            reportToInstaller(session, text);
        } catch (...) {
        }
    }
    return ERROR_INSTALL_FAILURE;
}

}  // namespace qel
