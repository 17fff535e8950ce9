// Installs a package as a setup program with a user interface of its own would: the installer hands
// it every warning to show, and it answers each with the button given on its command line.
//
//   external-ui.exe ok|cancel full|reduced|basic|none PACKAGE LOG [NAME=VALUE]...
//
// The installer's own interface runs at the level given (the UILevel property of the installation),
// the installation writes a verbose log to LOG, and the program prints each warning it answered and
// the installation's result, with which it exits.
#include <windows.h>

#include <msi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int answer = IDOK;
int warnings = 0;

// Answers a warning with the chosen button; leaves every other message to the installer.
INT CALLBACK showMessage(LPVOID, UINT type, LPCSTR message)
{
    if ((type & 0xFF000000u) != INSTALLMESSAGE_WARNING) {
        return 0;
    }
    ++warnings;
    std::printf("warning (buttons %u) answered %s: %s\n", static_cast<unsigned>(type & MB_TYPEMASK),
                answer == IDOK ? "OK" : "Cancel", message != nullptr ? message : "");
    return answer;
}

bool uiLevel(const char* name, INSTALLUILEVEL& level)
{
    const struct {
        const char* name;
        INSTALLUILEVEL level;
    } levels[] = {{"full", INSTALLUILEVEL_FULL},
                  {"reduced", INSTALLUILEVEL_REDUCED},
                  {"basic", INSTALLUILEVEL_BASIC},
                  {"none", INSTALLUILEVEL_NONE}};
    for (const auto& known : levels) {
        if (std::strcmp(name, known.name) == 0) {
            level = known.level;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    INSTALLUILEVEL level = INSTALLUILEVEL_FULL;
    const bool known = argc >= 5 && (std::strcmp(argv[1], "ok") == 0 || std::strcmp(argv[1], "cancel") == 0);
    if (!known || !uiLevel(argv[2], level)) {
        std::fprintf(stderr, "usage: external-ui.exe ok|cancel full|reduced|basic|none PACKAGE LOG [NAME=VALUE]...\n");
        return ERROR_INVALID_PARAMETER;
    }
    answer = std::strcmp(argv[1], "ok") == 0 ? IDOK : IDCANCEL;
    // NAME=VALUE arguments, the value quoted again for the installer (it may hold spaces).
    std::string properties;
    for (int i = 5; i < argc; ++i) {
        const std::string setting = argv[i];
        const std::size_t equals = setting.find('=');
        properties += properties.empty() ? "" : " ";
        properties += equals == std::string::npos
                          ? setting
                          : setting.substr(0, equals + 1) + '"' + setting.substr(equals + 1) + '"';
    }

    MsiSetInternalUI(level, nullptr);
    MsiEnableLogA(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_PROPERTYDUMP | INSTALLLOGMODE_ACTIONSTART |
                      INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_INFO | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_ERROR |
                      INSTALLLOGMODE_USER | INSTALLLOGMODE_COMMONDATA | INSTALLLOGMODE_FATALEXIT,
                  argv[4], 0);
    MsiSetExternalUIA(showMessage, INSTALLLOGMODE_WARNING, nullptr);
    const UINT result = MsiInstallProductA(argv[3], properties.c_str());
    std::printf("warnings answered: %d\nMsiInstallProductA: %u\n", warnings, result);
    return static_cast<int>(result);
}
