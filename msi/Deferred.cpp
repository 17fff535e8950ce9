#include "msi/Deferred.h"

#include "errors/Raise.h"
#include "msi/Session.h"

using namespace persisting;

namespace qel {
namespace {
constexpr const char* fileName = "Deferred";
}  // namespace

void schedule(const KestMsiHandle& session, const TextArg& action, const DeferredData& data)
{
    static constexpr PersistingRule rule("qel::schedule", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] { schedule(session, action, data.encode()); });
}

void schedule(const KestMsiHandle& session, const TextArg& action, const TextArg& data)
{
    static constexpr PersistingRule rule("qel::schedule", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        setProperty(session, action, data);
        doAction(session, action);
    });
}

DeferredData deferredData(const KestMsiHandle& session)
{
    static constexpr PersistingRule rule("qel::deferredData", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return DeferredData::decode(property(session, "CustomActionData")); });
}

}  // namespace qel
