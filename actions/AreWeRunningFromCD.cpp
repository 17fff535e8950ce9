#include "actions/ActionFrame.h"
#include "actions/QelCustInst.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/KestMsiDirectory.h"
#include "text/Unicode.h"

#include <algorithm>
#include <vector>

using qel::WideText;

namespace {

// The root of the volume the path lies on ("D:\", "\\server\share\" or a mount folder), which is
// what GetDriveType takes; the path itself when Windows cannot tell. One form for the ANSI calls,
// one for the wide ones.
template <class Text, class Char>
Text volumeRoot(const Text& path, BOOL(WINAPI* getVolumePathName)(const Char*, Char*, DWORD))
{
    // A root is the beginning of the path plus a backslash, or for a relative path the current
    // drive's root or volume name, which MAX_PATH holds.
    const std::size_t size = std::max<std::size_t>(path.size() + 2, MAX_PATH);
    std::vector<Char> root(size);
    if (!getVolumePathName(path.c_str(), root.data(), static_cast<DWORD>(size))) {
        return path;
    }
    return Text(root.data());
}

// The installer's own text of the directory's source path, which the ANSI code page need not
// hold; empty when the installer does not give it.
WideText wideSourcePath(const KestMsiDirectory& directory)
{
    const MSIHANDLE session = directory.getHandle().getMsiHandle();
    const WideText name = qel::ansiToWide(directory.getName());
    WideText path(1, WCHAR());
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD size = static_cast<DWORD>(path.size());
        const UINT result = MsiGetSourcePathW(session, name.c_str(), path.data(), &size);
        if (result == ERROR_SUCCESS) {
            path.resize(size);
            return path;
        }
        if (result != ERROR_MORE_DATA) {
            break;
        }
        path.assign(size + 1, WCHAR());  // the length asked for, and its terminator
    }
    return {};
}

// The drive type of the volume the source path lies on. A character the ANSI code page lacks
// reads as '?' in the path's ANSI text, which would then name another folder: a disc mounted in
// "C:\Диски\CD\" reads "C:\?????\CD\", on the fixed drive C:. Only a path that holds more of
// them than the installer's own text is taken again, whole, through the wide calls.
UINT sourceDriveType(const KestMsiDirectory& directory)
{
    const KestCString source = directory.getSourceDir();
    const auto lost = std::count(source.begin(), source.end(), '?');
    if (lost != 0) {
        const WideText wide = wideSourcePath(directory);
        if (!wide.empty() && std::count(wide.begin(), wide.end(), WCHAR('?')) < lost) {
            return GetDriveTypeW(volumeRoot(wide, &GetVolumePathNameW).c_str());
        }
    }
    return GetDriveTypeA(volumeRoot(source, &GetVolumePathNameA).c_str());
}

void areWeRunningFromCD(KestMsiHandle& session)
{
    KestMsiDirectory installDir(session, "INSTALLDIR");
    installDir.cacheValue();

    // A package's files are often in a folder of the disc, but only a root has a drive type.
    const UINT driveType = sourceDriveType(installDir);

    KestMsiBoolProperty promptForCd(session, "PROMPT_FOR_CD1");
    promptForCd.setValue(driveType == DRIVE_CDROM);
    promptForCd.write();
}

}  // namespace

UINT WINAPI qelAreWeRunningFromCD(MSIHANDLE session)
{
    return qel::runAction(session, "qelAreWeRunningFromCD", &areWeRunningFromCD);
}
