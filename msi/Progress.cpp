#include "msi/Progress.h"

#include "errors/Raise.h"
#include "msi/Records.h"
#include "msi/Session.h"

using namespace persisting;

namespace qel {
namespace {
constexpr const char* fileName = "Progress";

// Field 1 of a progress message: what its field 2 means.
constexpr int reportTicks = 2;
constexpr int addToTotal = 3;
}  // namespace

int addProgressTicks(const KestMsiHandle& session, int ticks)
{
    static constexpr PersistingRule rule("qel::addProgressTicks", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return message(session, INSTALLMESSAGE_PROGRESS, record(addToTotal, ticks)); });
}

int actionStart(const KestMsiHandle& session, const TextArg& action, const TextArg& description,
                const TextArg& dataTemplate)
{
    static constexpr PersistingRule rule("qel::actionStart", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(
        rule, [&] { return message(session, INSTALLMESSAGE_ACTIONSTART, record(action, description, dataTemplate)); });
}

int actionData(const KestMsiHandle& session, const KestMsiRecord& fields)
{
    static constexpr PersistingRule rule("qel::actionData", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return message(session, INSTALLMESSAGE_ACTIONDATA, fields); });
}

int reportProgress(const KestMsiHandle& session, int ticks)
{
    static constexpr PersistingRule rule("qel::reportProgress", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return message(session, INSTALLMESSAGE_PROGRESS, record(reportTicks, ticks)); });
}

}  // namespace qel
