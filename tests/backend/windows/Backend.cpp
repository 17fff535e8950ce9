// The shared tests' backend on the Windows build: the real installer and system, as Wine runs
// them. wine-unit.sh names the test package (QEL_TEST_PACKAGE) and a folder of the run's own
// (QEL_TEST_FOLDER), in which every case gets a folder with its temporary folder and the
// installer's log of its session.
#include "backend/Backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

MSIHANDLE openSession = 0;
std::string caseFolder;

std::string environment(const char* name)
{
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) {
        throw std::runtime_error(std::string(name) + " is not set: run the tests with wine-unit.sh");
    }
    return value;
}

void createFolder(const std::string& path)
{
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        throw std::runtime_error("cannot create the folder " + path);
    }
}

std::wstring wide(const std::string& text, UINT codePage)
{
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring converted(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), converted.data(), length);
    return converted;
}

// Wine's ntdll exports its version; Windows' does not.
bool underWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

void Backend::beginTest()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/' || c == '\\') {
            c = '.';
        }
    }
    caseFolder = environment("QEL_TEST_FOLDER") + "\\" + name + "\\";
    createFolder(caseFolder);
    createFolder(caseFolder + "temp");
    // GetTempPathA reads TMP first, then TEMP.
    const std::string temp = caseFolder + "temp\\";
    SetEnvironmentVariableA("TMP", temp.c_str());
    SetEnvironmentVariableA("TEMP", temp.c_str());
    openSession = 0;
}

unsigned long Backend::endTest()
{
    if (openSession != 0) {
        MsiCloseHandle(openSession);
        openSession = 0;
    }
    // Closes every handle this thread still holds and answers how many there were.
    return MsiCloseAllHandles();
}

MSIHANDLE Backend::session()
{
    if (openSession != 0) {
        return openSession;
    }
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    const std::string log = caseFolder + "installer.log";
    if (const UINT result = MsiEnableLogA(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO | INSTALLLOGMODE_WARNING |
                                              INSTALLLOGMODE_ERROR | INSTALLLOGMODE_ACTIONSTART,
                                          log.c_str(), 0);
        result != ERROR_SUCCESS) {
        throw std::runtime_error("MsiEnableLogA(" + log + ") answered " + std::to_string(result));
    }
    const std::string package = environment("QEL_TEST_PACKAGE");
    if (const UINT result = MsiOpenPackageA(package.c_str(), &openSession); result != ERROR_SUCCESS) {
        openSession = 0;
        throw std::runtime_error("MsiOpenPackageA(" + package + ") answered " + std::to_string(result));
    }
    for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"}) {
        if (const UINT result = MsiDoActionA(openSession, action); result != ERROR_SUCCESS) {
            throw std::runtime_error(std::string("MsiDoActionA(") + action + ") answered " + std::to_string(result) +
                                     "; the installer's log: " + log);
        }
    }
    return openSession;
}

Backend::Installation Backend::install(const std::string& plan)
{
    // The script package lies beside the test package.
    const std::string package = packageFolder() + "QelScript.msi";
    const std::string log = caseFolder + "install.log";
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    if (const UINT result = MsiEnableLogA(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO, log.c_str(), 0);
        result != ERROR_SUCCESS) {
        throw std::runtime_error("MsiEnableLogA(" + log + ") answered " + std::to_string(result));
    }
    const std::string properties = "QEL_PLAN=\"" + plan + "\"";
    Installation installation{MsiInstallProductA(package.c_str(), properties.c_str()), {}, {}};
    // The reports are the log's lines that hold "qel: ", as the actions' INFO messages put them.
    std::ifstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (const std::size_t at = line.find("qel: "); at != std::string::npos) {
            installation.reports.push_back(line.substr(at + 5));
        }
        installation.log += line + "\n";
    }
    return installation;
}

std::string Backend::installDirTarget()
{
    return "C:\\Program Files (x86)\\QelTest\\";
}

std::string Backend::packageFolder()
{
    const std::string package = environment("QEL_TEST_PACKAGE");
    return package.substr(0, package.find_last_of('\\') + 1);
}

void Backend::setProperty(const std::string& name, const std::string& value)
{
    if (const UINT result = MsiSetPropertyA(session(), name.c_str(), value.c_str()); result != ERROR_SUCCESS) {
        throw std::runtime_error("MsiSetPropertyA(" + name + ") answered " + std::to_string(result));
    }
}

