// A real installer session opened without msiexec (no user interface): the directory properties
// before and after costing, MsiSetTargetPathA, and MsiProcessMessage's answers.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <initializer_list>

static void property(MSIHANDLE session, const char* name)
{
    char buffer[512] = "";
    DWORD size = sizeof buffer;
    UINT r = MsiGetPropertyA(session, name, buffer, &size);
    std::printf("  Property %s -> %u \"%s\"\n", name, r, buffer);
}

static void paths(MSIHANDLE session, const char* name)
{
    char target[512] = "", source[512] = "";
    DWORD ts = sizeof target, ss = sizeof source;
    UINT rt = MsiGetTargetPathA(session, name, target, &ts);
    UINT rs = MsiGetSourcePathA(session, name, source, &ss);
    std::printf("  Paths %s -> target %u \"%s\", source %u \"%s\"\n", name, rt, target, rs, source);
}

static void show(MSIHANDLE session, const char* when)
{
    std::printf("%s:\n", when);
    for (const char* name : {"TARGETDIR", "ProgramFilesFolder", "INSTALLDIR", "SUBDIR", "SourceDir", "SOURCEDIR"}) {
        property(session, name);
    }
    for (const char* name : {"TARGETDIR", "INSTALLDIR", "SUBDIR"}) {
        paths(session, name);
    }
}

// Paths are printed as they are, without C escapes.
static void setTarget(MSIHANDLE session, const char* name, const char* path)
{
    std::printf("SetTargetPath(%s, %s) -> %u\n", name, path ? path : "NULL", MsiSetTargetPathA(session, name, path));
    property(session, name);
    paths(session, name);
}

static void message(MSIHANDLE session, const char* what, INSTALLMESSAGE type, MSIHANDLE record)
{
    std::printf("ProcessMessage(%s) -> %d\n", what, MsiProcessMessage(session, type, record));
}

int main(int argc, char** argv)
{
    const char* package = argc > 1 ? argv[1] : "probe_session.msi";
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE session = 0;
    UINT r = MsiOpenPackageA(package, &session);
    std::printf("OpenPackage -> %u\n", r);
    if (r != ERROR_SUCCESS) {
        return 1;
    }
    show(session, "Before costing");
    for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"}) {
        std::printf("DoAction %s -> %u\n", action, MsiDoActionA(session, action));
    }
    show(session, "After CostFinalize");

    setTarget(session, "INSTALLDIR", "C:\\Other");
    show(session, "After SetTargetPath");
    setTarget(session, "INSTALLDIR", "C:\\Two\\");
    setTarget(session, "INSTALLDIR", "C:\\Dbl\\\\Path");
    std::printf("SetProperty(INSTALLDIR, C:\\ByProp\\) -> %u\n",
                MsiSetPropertyA(session, "INSTALLDIR", "C:\\ByProp\\"));
    paths(session, "INSTALLDIR");
    setTarget(session, "INSTALLDIR", "relative");
    setTarget(session, "INSTALLDIR", "");
    setTarget(session, "INSTALLDIR", nullptr);
    setTarget(session, "NOSUCH", "C:\\x");

    MSIHANDLE one = MsiCreateRecord(1);
    MsiRecordSetInteger(one, 1, 26002);
    message(session, "INFO, [26002]", INSTALLMESSAGE_INFO, one);
    MSIHANDLE text = MsiCreateRecord(1);
    MsiRecordSetStringA(text, 0, "probe [1]");
    MsiRecordSetStringA(text, 1, "text");
    message(session, "INFO, text", INSTALLMESSAGE_INFO, text);
    message(session, "ERROR, [26002]", INSTALLMESSAGE_ERROR, one);
    message(session, "WARNING, text", INSTALLMESSAGE_WARNING, text);
    message(session, "USER, text", INSTALLMESSAGE_USER, text);
    message(session, "ERROR|MB_YESNO, text", INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_YESNO), text);
    message(session, "ACTIONSTART, text", INSTALLMESSAGE_ACTIONSTART, text);
    message(session, "ACTIONDATA, text", INSTALLMESSAGE_ACTIONDATA, text);
    message(session, "COMMONDATA, text", INSTALLMESSAGE_COMMONDATA, text);
    message(session, "INFO, record 0", INSTALLMESSAGE_INFO, 0);
    message(session, "INFO, session 0", INSTALLMESSAGE_INFO, 0);
    message(session, "INFO, session is a record", INSTALLMESSAGE_INFO, one);
    std::printf("ProcessMessage(record as session) -> %d\n", MsiProcessMessage(one, INSTALLMESSAGE_INFO, one));
    std::printf("ProcessMessage(session 0, record) -> %d\n", MsiProcessMessage(0, INSTALLMESSAGE_INFO, one));
    MsiCloseHandle(one);
    MsiCloseHandle(text);
    std::printf("ProcessMessage(closed record) -> %d\n", MsiProcessMessage(session, INSTALLMESSAGE_INFO, one));
    MsiCloseHandle(session);
    std::printf("CloseAllHandles -> %u\n", MsiCloseAllHandles());
    return 0;
}
