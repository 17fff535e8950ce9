#include "msi/KestMsiDatabase.h"

#include "errors/Raise.h"
#include "msi/KestMsiView.h"

using namespace persisting;

namespace {
constexpr const char* fileName = "KestMsiDatabase";
}  // namespace

KestMsiDatabase::KestMsiDatabase(const KestMsiHandle& session) : KestMsiObject()
{
    static constexpr PersistingRule rule("KestMsiDatabase::KestMsiDatabase", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const MSIHANDLE database = MsiGetActiveDatabase(session.getMsiHandle());
        if (database == 0) {
            // The installer tells no reason: a deferred action, or a handle that is no session.
            raiseException(rule, failedCall("MsiGetActiveDatabase"));
        }
        getHandle() = KestMsiHandle(database, false);
    });
}

KestMsiView KestMsiDatabase::openView(const qel::TextArg& query) const
{
    return KestMsiView(*this, query);
}
