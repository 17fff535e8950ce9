#include "actions/ActionFrame.h"

#include "errors/EKestException.h"
#include "messages/KestMessageProcessor.h"
#include "msi/InstallerText.h"
#include "text/KestCString.h"
#include "text/Unicode.h"

#include <cstdio>
#include <exception>

namespace qel {
namespace {

// A message processor that logs to a text, for the report of an ended action.
class ReportWriter : public KestMessageProcessor {
public:
    explicit ReportWriter(KestCString& report) { logToText(report); }
};

// The exception as the library's logs write it (code, caption, message and every history entry),
// after the action's name. Memory running out on the way is raised: a text cut short is no report.
KestCString describe(const char* actionName, const EKestException& error)
{
    KestCString report;
    ReportWriter writer(report);
    writer.logMessage("%s: ", actionName);
    writer.logMessage(error);
    return report;
}

// Hands `text` to the installer's log and tells whether the installer took it. The text travels as
// field 1 under the template "[1]", escaped (msi/InstallerText.h: unformatted), so that nothing in
// it is formatted by the installer, and through the wide record call, so that it keeps every
// character. Raw installer calls only: this also carries the report made when memory has run out.
bool reportToInstaller(MSIHANDLE session, const WCHAR* text) noexcept
{
    static constexpr WCHAR fieldOne[] = {'[', '1', ']', 0};
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return false;
    }
    const bool taken = MsiRecordSetStringW(record, 0, fieldOne) == ERROR_SUCCESS &&
                       MsiRecordSetStringW(record, 1, text) == ERROR_SUCCESS &&
                       MsiProcessMessage(session, INSTALLMESSAGE_INFO, record) != -1;
    MsiCloseHandle(record);
    return taken;
}

// A refused installer call may go through when asked again, so a report is offered to the
// installer twice at most: the full report, then a line of fixed text in its place.
constexpr int reportAttempts = 2;

// Offers a line of fixed text naming the action, made without allocating, up to `attempts` times.
void reportFixed(MSIHANDLE session, const char* actionName, const char* what, const char* detail, int attempts) noexcept
{
    char text[512];
    std::snprintf(text, sizeof text, "%s: %s%s\n", actionName, what, detail);
    WCHAR wide[sizeof text];
    qel::textToWide(text, wide, sizeof text);
    // Escaped as unformatted() escapes, in place of its allocation: four characters at most each.
    WCHAR escaped[4 * sizeof text];
    std::size_t length = 0;
    for (const WCHAR* c = wide; *c != 0; ++c) {
        if (isFormattingCharacter(*c)) {
            escaped[length++] = '[';
            escaped[length++] = '\\';
            escaped[length++] = *c;
            escaped[length++] = ']';
        } else {
            escaped[length++] = *c;
        }
    }
    escaped[length] = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (reportToInstaller(session, escaped)) {
            return;
        }
    }
}

// The full report of a library exception; when it cannot be made, or the installer refuses it,
// the fixed line takes its place.
void reportException(MSIHANDLE session, const char* actionName, const EKestException& error) noexcept
{
    int attemptsLeft = reportAttempts;
    try {
        // The history holds the kit's texts in UTF-8 and the ANSI classes' in their code page.
        const WideText report = unformatted<WCHAR>(textToWide(describe(actionName, error)));
        --attemptsLeft;
        if (reportToInstaller(session, report.c_str())) {
            return;
        }
    } catch (...) {
    }
    reportFixed(session, actionName, "the action failed, and its full report could not be made.", "", attemptsLeft);
}

// The frame around steps of either form: `steps` is called with the wrapped session and answers.
template <class Steps>
UINT framed(MSIHANDLE session, const char* actionName, Steps steps) noexcept
{
    try {
        KestMsiHandle installation(session, true);
        return steps(installation);
    } catch (const UserCancelled&) {
        return ERROR_INSTALL_USEREXIT;
    } catch (const EKestException& error) {
        reportException(session, actionName, error);
        if (error.getErrorCode() == ERROR_INSTALL_USEREXIT) {
            return ERROR_INSTALL_USEREXIT;  // a call the user cancelled: the log says which
        }
    } catch (const std::exception& error) {
        const char* const what = error.what();
        reportFixed(session, actionName, "an unexpected exception ended the action: ", what ? what : "",
                    reportAttempts);
    } catch (...) {
        reportFixed(session, actionName, "an unexpected exception ended the action.", "", reportAttempts);
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

int cancelIfAsked(int answer)
{
    if (answer == IDCANCEL) {
        throw UserCancelled{};
    }
    return answer;
}

}  // namespace qel
