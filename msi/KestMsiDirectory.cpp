#include "msi/KestMsiDirectory.h"

#include "errors/Raise.h"
#include "msi/InstallerText.h"

#include <utility>

using namespace persisting;

namespace {
constexpr const char* fileName = "KestMsiDirectory";

using PathQuery = UINT(WINAPI*)(MSIHANDLE, LPCSTR, LPSTR, LPDWORD);
}  // namespace

KestMsiDirectory::KestMsiDirectory(const KestMsiHandle& session, const KestCString& name)
    : KestMsiProperty(session, name)
{
}

void KestMsiDirectory::cacheValue()
{
    // Target first; each field changes only once its own query has succeeded.
    targetDir = cacheValue(TargetDir);
    sourceDir = cacheValue(SourceDir);
}

KestCString KestMsiDirectory::cacheValue(int dirType)
{
    static constexpr PersistingRule rule("KestMsiDirectory::cacheValue", fileName, checked(pesistingText), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        if (dirType != SourceDir && dirType != TargetDir) {
            raiseInvalidParameter(rule, "Illegal value passed for dirType");
        }
        const bool target = dirType == TargetDir;
        const PathQuery query = target ? &MsiGetTargetPathA : &MsiGetSourcePathA;
        const MSIHANDLE session = getHandle().getMsiHandle();
        const KestCString directory = getName();

        KestCString path;
        const UINT result = queryInstallerText(
            [&](char* buffer, DWORD* size) { return query(session, directory.c_str(), buffer, size); }, 1, path);
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall(target ? "MsiGetTargetPath" : "MsiGetSourcePath"), result);
        }
        return path;
    });
}

void KestMsiDirectory::write()
{
    static constexpr PersistingRule rule("KestMsiDirectory::write", fileName, none, checked(pesistingText), unchecked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const MSIHANDLE session = std::as_const(*this).getHandle().getMsiHandle();
        const UINT result = MsiSetTargetPathA(session, getName().c_str(), targetDir.c_str());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiSetTargetPath"), result);
        }
    });
}

KestCString KestMsiDirectory::setTargetDir(const KestCString& path)
{
    targetDir = path;
    return targetDir;
}

KestCString KestMsiDirectory::getTargetDir() const
{
    return targetDir;
}

KestCString KestMsiDirectory::getSourceDir() const
{
    return sourceDir;
}

void KestMsiDirectory::dump(std::ostream& stream) const
{
    KestMsiProperty::dump(stream);
    dumpLine(stream, "SourceDir = ", sourceDir);
    dumpLine(stream, "TargetDir = ", targetDir);
}
