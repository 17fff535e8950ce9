#include "actions/ActionFrame.h"

#include "errors/EKestException.h"
#include "messages/KestMessageProcessor.h"
#include "text/KestCString.h"

#include <cstdio>
#include <sstream>

namespace qel {
namespace {

// The exception as the library's logs write it (code, caption, message and every history entry),
// after the action's name.
KestCString describe(const char* actionName, const EKestException& error)
{
    std::ostringstream report;
    report.exceptions(std::ios::badbit);  // a text cut short by memory running out is no report
    KestMessageProcessor processor;
    processor.initialize(report);
    processor.logMessage("%s: ", actionName);
    processor.logMessage(error);
    return report.str();
}

// Hands `text` to the installer's log and tells whether it was handed over. The text travels as
// field 1 under the template "[1]", so brackets in it are never taken for installer formatting.
// Raw installer calls only: this also carries the report made when memory has run out.
bool reportToInstaller(MSIHANDLE session, const char* text) noexcept
{
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return false;
    }
    const bool filled =
        MsiRecordSetStringA(record, 0, "[1]") == ERROR_SUCCESS && MsiRecordSetStringA(record, 1, text) == ERROR_SUCCESS;
    if (filled) {
        MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);  // the installer's answer does not matter
    }
    MsiCloseHandle(record);
    return filled;
}

// A report of fixed text naming the action, for when no fuller one can be made: it allocates nothing.
// A refused installer call may go through when asked again, so it is tried twice.
void reportFixed(MSIHANDLE session, const char* actionName, const char* what) noexcept
{
    char text[256];
    std::snprintf(text, sizeof text, "%s: %s\n", actionName, what);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (reportToInstaller(session, text)) {
            return;
        }
    }
}

// The frame around steps of either form: `steps` is called with the wrapped session and answers.
template <class Steps>
UINT framed(MSIHANDLE session, const char* actionName, Steps steps) noexcept
{
    try {
        KestMsiHandle installation(session, true);
        return steps(installation);
    } catch (const EKestException& error) {
        bool reported = false;
        try {
            reported = reportToInstaller(session, describe(actionName, error).c_str());
        } catch (...) {
        }
        if (!reported) {
            reportFixed(session, actionName, "the action failed, and its full report could not be made.");
        }
    } catch (...) {
        reportFixed(session, actionName, "an unexpected exception ended the action.");
    }
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

UINT runAction(MSIHANDLE session, const char* actionName, ActionSteps steps) noexcept
{
    return framed(session, actionName, [steps](KestMsiHandle& installation) -> UINT {
        steps(installation);
        return ERROR_SUCCESS;
    });
}

UINT runAction(MSIHANDLE session, const char* actionName, AnsweringSteps steps) noexcept
{
    return framed(session, actionName, steps);
}

}  // namespace qel