std::string Backend::property(const std::string& name)
{
    char value[4096] = {};
    DWORD size = sizeof value;
    if (const UINT result = MsiGetPropertyA(session(), name.c_str(), value, &size); result != ERROR_SUCCESS) {
        throw std::runtime_error("MsiGetPropertyA(" + name + ") answered " + std::to_string(result));
    }
    return std::string(value, size);
}

std::string Backend::lineEnd()
{
    return "\r\n";
}

std::string Backend::systemText(unsigned long code)
{
    // Wine's texts are shorter than Windows' own.
    const bool wine = underWine();
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return wine ? "File not found.\r\n" : "The system cannot find the file specified.\r\n";
    case ERROR_PATH_NOT_FOUND:
        return wine ? "Path not found.\r\n" : "The system cannot find the path specified.\r\n";
    case ERROR_DIRECTORY:
        return wine ? "Directory name invalid.\r\n" : "The directory name is invalid.\r\n";
    case ERROR_INSTALL_FAILURE:
        return wine ? "Installation failure.\r\n" : "Fatal error during installation.\r\n";
    default:
        return "";
    }
}

std::filesystem::path Backend::makeFolder(const std::string& relative)
{
    std::wstring folder = wide(caseFolder, CP_ACP);
    const std::wstring rest = wide(relative + "\\", CP_UTF8);
    for (std::size_t from = 0, end; (end = rest.find(L'\\', from)) != std::wstring::npos; from = end + 1) {
        folder += rest.substr(from, end - from + 1);
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create the folder " + relative);
        }
    }
    return folder;
}

std::filesystem::path Backend::useTempFolder(const std::string& relative)
{
    const std::filesystem::path folder = makeFolder(relative);
    // GetTempPathW reads TMP first, then TEMP.
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    return folder;
}

bool Backend::leaveLastErrorRecord()
{
    // A query the installer cannot parse fails and leaves its error record.
    const MSIHANDLE database = MsiGetActiveDatabase(session());
    MSIHANDLE view = 0;
    const UINT result = MsiDatabaseOpenViewA(database, "SELEC garbage", &view);
    MsiCloseHandle(view);
    MsiCloseHandle(database);
    return result != ERROR_SUCCESS;
}

bool Backend::useCodePage932()
{
    return GetACP() == 932;
}

bool Backend::departs(const Documented& behaviour)
{
    // The documented behaviours Wine departs from. Every other one is checked there too, so a new
    // departure fails its case; and so does a listed one that Wine no longer makes.
    static constexpr const Documented* wineDepartures[] = {
        &documented::recordTextNeedsASize,
        &documented::noIntegerReadsAsNull,
        &documented::textBeyondTheCountIsRefused,
        &documented::lastErrorRecordIsHandedOver,
        &documented::messageOfAnInvalidRecordAnswersMinusOne,
        &documented::secondFindCloseFails,
        &documented::fetchAfterCloseFails,
        &documented::sessionDatabaseTakesTemporaryRowsOnly,
        // Wine runs every rollback action of the script when an installation fails, those written
        // after the failed action too, and also when an immediate action failed before the script.
        &documented::failedScriptRunsItsRollbackActions,
        &documented::deferredActionHasNoDatabase,
        &documented::deferredActionReadsItsDataOnly,
        // An action of the script may set feature states and properties (0), evaluate conditions
        // (true) and is refused only MsiDoAction (ERROR_FUNCTION_NOT_CALLED); a commit action has
        // the language and ProductCode.
        &documented::scriptActionSetsNoFeatureState,
        &documented::scriptActionRunsNoAction,
        &documented::scriptActionSetsNoProperty,
        &documented::scriptActionEvaluatesNoCondition,
        &documented::commitActionHasNoLanguage,
        &documented::commitActionReadsNoProductCode,
        // Wine ignores lpDefaultChar and lpUsedDefaultChar for CP_UTF8 and converts.
        &documented::utf8ConversionTakesNoDefaultCharacter,
    };
    return underWine() &&
           std::find(std::begin(wineDepartures), std::end(wineDepartures), &behaviour) != std::end(wineDepartures);
}
