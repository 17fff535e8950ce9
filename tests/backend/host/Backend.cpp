// The shared tests' backend on the host build: the platform model, set up like a session of the
// test package (backend/windows/QelTest.wxs) after costing.
#include "backend/Backend.h"

#include "Simulation.h"

namespace {

MSIHANDLE openSession = 0;

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
    return static_cast<unsigned long>(sim::openHandles(sim::HandleKind::session) + left.records + left.searches +
                                      left.systemBuffers);
}

MSIHANDLE Backend::session()
{
    if (openSession == 0) {
        openSession = sim::openSession();
        // Opened by the test process, not handed to a custom action: lengths are not doubled.
        sim::setDoubledMoreDataLength(false);
        sim::setProperty(openSession, "ProductLine", "Demo Product");
        sim::setDirectory(openSession, "TARGETDIR", "C:\\", packageFolder());
        sim::setDirectory(openSession, "ProgramFilesFolder", "C:\\Program Files (x86)\\", packageFolder(), "TARGETDIR");
        sim::setDirectory(openSession, "INSTALLDIR", installDirTarget(), packageFolder(), "ProgramFilesFolder");
    }
    return openSession;
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
    sim::setProperty(session(), name, value);
}

std::string Backend::property(const std::string& name)
{
    return sim::property(session(), name);
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
    case ERROR_DIRECTORY:
        return "The directory name is invalid.\r\n";
    case ERROR_INSTALL_FAILURE:
        return "Fatal error during installation.\r\n";
    default:
        return "";
    }
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
