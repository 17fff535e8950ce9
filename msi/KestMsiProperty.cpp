#include "msi/KestMsiProperty.h"

#include "errors/Raise.h"
#include "msi/InstallerText.h"

using namespace persisting;

namespace {
constexpr const char* fileName = "KestMsiProperty";
}  // namespace

KestMsiProperty::KestMsiProperty(const KestMsiHandle& session, const KestCString& name)
    : KestMsiObject(session, true), name(name)
{
}

KestCString KestMsiProperty::read() const
{
    static constexpr PersistingRule rule("KestMsiProperty::read", fileName, none, checked(), unchecked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const MSIHANDLE session = getHandle().getMsiHandle();
        KestCString value;
        const UINT result = queryInstallerText(
            [&](char* buffer, DWORD* size) { return MsiGetPropertyA(session, name.c_str(), buffer, size); }, 1, value);
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiGetProperty"), result);
        }
        return value;
    });
}

void KestMsiProperty::write(const KestCString& value) const
{
    static constexpr PersistingRule rule("KestMsiProperty::write", fileName, none, checked(), unchecked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiSetPropertyA(getHandle().getMsiHandle(), name.c_str(), value.c_str());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiSetProperty"), result);
        }
    });
}

void KestMsiProperty::dump(std::ostream& stream) const
{
    KestMsiObject::dump(stream);
    dumpLine(stream, "PropertyName = ", name);
}
