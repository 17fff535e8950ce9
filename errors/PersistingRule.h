// The persisting rule: how a library method passes exceptions on.
//
// A method runs its whole body through persist() with its rule: its context and file name and,
// in a fixed order, its handler for EKestInvalidParameter, for EKestWinError, for EKestException,
// and its catch-all text. The first typed handler whose class matches the exception
//   - adds a history entry (context, file, line, persisting text): always in the unchecked form,
//     and in the checked form only when the exception was not raised in this very method;
//   - throws a copy of its own class, so an EKestMsiError passed on by an EKestWinError handler
//     goes on as an EKestWinError;
//   - or, in the one "ends it" form, lets the method return its ended value instead.
// Anything no typed handler takes goes to the catch-all, which replaces it by a new EKestException
// carrying the catch-all text; without a catch-all it passes unchanged. The line recorded is that
// of the persist() call in the method.
//
// A method reads (its rule is one line, however long; the formatter leaves a `rule(...)` as it is):
//     static constexpr PersistingRule rule("Owner::read", fileName, none, checked(), unchecked(), noCatchAll);
//     return persist(rule, [&] { ... });
// and raises its own failures in one line each (errors/Raise.h).
#pragma once

#include "../errors/EKestException.h"
#include "../errors/EKestInvalidParameter.h"
#include "../errors/EKestWinError.h"

#include <source_location>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace persisting {

enum class Form { none, checked, unchecked, endsIt };

struct Handler {
    Form form = Form::none;
    const char* text = nullptr;
};

inline constexpr const char* persistingText = "Persisting exception";
// The spelling some methods have always written to their logs.
inline constexpr const char* pesistingText = "Pesisting exception";

inline constexpr Handler none{};
constexpr Handler checked(const char* text = persistingText)
{
    return {Form::checked, text};
}
constexpr Handler unchecked(const char* text = persistingText)
{
    return {Form::unchecked, text};
}
// Checked, and the exception ends in the method: it returns its ended value.
constexpr Handler checkedEndsIt(const char* text = persistingText)
{
    return {Form::endsIt, text};
}

// The catch-all texts, each named after its wording: logs and their readers know all three.
inline constexpr const char* unknownExceptionWasTrapped = "Unknown exception was trapped";
inline constexpr const char* unknonwExceptionWasTrapped = "Unknonw exception was trapped";
inline constexpr const char* unknownExceptionTrapped = "Unknown exception trapped";
inline constexpr const char* noCatchAll = nullptr;

}  // namespace persisting

struct PersistingRule {
    // Built in parentheses too, so that a method's rule stays on one line (see .clang-format).
    constexpr PersistingRule(const char* context, const char* fileName, persisting::Handler invalidParameter,
                             persisting::Handler winError, persisting::Handler exception, const char* catchAll)
        : context(context), fileName(fileName), invalidParameter(invalidParameter), winError(winError),
          exception(exception), catchAll(catchAll)
    {
    }

    const char* context;
    const char* fileName;
    persisting::Handler invalidParameter;
    persisting::Handler winError;
    persisting::Handler exception;
    const char* catchAll;  // persisting::noCatchAll: other exceptions pass unchanged
};

namespace persisting::detail {

// Adds the handler's history entry to `caught`, as its form says.
void record(const PersistingRule& rule, const Handler& handler, EKestException& caught, int line);

// Handles an exception of the family by the rule. Returns only when a handler ends it.
void pass(const PersistingRule& rule, EKestException& caught, int line);

// Handles any other exception (the one in flight) by the rule. Never returns.
[[noreturn]] void passForeign(const PersistingRule& rule, int line);

}  // namespace persisting::detail

// Runs `body` under `rule`. `ended` supplies the method's result when an "ends it" handler takes the
// exception; rules without such a handler never call it.
template <class Body, class Ended>
auto persist(const PersistingRule& rule, Body&& body, Ended&& ended,
             std::source_location where = std::source_location::current()) -> std::invoke_result_t<Body>
{
    const int line = static_cast<int>(where.line());
    try {
        return std::forward<Body>(body)();
    } catch (EKestException& caught) {
        persisting::detail::pass(rule, caught, line);
    } catch (...) {
        persisting::detail::passForeign(rule, line);
    }
    return std::forward<Ended>(ended)();
}

template <class Body>
auto persist(const PersistingRule& rule, Body&& body, std::source_location where = std::source_location::current())
    -> std::invoke_result_t<Body>
{
    return persist(
        rule, std::forward<Body>(body),
        []() -> std::invoke_result_t<Body> { throw std::logic_error("persisting rule ended an exception"); }, where);
}
