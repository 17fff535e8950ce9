#include "msi/Database.h"

#include "errors/Raise.h"

#include <utility>

using namespace persisting;

namespace qel {
namespace {
constexpr const char* fileName = "Database";
}  // namespace

Rows rows(const KestMsiHandle& session, const TextArg& query)
{
    static constexpr PersistingRule rule("qel::rows", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        KestMsiView view = KestMsiDatabase(session).openView(query);
        view.execute();
        return Rows(std::move(view));
    });
}

Rows rows(const KestMsiHandle& session, const TextArg& query, const KestMsiRecord& parameters)
{
    static constexpr PersistingRule rule("qel::rows", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        KestMsiView view = KestMsiDatabase(session).openView(query);
        view.execute(parameters);
        return Rows(std::move(view));
    });
}

void insertTemporary(const KestMsiHandle& session, const TextArg& query, const KestMsiRecord& row)
{
    static constexpr PersistingRule rule("qel::insertTemporary", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        KestMsiView view = KestMsiDatabase(session).openView(query);
        view.execute();
        view.insertTemporary(row);
    });
}

}  // namespace qel
