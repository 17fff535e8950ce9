#include "actions/ActionFrame.h"
#include "actions/QelCustInst.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/KestMsiDirectory.h"

namespace {

void areWeRunningFromCD(KestMsiHandle& session)
{
    KestMsiDirectory installDir(session, "INSTALLDIR");
    installDir.cacheValue();

    // The whole source path, as the installer gave it; not cut down to its drive root.
    const UINT driveType = GetDriveTypeA(installDir.getSourceDir().c_str());

    KestMsiBoolProperty promptForCd(session, "PROMPT_FOR_CD1");
    promptForCd.setValue(driveType == DRIVE_CDROM);
    promptForCd.write();
}

}  // namespace

UINT WINAPI qelAreWeRunningFromCD(MSIHANDLE session)
{
    return qel::runAction(session, "qelAreWeRunningFromCD", &areWeRunningFromCD);
}
