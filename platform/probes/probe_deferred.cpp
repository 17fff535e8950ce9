// Custom actions that report what an installation shows them, run by msiexec from
// probe_deferred.wxs: an immediate action schedules rollback, deferred and commit actions with
// data of their own, and each scheduled action reports what it can read and call. Every report is
// an INFO message whose text starts with "probe:", so it lands in the installer's verbose log.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <string>

namespace {

void report(MSIHANDLE session, const std::string& text)
{
    const MSIHANDLE record = MsiCreateRecord(0);
    const std::string line = "probe: " + text;
    MsiRecordSetStringA(record, 0, line.c_str());
    MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

std::string property(MSIHANDLE session, const char* name)
{
    char buffer[512] = "";
    DWORD size = sizeof buffer;
    const UINT r = MsiGetPropertyA(session, name, buffer, &size);
    return std::string(name) + "=" + std::to_string(r) + "\"" + buffer + "\"";
}

std::string number(const char* what, long long value)
{
    return std::string(what) + "=" + std::to_string(value);
}

void schedule(MSIHANDLE session, const char* action, const char* data)
{
    const UINT set = MsiSetPropertyA(session, action, data);
    const UINT done = MsiDoActionA(session, action);
    report(session, std::string("schedule ") + action + " data \"" + data + "\": set " + std::to_string(set) +
                        ", DoAction " + std::to_string(done));
}

void observe(MSIHANDLE session, const char* who, bool changes)
{
    std::string line = std::string(who) + ": ";
    for (const char* name : {"CustomActionData", "ProductCode", "UserSID", "ProductLanguage", "ProductName",
                             "INSTALLDIR", "PROBE_FAIL", "ProbeDeferred"}) {
        line += property(session, name) + " ";
    }
    report(session, line);

    line = std::string(who) + ": ";
    const MSIHANDLE database = MsiGetActiveDatabase(session);
    line += number("database", database != 0) + " ";
    MsiCloseHandle(database);
    for (int mode : {MSIRUNMODE_SCHEDULED, MSIRUNMODE_ROLLBACK, MSIRUNMODE_COMMIT, MSIRUNMODE_ROLLBACKENABLED,
                     MSIRUNMODE_MAINTENANCE, MSIRUNMODE_ADMIN}) {
        line += number(("mode" + std::to_string(mode)).c_str(), MsiGetMode(session, MSIRUNMODE(mode))) + " ";
    }
    line += number("language", MsiGetLanguage(session)) + " ";
    line += number("condition", MsiEvaluateConditionA(session, "1")) + " ";
    line += number("conditionOfData", MsiEvaluateConditionA(session, "CustomActionData")) + " ";
    report(session, line);

    char buffer[512] = "";
    if (!changes) {
        return;
    }
    line = std::string(who) + ": ";
    DWORD size = sizeof buffer;
    line += number("targetPath", MsiGetTargetPathA(session, "INSTALLDIR", buffer, &size)) + " ";
    line += number("setProperty", MsiSetPropertyA(session, "PROBE_SET", "x")) + " ";
    line += property(session, "PROBE_SET") + " ";
    line += number("setData", MsiSetPropertyA(session, "CustomActionData", "changed")) + " ";
    line += property(session, "CustomActionData") + " ";
    line += number("doAction", MsiDoActionA(session, "ProbeNoSuchAction")) + " ";
    INSTALLSTATE installed = INSTALLSTATE(99), action = INSTALLSTATE(99);
    line += number("featureState", MsiGetFeatureStateA(session, "Main", &installed, &action)) + " ";
    line += number("setFeatureState", MsiSetFeatureStateA(session, "Main", INSTALLSTATE_LOCAL)) + " ";
    line += number("componentState", MsiGetComponentStateA(session, "Probe", &installed, &action)) + " ";
    report(session, line);

    line = std::string(who) + ": ";
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringA(record, 0, "[CustomActionData]|[ProductLine]|[ProductCode]|[1]");
    MsiRecordSetStringA(record, 1, "field");
    size = sizeof buffer;
    const UINT formatted = MsiFormatRecordA(session, record, buffer, &size);
    line += number("format", formatted) + " \"" + buffer + "\" ";
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, "moves [2]");
    line += number("actionData", MsiProcessMessage(session, INSTALLMESSAGE_ACTIONDATA, record)) + " ";
    MsiCloseHandle(record);
    const MSIHANDLE progress = MsiCreateRecord(2);
    MsiRecordSetInteger(progress, 1, 2);
    MsiRecordSetInteger(progress, 2, 10);
    line += number("progress", MsiProcessMessage(session, INSTALLMESSAGE_PROGRESS, progress)) + " ";
    MsiCloseHandle(progress);
    report(session, line);
}

}  // namespace

extern "C" UINT WINAPI ProbeSchedule(MSIHANDLE session)
{
    observe(session, "immediate", false);
    schedule(session, "ProbeRollback", "rollback one");
    schedule(session, "ProbeDeferred", "deferred one");
    schedule(session, "ProbeCommit", "commit one");
    schedule(session, "ProbeDeferred", "deferred two");
    schedule(session, "ProbeRollback", "rollback two");
    char fail[8] = "";
    DWORD size = sizeof fail;
    MsiGetPropertyA(session, "PROBE_FAIL", fail, &size);
    if (std::string(fail) == "1") {
        schedule(session, "ProbeFail", "fail");
        schedule(session, "ProbeRollback", "rollback after the failure");
        schedule(session, "ProbeDeferred", "deferred after the failure");
    }
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI ProbeObserve(MSIHANDLE session)
{
    observe(session, "scheduled", true);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI ProbeFail(MSIHANDLE session)
{
    char buffer[64] = "";
    DWORD size = sizeof buffer;
    MsiGetPropertyA(session, "CustomActionData", buffer, &size);
    report(session, std::string("fail: CustomActionData \"") + buffer + "\"");
    return std::string(buffer) == "fail" ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}

extern "C" UINT WINAPI ProbeImmediateFail(MSIHANDLE session)
{
    report(session, "immediate failure");
    return ERROR_INSTALL_FAILURE;
}
