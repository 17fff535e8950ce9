#include "msi/KestMsiView.h"

#include "errors/Raise.h"
#include "msi/KestMsiDatabase.h"

#include <string>
#include <utility>

using namespace persisting;

namespace {
constexpr const char* fileName = "KestMsiView";
}  // namespace

KestMsiView::KestMsiView(const KestMsiDatabase& database, const qel::TextArg& text) : KestMsiObject()
{
    static constexpr PersistingRule rule("KestMsiView::KestMsiView", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        query = qel::Text(text.utf8());
        MSIHANDLE view = 0;
        const UINT result = MsiDatabaseOpenViewW(database.getHandle().getMsiHandle(), text.wide().c_str(), &view);
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiDatabaseOpenView", query.c_str()), result);
        }
        getHandle() = KestMsiHandle(view, false);
    });
}

// The moved view's handle group gets one more owner and the moved one stops closing the result:
// the result stays open for this one.
KestMsiView::KestMsiView(KestMsiView&& other) noexcept
    : KestMsiObject(other), query(std::move(other.query)), executed(std::exchange(other.executed, false))
{
}

KestMsiView::~KestMsiView()
{
    if (executed) {
        MsiViewClose(getHandle().getMsiHandle());  // the handle is closed next, whatever this answers
    }
}

void KestMsiView::execute()
{
    executeWith(0, 0);
}

void KestMsiView::execute(const KestMsiRecord& parameters)
{
    executeWith(parameters.getHandle().getMsiHandle(), parameters.fieldCount());
}

namespace {

// The ? markers of a query, outside its 'text' and `name` quotes.
unsigned int markersOf(const std::string& query)
{
    unsigned int markers = 0;
    char quote = 0;
    for (const char c : query) {
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '\'' || c == '`') {
            quote = c;
        } else if (c == '?') {
            ++markers;
        }
    }
    return markers;
}

}  // namespace

void KestMsiView::executeWith(MSIHANDLE parameters, unsigned int count)
{
    static constexpr PersistingRule rule("KestMsiView::execute", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        if (const unsigned int markers = markersOf(query); markers != count) {
            raiseInvalidParameter(rule,
                                  KestCString("The query \"" + query + "\" has " + std::to_string(markers) +
                                              " parameter markers, but " + std::to_string(count) + " values were given")
                                      .c_str());
        }
        if (executed) {
            close();
        }
        const UINT result = MsiViewExecute(getHandle().getMsiHandle(), parameters);
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiViewExecute", query.c_str()), result);
        }
        executed = true;
    });
}

std::optional<KestMsiRecord> KestMsiView::fetch()
{
    static constexpr PersistingRule rule("KestMsiView::fetch", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&]() -> std::optional<KestMsiRecord> {
        MSIHANDLE row = 0;
        const UINT result = MsiViewFetch(getHandle().getMsiHandle(), &row);
        if (result == ERROR_NO_MORE_ITEMS) {
            return std::nullopt;
        }
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiViewFetch", query.c_str()), result);
        }
        // The row's handle is ours from here: a group that fails to form closes it.
        return KestMsiRecord::joining(KestMsiHandle(row, false));
    });
}

void KestMsiView::modify(MSIMODIFY mode, const KestMsiRecord& record)
{
    static constexpr PersistingRule rule("KestMsiView::modify", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiViewModify(getHandle().getMsiHandle(), mode, record.getHandle().getMsiHandle());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiViewModify", query.c_str()), result);
        }
    });
}

void KestMsiView::insertTemporary(const KestMsiRecord& record)
{
    modify(MSIMODIFY_INSERT_TEMPORARY, record);
}

void KestMsiView::close()
{
    static constexpr PersistingRule rule("KestMsiView::close", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiViewClose(getHandle().getMsiHandle());
        executed = false;
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiViewClose", query.c_str()), result);
        }
    });
}

KestMsiView::iterator::iterator(KestMsiView& view) : view(&view), row(view.fetch()) {}

KestMsiView::iterator& KestMsiView::iterator::operator++()
{
    row.reset();  // the row before goes first: one row handle open at a time
    row = view->fetch();
    return *this;
}
