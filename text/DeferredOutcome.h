// The outcome of a call, kept to be handed on later: its result, or the exception it threw.
//
// For the functions that take printf-style arguments (...): va_end belongs in the function that ran
// va_start, on every way out of it, so whatever the call that reads the list throws waits until then:
//     va_list arguments;
//     va_start(arguments, format);
//     auto outcome = DeferredOutcome<int>::of([&] { return textV(format, arguments); });
//     va_end(arguments);
//     return outcome.get();
// Holding and throwing again takes no memory of the program's own: the exception thrown is the one caught.
#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

template <class Result>
class DeferredOutcome {
public:
    template <class Call>
    static DeferredOutcome of(Call&& call) noexcept
    {
        DeferredOutcome outcome;
        try {
            if constexpr (std::is_void_v<Result>) {
                std::forward<Call>(call)();
            } else {
                outcome.result.emplace(std::forward<Call>(call)());
            }
        } catch (...) {
            outcome.thrown = std::current_exception();
        }
        return outcome;
    }

    // The call's result; or the exception it threw, thrown again.
    Result get()
    {
        if (thrown) {
            std::rethrow_exception(thrown);
        }
        if constexpr (!std::is_void_v<Result>) {
            return std::move(*result);
        }
    }

private:
    DeferredOutcome() = default;

    std::optional<std::conditional_t<std::is_void_v<Result>, bool, Result>> result;
    std::exception_ptr thrown;
};
