#include "QEL_NAME.h"

#include <string>

namespace QEL_NAME_steps {

void lookForSetupIni(KestMsiHandle& session)
{
    // For a compressed package, the source folder of INSTALLDIR is the package's own folder. A
    // refused installer call throws, with a history that names the call and what it was for.
    // Texts are UTF-8 and reach the installer and Windows whole.
    const std::string file = qel::sourcePath(session, "INSTALLDIR") + "setup.ini";
    const bool found = qel::fileExists(file);
    qel::setProperty(session, "SETUP_INI_FOUND", found ? 1 : 0);
    // A line in the installer's log, which the Wine runner prints as "info:".
    qel::log(session, "QEL_NAME: %s %s", found ? "found" : "no", file);
}

}  // namespace QEL_NAME_steps

UINT WINAPI QEL_NAME(MSIHANDLE session)
{
    // An exception that ends the steps never leaves the DLL: the frame reports it in the
    // installer's log and answers 1603.
    return qel::runAction(session, "QEL_NAME", &QEL_NAME_steps::lookForSetupIni);
}
