#include "shared/ScriptActions.h"

#include "msi/InstallerText.h"

#include <sstream>
#include <string>

namespace {

// Texts the installer's formatting would change, with the hidden property QEL_SECRET among them.
constexpr const char* loggedTexts[] = {"[QEL_SECRET]", "cut [~] here", "[\\[]x[\\]]", "{a [QEL_SECRET]} {{b}}",
                                       "{[ProductLine]}"};

// Logs "qel: logged TEXT" as the library logs a line: field 1 under the template "[1]", escaped.
void logAsWritten(MSIHANDLE install, const std::string& text)
{
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, unformatted<char>("qel: logged " + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

void report(MSIHANDLE install, const std::string& text)
{
    const MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringA(record, 0, ("qel: " + text).c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

std::string property(MSIHANDLE install, const char* name)
{
    char value[256] = "";
    DWORD size = sizeof value;
    return MsiGetPropertyA(install, name, value, &size) == ERROR_SUCCESS ? std::string(value, size) : "<failed>";
}

// Each run mode of the script on its own: "S" (SCHEDULED), then "R" (ROLLBACK) and "C" (COMMIT)
// where they hold, "-" where none does. The installer runs every action of the script as
// scheduled, rollback and commit actions too: those read "SR" and "SC".
std::string mode(MSIHANDLE install)
{
    std::string flags;
    flags += MsiGetMode(install, MSIRUNMODE_SCHEDULED) ? "S" : "";
    flags += MsiGetMode(install, MSIRUNMODE_ROLLBACK) ? "R" : "";
    flags += MsiGetMode(install, MSIRUNMODE_COMMIT) ? "C" : "";
    return flags.empty() ? "-" : flags;
}

std::string ran(MSIHANDLE install)
{
    const std::string data = property(install, "CustomActionData");
    report(install, "ran " + data + " " + mode(install));
    return data;
}

}  // namespace

extern "C" UINT WINAPI qelScheduleScript(MSIHANDLE install)
{
    std::istringstream plan(property(install, "QEL_PLAN"));
    for (std::string word; plan >> word;) {
        if (word == "X") {
            return ERROR_INSTALL_FAILURE;
        }
        if (word == "U") {
            return ERROR_INSTALL_USEREXIT;
        }
        if (word == "L") {
            MsiSetPropertyA(install, "MsiHiddenProperties", "QEL_SECRET");
            MsiSetPropertyA(install, "QEL_SECRET", "hunter2");
            for (const char* text : loggedTexts) {
                logAsWritten(install, text);
            }
            MsiSetPropertyA(install, "QEL_SECRET", nullptr);
            continue;
        }
        const char* action = word[0] == 'D'   ? "QelDeferred"
                             : word[0] == 'R' ? "QelRollback"
                             : word[0] == 'C' ? "QelCommit"
                                              : "QelFail";
        const std::string data = word.substr(word.find(':') + 1);
        MsiSetPropertyA(install, action, data.c_str());
        report(install, "scheduled " + data + " " + std::to_string(MsiDoActionA(install, action)));
    }
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI qelReportScript(MSIHANDLE install)
{
    const std::string data = ran(install);
    const MSIHANDLE database = MsiGetActiveDatabase(install);
    report(install, "saw " + data + " database " + (database != 0 ? "1" : "0"));
    MsiCloseHandle(database);
    for (const char* name : {"ProductCode", "UserSID"}) {
        report(install, "saw " + data + " " + name + (property(install, name).empty() ? " empty" : " set"));
    }
    report(install, "saw " + data + " ProductLine " + property(install, "ProductLine"));
    // What the calls a script action may not make answer there.
    report(install, "saw " + data + " setFeatureState " +
                        std::to_string(MsiSetFeatureStateA(install, "Main", INSTALLSTATE_LOCAL)));
    report(install, "saw " + data + " doAction " + std::to_string(MsiDoActionA(install, "QelNoSuchAction")));
    report(install, "saw " + data + " setProperty " + std::to_string(MsiSetPropertyA(install, "QEL_SET", "1")));
    report(install, "saw " + data + " condition " + std::to_string(MsiEvaluateConditionA(install, "1")));
    report(install, "saw " + data + " language " + std::to_string(MsiGetLanguage(install)));
    const MSIHANDLE progress = MsiCreateRecord(2);
    MsiRecordSetInteger(progress, 1, 2);
    MsiRecordSetInteger(progress, 2, 10);
    report(install, "saw " + data + " progress " +
                        std::to_string(MsiProcessMessage(install, INSTALLMESSAGE_PROGRESS, progress)));
    MsiCloseHandle(progress);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI qelFailScript(MSIHANDLE install)
{
    ran(install);
    return ERROR_INSTALL_FAILURE;
}
