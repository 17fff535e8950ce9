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
// enumeration) of int's size or smaller, with l a long or any 32-bit integer (Windows' long is 32
// bits: "%lu" takes a DWORD on every build), ll or I64 any 64-bit integer, z a size_t, j an
// intmax_t, t a ptrdiff_t (each signed or unsigned); %s a char pointer or a KestCString /
// std::string (its text is passed); %p a pointer; %f %F %e %E %g %G %a %A a double or float, with L
// a long double; a * width or precision an int. Flags "-+ #0", width and precision are free.
// Refused: %n, positional arguments (%1$d), the wide forms (%ls, %lc) and anything the C library
// does not know. A format whose conversions and arguments do not match in number or kind stops the
// compilation at the throw in check() below.
//
// The C library is given what it reads as written: 64-bit integers travel as long long, and a
// format whose l or I64 names a size other than its argument's ("%lu" of a DWORD where long has 64
// bits, "%I64d" anywhere) reaches it with the length that matches (format_detail::cFormat).
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
    longLongInteger,
    sizeInteger,
    maxInteger,
    differenceInteger,
    windowsLongInteger,
    int64Integer,
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
    case Takes::windowsLongInteger:
        return eitherSign<T, long>() || (std::is_integral_v<T> && sizeof(T) == 4);
    case Takes::longLongInteger:
    case Takes::int64Integer:
        return std::is_integral_v<T> && sizeof(T) == 8;
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

enum class Length { none, hh, h, l, ll, I64, z, j, t, L };

// Reads the length modifier at `at`, if any, and steps over it.
constexpr Length readLength(const char*& at)
{
    if (at[0] == 'I' && at[1] == '6' && at[2] == '4') {
        at += 3;
        return Length::I64;
    }
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

// The length letters a conversion is written with; empty for a * width or precision.
struct Written {
    const char* begin = nullptr;
    const char* end = nullptr;
};

// Steps over a width or precision: digits, or a * that takes an int argument.
template <class Take>
constexpr void readCount(const char*& at, Take& take)
{
    if (*at == '*') {
        take(Takes::integer, Written{});
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
        takes = Takes::windowsLongInteger;
        return true;
    case Length::ll:
        takes = Takes::longLongInteger;
        return true;
    case Length::I64:
        takes = Takes::int64Integer;
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
// take(Takes, Written) in order. False for a format the C library would not read as the checker does.
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
        const char* const lengthBegin = at;
        const Length length = readLength(at);
        const Written written{lengthBegin, at};
        const char conversion = *at++;
        Takes takes = Takes::integer;
        if (isOneOf(conversion, "diuoxX") && integerTakes(length, takes)) {
            take(takes, written);
        } else if (conversion == 'c' && length == Length::none) {
            take(Takes::integer, written);
        } else if (conversion == 's' && length == Length::none) {
            take(Takes::text, written);
        } else if (conversion == 'p' && length == Length::none) {
            take(Takes::pointer, written);
        } else if (isOneOf(conversion, "fFeEgGaA") && (length == Length::none || length == Length::L)) {
            take(length == Length::L ? Takes::longReal : Takes::real, written);
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
    const bool known = walk(format, [&](Takes takes, Written) {
        fit = fit && taken < count && fitsArgument[taken](takes);
        ++taken;
    });
    return known && fit && taken == count;
}

// Whether the C library reads an argument of `size` bytes as the conversion is written. It reads
// an l as its own long, which has 64 bits on some builds, and knows no I64 on some.
constexpr bool readAsWritten(Takes takes, std::size_t size)
{
    return takes != Takes::int64Integer && (takes != Takes::windowsLongInteger || size == sizeof(long));
}

// Whether it reads every conversion of a format that matches Args as written.
template <class... Args>
constexpr bool readAsWritten(const char* format)
{
    constexpr std::size_t count = sizeof...(Args);
    constexpr std::size_t sizes[count + 1] = {sizeof(Args)..., 0};
    std::size_t taken = 0;
    bool asWritten = true;
    walk(format, [&](Takes takes, Written) {
        asWritten = asWritten && (taken >= count || readAsWritten(takes, sizes[taken]));
        ++taken;
    });
    return asWritten;
}

// A matching format with each conversion the C library would not read as written given the length
// it reads with the same meaning: none for a 32-bit argument, ll for a 64-bit one. `sizes` holds
// the arguments' sizes, in order.
inline std::string cFormat(const char* format, const std::size_t* sizes)
{
    std::string c;
    const char* copied = format;
    std::size_t taken = 0;
    walk(format, [&](Takes takes, Written length) {
        if (!readAsWritten(takes, sizes[taken])) {
            c.append(copied, length.begin).append(sizes[taken] == 8 ? "ll" : "");
            copied = length.end;
        }
        ++taken;
    });
    return c.append(copied);
}

}  // namespace format_detail

template <class... Args>
class CheckedFormat {
public:
    // Only a constant expression gets here: a literal, never a text made at run time.
    template <std::size_t N>
    consteval CheckedFormat(const char (&literal)[N])  // NOLINT(google-explicit-constructor)
        : text(literal), asWritten(format_detail::readAsWritten<std::decay_t<Args>...>(literal))
    {
        check(format_detail::matches<std::decay_t<Args>...>(literal));
    }

    // The format as written.
    const char* get() const { return text; }

    // The format as the C library is to be given it; `storage` keeps one that had to be rewritten.
    const char* forC(std::string& storage) const
    {
        if (asWritten) {
            return text;
        }
        static constexpr std::size_t sizes[] = {sizeof(std::decay_t<Args>)..., 0};
        storage = format_detail::cFormat(text, sizes);
        return storage.c_str();
    }

private:
    static consteval void check(bool matching)
    {
        if (!matching) {
            throw "the format's conversions do not match its arguments (see text/LiteralFormat.h)";
        }
    }

    const char* text;
    bool asWritten;
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
