#include "msi/KestMsiProperty.h"

#include "errors/EKestMsiError.h"
#include "errors/PersistingRule.h"
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
    // clang-format off
    static constexpr PersistingRule rule{"KestMsiProperty::read", fileName, none, checked(), unchecked(), unknownExceptionWasTrapped};
    // clang-format on
    return persist(rule, [&] {
        const MSIHANDLE session = getHandle().getMsiHandle();
        KestCString value;
        const UINT result = queryInstallerText(
            [&](char* buffer, DWORD* size) { return MsiGetPropertyA(session, name.c_str(), buffer, size); }, 1, value);
        if (result != ERROR_SUCCESS) {
            throw EKestMsiError(static_cast<int>(result), rule.context, fileName, __LINE__,
                                "Function Failed: MsiGetProperty()");
        }
        return value;
    });
}

void KestMsiProperty::write(const KestCString& value) const
{
    // clang-format off
    static constexpr PersistingRule rule{"KestMsiProperty::write", fileName, none, checked(), unchecked(), unknownExceptionWasTrapped};
    // clang-format on
    persist(rule, [&] {
        const UINT result = MsiSetPropertyA(getHandle().getMsiHandle(), name.c_str(), value.c_str());
        if (result != ERROR_SUCCESS) {
            throw EKestMsiError(static_cast<int>(result), rule.context, fileName, __LINE__,
                                "Function Failed: MsiSetProperty()");
        }
    });
}

void KestMsiProperty::dump(std::ostream& stream) const
{
    KestMsiObject::dump(stream);
    dumpLine(stream, "PropertyName = ", name);
}
