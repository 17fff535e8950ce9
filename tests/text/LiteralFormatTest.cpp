// The compile-time check of printf-style formats: which formats each set of arguments passes. A
// format that fails here is one the compiler refuses where a function takes a LiteralFormat.
#include "text/LiteralFormat.h"

#include "text/KestCString.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using qel::format_detail::matches;

enum Unscoped { unscopedValue };
enum class Scoped { value };

// Integers by length modifier.
static_assert(matches<int, unsigned, char, short, bool, Unscoped>("%d %u %c %hd %i %x"));
static_assert(matches<long, unsigned long>("%ld %lx"));
static_assert(matches<long long, unsigned long long>("%lld %llu"));
static_assert(matches<std::size_t, std::ptrdiff_t, std::intmax_t>("%zu %td %jd"));
// Windows' spellings, on every build: l for its 32-bit long (a DWORD, whatever the build calls it),
// ll and I64 for any 64-bit integer.
static_assert(matches<std::uint32_t, std::int32_t, unsigned, int>("%lu %ld %lx %li"));
static_assert(matches<std::int64_t, std::uint64_t, long long>("%I64d %I64u %I64x"));
static_assert(matches<std::int64_t, std::uint64_t>("%lld %llx"));
static_assert(!matches<short>("%lu"));
static_assert(!matches<int>("%I64d"));
static_assert(!matches<std::int64_t>("%I6d"));
static_assert(!matches<long long>("%d"));
static_assert(!matches<int>("%lld"));
static_assert(!matches<Scoped>("%d"));
static_assert(!matches<double>("%d"));
static_assert(!matches<int>("%Ld"));

// Texts, pointers and reals.
static_assert(matches<const char*, char*, KestCString, std::string>("%s %s %s %s"));
static_assert(matches<const void*, int*, std::nullptr_t>("%p %p %p"));
static_assert(matches<double, float, long double>("%f %g %Le"));
static_assert(!matches<int>("%s"));
static_assert(!matches<const char*>("%d"));
static_assert(!matches<const char*>("%p"));
static_assert(!matches<double>("%Lf"));

// Flags, width and precision, a * taking an int.
static_assert(matches<int, double>("%-+ #010d %8.3f"));
static_assert(matches<int, int, const char*>("%*.*s"));
static_assert(!matches<const char*>("%*s"));
static_assert(matches<>("100%% sure"));

// Counts, and what the C library would read otherwise.
static_assert(matches<>(""));
static_assert(!matches<int>("no conversion"));
static_assert(!matches<>("%d"));
static_assert(!matches<int, int>("%d"));
static_assert(!matches<int*>("%n"));
static_assert(!matches<int>("%1$d"));
static_assert(!matches<const wchar_t*>("%ls"));
static_assert(!matches<>("trailing %"));
static_assert(!matches<int>("%5"));

TEST(LiteralFormatTest, PassesTheTextOfStringsAndTheNumberOfEnumerations)
{
    const KestCString text = "abc";
    EXPECT_EQ(qel::passedToFormat(text), text.c_str());
    EXPECT_EQ(qel::passedToFormat(Scoped::value), 0);
}

}  // namespace
