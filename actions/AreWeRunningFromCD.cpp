#include "actions/ActionFrame.h"
#include "actions/QelCustInst.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/KestMsiDirectory.h"

#include <algorithm>
#include <vector>

namespace {

// The root of the volume the path lies on ("D:\", "\\server\share\" or a mount folder), which is
// what GetDriveTypeA takes; the path itself when Windows cannot tell.
KestCString volumeRoot(const KestCString& path)
{
    // A root is the beginning of the path plus a backslash, or for a relative path the current
    // drive's root or volume name, which MAX_PATH holds.
    const std::size_t size = std::max<std::size_t>(path.size() + 2, MAX_PATH);
    std::vector<char> root(size);
    if (!GetVolumePathNameA(path.c_str(), root.data(), static_cast<DWORD>(size))) {
        return path;
    }
    return KestCString(root.data());
}

void areWeRunningFromCD(KestMsiHandle& session)
{
    KestMsiDirectory installDir(session, "INSTALLDIR");
    installDir.cacheValue();

    // A package's files are often in a folder of the disc, but only a root has a drive type.
    const UINT driveType = GetDriveTypeA(volumeRoot(installDir.getSourceDir()).c_str());

    KestMsiBoolProperty promptForCd(session, "PROMPT_FOR_CD1");
    promptForCd.setValue(driveType == DRIVE_CDROM);
    promptForCd.write();
}

}  // namespace

UINT WINAPI qelAreWeRunningFromCD(MSIHANDLE session)
{
    return qel::runAction(session, "qelAreWeRunningFromCD", &areWeRunningFromCD);
}
