#include "errors/PersistingRule.h"

#include <new>

namespace persisting::detail {
namespace {

// The rule's handler for class X. Returns false when it has none or the exception is no X, true when
// the handler ends the exception; otherwise throws the handler's copy. Out of memory, it adds no entry
// or makes no copy, and the caught exception goes on as it is: still of the family, one entry short.
// Only called from a handler of persist(), so a bare throw passes on the exception caught there.
template <class X>
bool handleAs(const PersistingRule& rule, const Handler& handler, EKestException& caught, int line)
{
    if (handler.form == Form::none) {
        return false;
    }
    auto* asX = dynamic_cast<X*>(&caught);
    if (asX == nullptr) {
        return false;
    }
    try {
        record(rule, handler, caught, line);
    } catch (const std::bad_alloc&) {
    }
    if (handler.form == Form::endsIt) {
        return true;
    }
    try {
        throw X(*asX);
    } catch (const std::bad_alloc&) {
    }
    throw;
}

}  // namespace

void record(const PersistingRule& rule, const Handler& handler, EKestException& caught, int line)
{
    if (handler.form == Form::unchecked || !caught.wasRaisedIn(rule.context)) {
        caught.addHistoryEntry(rule.context, rule.fileName, line, handler.text);
    }
}

void pass(const PersistingRule& rule, EKestException& caught, int line)
{
    if (handleAs<EKestInvalidParameter>(rule, rule.invalidParameter, caught, line) ||
        handleAs<EKestWinError>(rule, rule.winError, caught, line) ||
        handleAs<EKestException>(rule, rule.exception, caught, line)) {
        return;
    }
    // Out of memory for the catch-all's new exception, the caught one goes on as it is, as above.
    try {
        passForeign(rule, line);
    } catch (const std::bad_alloc&) {
    }
    throw;
}

void passForeign(const PersistingRule& rule, int line)
{
    if (rule.catchAll == noCatchAll) {
        throw;
    }
    throw EKestException(rule.context, rule.fileName, line, rule.catchAll);
}

}  // namespace persisting::detail
