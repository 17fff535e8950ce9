// A printf-style format that the compiler has checked: a literal, written in the source, whose
// conversions match the arguments that come with it.
//
//     template <class... Args>
//     void note(qel::LiteralFormat<Args...> format, const Args&... args);
//
//     note("%d settings written to %s", count, path);   // compiles
//     note("%s settings", count);                        // does not: %s is given an int
//     note(textFromOutside.c_str());                     // does not: not a literal
//
// The arguments a format takes, by conversion: %d %i %u %o %x %X %c an integer (or an unscoped
// enumeration) of int's size or smaller, with l a long, ll a long long, z a size_t, j an intmax_t,
// t a ptrdiff_t (each signed or unsigned); %s a char pointer or a KestCString / std::string (its
// text is passed); %p a pointer; %f %F %e %E %g %G %a %A a double or float, with L a long double;
// a * width or precision an int. Flags "-+ #0", width and precision are free. Refused: %n,
// positional arguments (%1$d), the wide forms (%ls, %lc) and anything the C library does not know.
// A format whose conversions and arguments do not match in number or kind stops the compilation at
// the throw in check() below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace qel {
namespace format_detail {

// What a conversion takes from the arguments.
enum class Takes {
    integer,
    longInteger,
    longLongInteger,
    sizeInteger,
    maxInteger,
    differenceInteger,
    text,
    pointer,
    real,
    longReal
};

template <class T>
constexpr bool integerOfIntSize()
{
    if constexpr (std::is_enum_v<T>) {
        return std::is_convertible_v<T, int> && sizeof(T) <= sizeof(int);  // an unscoped one
    } else {
        return std::is_integral_v<T> && sizeof(T) <= sizeof(int);
    }
}

template <class T, class Signed>
constexpr bool eitherSign()
{
    return std::is_same_v<T, Signed> || std::is_same_v<T, std::make_unsigned_t<Signed>>;
}

template <class T>
constexpr bool isText()
{
    using Pointee = std::remove_cv_t<std::remove_pointer_t<T>>;
    return (std::is_pointer_v<T> && std::is_same_v<Pointee, char>) || std::is_base_of_v<std::string, T>;
}

// Whether an argument of type T (decayed) fits what a conversion takes.
template <class T>
constexpr bool fits(Takes takes)
{
    switch (takes) {
    case Takes::integer:
        return integerOfIntSize<T>();
    case Takes::longInteger:
        return eitherSign<T, long>();
    case Takes::longLongInteger:
        return eitherSign<T, long long>();
    case Takes::sizeInteger:
        return eitherSign<T, std::make_signed_t<std::size_t>>();
    case Takes::maxInteger:
        return eitherSign<T, std::intmax_t>();
    case Takes::differenceInteger:
        return eitherSign<T, std::ptrdiff_t>();
    case Takes::text:
        return isText<T>();
    case Takes::pointer:
        return (std::is_pointer_v<T> && !isText<T>()) || std::is_null_pointer_v<T>;
    case Takes::real:
        return std::is_same_v<T, double> || std::is_same_v<T, float>;
    case Takes::longReal:
        return std::is_same_v<T, long double>;
    }
    return false;
}

constexpr bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

constexpr bool isOneOf(char c, const char* set)
{
    for (; *set != '\0'; ++set) {
        if (*set == c) {
            return true;
        }
    }
    return false;
}

enum class Length { none, hh, h, l, ll, z, j, t, L };

// Reads the length modifier at `at`, if any, and steps over it.
constexpr Length readLength(const char*& at)
{
    if ((at[0] == 'h' || at[0] == 'l') && at[1] == at[0]) {
        at += 2;
        return at[-1] == 'h' ? Length::hh : Length::ll;
    }
    const char letter = *at++;
    switch (letter) {
    case 'h':
        return Length::h;
    case 'l':
        return Length::l;
    case 'z':
        return Length::z;
    case 'j':
        return Length::j;
    case 't':
        return Length::t;
    case 'L':
        return Length::L;
    default:
        --at;
        return Length::none;
    }
}

// Steps over a width or precision: digits, or a * that takes an int argument.
template <class Take>
constexpr void readCount(const char*& at, Take& take)
{
    if (*at == '*') {
        take(Takes::integer);
        ++at;
        return;
    }
    while (isDigit(*at)) {
        ++at;
    }
}

// What an integer conversion (d i u o x X) takes with a length; false for L, which takes none.
constexpr bool integerTakes(Length length, Takes& takes)
{
    switch (length) {
    case Length::none:
    case Length::hh:
    case Length::h:
        takes = Takes::integer;
        return true;
    case Length::l:
        takes = Takes::longInteger;
        return true;
    case Length::ll:
        takes = Takes::longLongInteger;
        return true;
    case Length::z:
        takes = Takes::sizeInteger;
        return true;
    case Length::j:
        takes = Takes::maxInteger;
        return true;
    case Length::t:
        takes = Takes::differenceInteger;
        return true;
    case Length::L:
        return false;
    }
    return false;
}

// Walks a format: for each argument a conversion takes (a * width or precision first), calls
// take(Takes) in order. False for a format the C library would not read as the checker does.
template <class Take>
constexpr bool walk(const char* format, Take&& take)
{
    const char* at = format;
    while (*at != '\0') {
        if (*at++ != '%') {
            continue;
        }
        if (*at == '%') {
            ++at;
            continue;
        }
        while (isOneOf(*at, "-+ #0")) {
            ++at;
        }
        readCount(at, take);
        if (*at == '$') {
            return false;  // positional arguments
        }
        if (*at == '.') {
            ++at;
            readCount(at, take);
        }
        const Length length = readLength(at);
        const char conversion = *at++;
        Takes takes = Takes::integer;
        if (isOneOf(conversion, "diuoxX") && integerTakes(length, takes)) {
            take(takes);
        } else if (conversion == 'c' && length == Length::none) {
            take(Takes::integer);
        } else if (conversion == 's' && length == Length::none) {
            take(Takes::text);
        } else if (conversion == 'p' && length == Length::none) {
            take(Takes::pointer);
        } else if (isOneOf(conversion, "fFeEgGaA") && (length == Length::none || length == Length::L)) {
            take(length == Length::L ? Takes::longReal : Takes::real);
        } else {
            return false;  // %n, wide forms, a length without its conversion, an unknown letter, the end
        }
    }
    return true;
}

// Whether `format` takes exactly arguments of the types Args, in order.
template <class... Args>
constexpr bool matches(const char* format)
{
    constexpr std::size_t count = sizeof...(Args);
    bool (*const fitsArgument[count + 1])(Takes) = {&fits<Args>..., nullptr};
    std::size_t taken = 0;
    bool fit = true;
    const bool known = walk(format, [&](Takes takes) {
        fit = fit && taken < count && fitsArgument[taken](takes);
        ++taken;
    });
    return known && fit && taken == count;
}

}  // namespace format_detail

template <class... Args>
class CheckedFormat {
public:
    // Only a constant expression gets here: a literal, never a text made at run time.
    template <std::size_t N>
    consteval CheckedFormat(const char (&literal)[N]) : text(literal)  // NOLINT(google-explicit-constructor)
    {
        check(format_detail::matches<std::decay_t<Args>...>(literal));
    }

    const char* get() const { return text; }

private:
    static consteval void check(bool matching)
    {
        if (!matching) {
            throw "the format's conversions do not match its arguments (see text/LiteralFormat.h)";
        }
    }

    const char* text;
};

// The format parameter of a function whose arguments Args follow it: deduced from those arguments,
// never from the format.
template <class... Args>
using LiteralFormat = std::type_identity_t<CheckedFormat<Args...>>;

// An argument as it travels to the C library: the text of a string, the underlying number of an
// enumeration, anything else as it is.
template <class T>
auto passedToFormat(const T& argument)
{
    if constexpr (std::is_base_of_v<std::string, T>) {
        return argument.c_str();
    } else if constexpr (std::is_enum_v<T>) {
        return static_cast<std::underlying_type_t<T>>(argument);
    } else {
        return argument;
    }
}

}  // namespace qel
