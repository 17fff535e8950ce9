// The shared tests' backend on the host build: the platform model, set up like a session of the
// test package (backend/windows/QelTest.wxs) after costing.
#include "backend/Backend.h"

#include "Simulation.h"
#include "shared/ScriptActions.h"

namespace {

MSIHANDLE openSession = 0;

// The model's texts are UTF-8; the backend's are in the system's ANSI code page, as the A calls
// take and give them on Windows.
std::string between(UINT from, UINT to, const std::string& text)
{
    if (text.empty()) {
        return text;
    }
    std::basic_string<WCHAR> wide(text.size(), 0);
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()),
                                                             wide.data(), static_cast<int>(text.size()))));
    std::string converted(wide.size() * 4, '\0');
    converted.resize(static_cast<std::size_t>(WideCharToMultiByte(to, 0, wide.data(), static_cast<int>(wide.size()),
                                                                  converted.data(), static_cast<int>(converted.size()),
                                                                  nullptr, nullptr)));
    return converted;
}

void setProductProperties(MSIHANDLE session)
{
    sim::setProperty(session, "ProductLine", "Demo Product");
    sim::setProperty(session, "ProductCode", "{5B1C9E3A-0D47-4F2B-8A61-7E3D2C9B4A15}");
    sim::setProperty(session, "UserSID", "S-1-5-21-0-0-0-1000");
    sim::setLanguage(session, 1033);
}

}  // namespace

void Backend::beginTest()
{
    sim::reset();
    openSession = 0;
}

unsigned long Backend::endTest()
{
    if (openSession != 0) {
        MsiCloseHandle(openSession);
        openSession = 0;
    }
    // What the case left open, as the model's one check counts it (a pending error record is the
    // installer's, as on Windows). Closing a handle twice is no leftover here: the contract cases
    // try it on purpose.
    const sim::Leftovers left = sim::leftovers();
    return static_cast<unsigned long>(sim::openHandles(sim::HandleKind::session) + left.records + left.databases +
                                      left.views + left.searches + left.files + left.systemBuffers);
}

MSIHANDLE Backend::session()
{
    if (openSession == 0) {
        openSession = sim::openSession();
        // Opened by the test process, not handed to a custom action: lengths are not doubled.
        sim::setDoubledMoreDataLength(false);
        setProductProperties(openSession);
        sim::setDirectory(openSession, "TARGETDIR", "C:\\", packageFolder());
        sim::setDirectory(openSession, "ProgramFilesFolder", "C:\\Program Files (x86)\\", packageFolder(), "TARGETDIR");
        sim::setDirectory(openSession, "INSTALLDIR", installDirTarget(), packageFolder(), "ProgramFilesFolder");
        sim::setFeature(openSession, "Main", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL, {"Folder"});
        sim::addTable(openSession, "QelSetting",
                      {{"Name", "s72"}, {"Value", "S0"}, {"Number", "I2"}, {"Sequence", "i2"}});
        for (const auto& row : settingRows()) {
            sim::addRow(openSession, "QelSetting", {row[0], row[1], row[2], row[3]});
        }
        sim::addCustomAction(openSession, "SetByAction", sim::customActionSetProperty, "SETBYACTION", "[ProductLine]!");
        sim::addCustomAction(openSession, "DeferredWithoutCode", sim::customActionDll | sim::customActionInScript,
                             "NoSuchBinary", "entry");
    }
    return openSession;
}

Backend::Installation Backend::install(const std::string& plan)
{
    const MSIHANDLE session = sim::openSession();
    setProductProperties(session);
    sim::setProperty(session, "QEL_PLAN", plan);
    constexpr int scheduled = sim::customActionDll | sim::customActionInScript | sim::customActionNoImpersonate;
    sim::addCustomAction(session, "QelSchedule", sim::customActionDll, &qelScheduleScript);
    sim::addCustomAction(session, "QelDeferred", scheduled, &qelReportScript);
    sim::addCustomAction(session, "QelRollback", scheduled | sim::customActionRollback, &qelReportScript);
    sim::addCustomAction(session, "QelCommit", scheduled | sim::customActionCommit, &qelReportScript);
    sim::addCustomAction(session, "QelFail", scheduled, &qelFailScript);
    const std::size_t before = sim::messages().size();
    const sim::Installation installation = sim::runInstallation(session, {"QelSchedule"});
    MsiCloseHandle(session);

    Installation result{installation.result, {}, {}};
    const auto& messages = sim::messages();
    for (auto message = messages.begin() + static_cast<long>(before); message != messages.end(); ++message) {
        // As the installer logs them: formatted.
        if (message->type == INSTALLMESSAGE_INFO && message->text.rfind("qel: ", 0) == 0) {
            result.reports.push_back(message->text.substr(5));
        }
        result.log += message->text + "\n";
    }
    return result;
}

std::string Backend::installDirTarget()
{
    return "C:\\Program Files (x86)\\QelTest\\";
}

std::string Backend::packageFolder()
{
    return "C:\\Tests\\";
}

void Backend::setProperty(const std::string& name, const std::string& value)
{
    sim::setProperty(session(), between(CP_ACP, CP_UTF8, name), between(CP_ACP, CP_UTF8, value));
}

std::string Backend::property(const std::string& name)
{
    return between(CP_UTF8, CP_ACP, sim::property(session(), between(CP_ACP, CP_UTF8, name)));
}

std::string Backend::lineEnd()
{
    return "\n";
}

std::string Backend::systemText(unsigned long code)
{
    // The model carries Windows' own texts.
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return "The system cannot find the file specified.\r\n";
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the path specified.\r\n";
    case ERROR_DIRECTORY:
        return "The directory name is invalid.\r\n";
    case ERROR_INSTALL_FAILURE:
        return "Fatal error during installation.\r\n";
    default:
        return "";
    }
}

std::filesystem::path Backend::makeFolder(const std::string& relative)
{
    return sim::makeFolder("C:\\" + relative + "\\");
}

std::filesystem::path Backend::useTempFolder(const std::string& relative)
{
    sim::setTempPath("C:\\" + relative + "\\");
    return sim::tempPath();
}

bool Backend::leaveLastErrorRecord()
{
    sim::setPendingErrorRecord({sim::Null{}, 1615, std::string("SELEC garbage")});
    return true;
}

bool Backend::useCodePage932()
{
    sim::setCodePage(932);
    return true;
}

bool Backend::departs(const Documented&)
{
    return false;
}
