#include "errors/PersistingRule.h"

namespace persisting::detail {
namespace {

// The rule's handler for class X. Returns false when it has none or the exception is no X, true when
// the handler ends the exception; otherwise throws the handler's copy.
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
    record(rule, handler, caught, line);
    if (handler.form == Form::endsIt) {
        return true;
    }
    throw X(*asX);
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
    passForeign(rule, line);
}

void passForeign(const PersistingRule& rule, int line)
{
    if (rule.catchAll == noCatchAll) {
        throw;
    }
    throw EKestException(rule.context, rule.fileName, line, rule.catchAll);
}

}  // namespace persisting::detail
