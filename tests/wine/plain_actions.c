/* QelCustInst's two actions written in plain C with the same installer and Windows calls: the
 * floor that scripts/dll-size.sh measures a DLL built on the framework against. Built by the
 * windows preset as PlainActions.dll, with the flags of a custom-action DLL; never shipped. */
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <stdio.h>
#include <stdlib.h>

/* The action's name and what failed, as a line in the installer's log; twice at most. */
static void report(MSIHANDLE session, const char* action, const char* call, UINT result)
{
    char text[256];
    snprintf(text, sizeof text, "%s: Error: %u. Function Failed: %s()\n", action, result, call);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const MSIHANDLE record = MsiCreateRecord(1);
        if (record == 0) {
            continue;
        }
        const int taken = MsiRecordSetStringA(record, 0, "[1]") == ERROR_SUCCESS &&
                          MsiRecordSetStringA(record, 1, text) == ERROR_SUCCESS &&
                          MsiProcessMessage(session, INSTALLMESSAGE_INFO, record) != -1;
        MsiCloseHandle(record);
        if (taken) {
            return;
        }
    }
}

typedef UINT(WINAPI* PathQuery)(MSIHANDLE, LPCSTR, LPSTR, LPDWORD);

/* The directory's path in a buffer of its own (free it), asked for in two calls; NULL on failure. */
static char* path(MSIHANDLE session, PathQuery query, const char* directory, UINT* result)
{
    char empty[1] = "";
    DWORD size = 0;
    *result = query(session, directory, empty, &size);
    if (*result != ERROR_MORE_DATA && *result != ERROR_SUCCESS) {
        return NULL;
    }
    ++size;
    char* text = malloc(size);
    if (!text) {
        *result = ERROR_OUTOFMEMORY;
        return NULL;
    }
    *result = query(session, directory, text, &size);
    if (*result != ERROR_SUCCESS) {
        free(text);
        return NULL;
    }
    return text;
}

UINT WINAPI qelAreWeRunningFromCD(MSIHANDLE session)
{
    static const char action[] = "qelAreWeRunningFromCD";
    UINT result = 0;
    char* target = path(session, MsiGetTargetPathA, "INSTALLDIR", &result);
    if (!target) {
        report(session, action, "MsiGetTargetPath", result);
        return ERROR_INSTALL_FAILURE;
    }
    free(target);
    char* source = path(session, MsiGetSourcePathA, "INSTALLDIR", &result);
    if (!source) {
        report(session, action, "MsiGetSourcePath", result);
        return ERROR_INSTALL_FAILURE;
    }
    char root[MAX_PATH + 2];
    const UINT type = GetDriveTypeA(GetVolumePathNameA(source, root, sizeof root) ? root : source);
    free(source);
    char value[16];
    snprintf(value, sizeof value, "%d", type == DRIVE_CDROM);
    result = MsiSetPropertyA(session, "PROMPT_FOR_CD1", value);
    if (result != ERROR_SUCCESS) {
        report(session, action, "MsiSetProperty", result);
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

UINT WINAPI qelPromptForOriginalDisk(MSIHANDLE session)
{
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record != 0) {
        if (MsiRecordSetInteger(record, 1, 26002) == ERROR_SUCCESS) {
            MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
        }
        MsiCloseHandle(record);
    }
    return ERROR_SUCCESS;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    (void)module;
    (void)reason;
    (void)reserved;
    return TRUE;
}
