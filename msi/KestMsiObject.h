// Base of the installer object wrappers: holds one installer handle group and describes itself.
#pragma once

#include "../msi/KestMsiHandle.h"

#include <ostream>
#include <string_view>
#include <type_traits>

class KestMsiObject {
public:
    KestMsiObject() = default;
    // Starts a group of its own over the raw handle of `other`; never joins other's group.
    KestMsiObject(const KestMsiHandle& other, bool borrowed);
    KestMsiObject(const KestMsiObject&) = default;
    KestMsiObject& operator=(const KestMsiObject&) = default;
    virtual ~KestMsiObject() = default;

    virtual KestMsiHandle& getHandle();
    virtual const KestMsiHandle& getHandle() const;
    virtual void dump(std::ostream& stream) const;
    virtual void setHandle(const KestMsiHandle& other);

protected:
    // Writes one labelled line of a dump, "<label><value>\n", and flushes it, through the stream's
    // buffer: nothing of the stream's formatting settings applies. The value is text; numbers go
    // in as decimal text (std::to_string). The stream's state and exceptions are those of its own
    // inserters: a part it does not take whole sets badbit, and a failed stream takes nothing more.
    static void dumpLine(std::ostream& stream, const char* label, std::string_view value);
    static void dumpLine(std::ostream& stream, const char* label, const char* value);
    // Any other value, inserted with the stream's own operator<<, which brings the stream
    // library's formatting code with it: the stream's base, sign, width and fill settings are the
    // caller's and stay untouched.
    template <class Value>
    requires(!std::is_convertible_v<const Value&, std::string_view> &&
             !std::is_convertible_v<const Value&, const char*>) static void dumpLine(std::ostream& stream,
                                                                                     const char* label,
                                                                                     const Value& value)
    {
        static_assert(!std::is_arithmetic_v<Value>, "a number goes to a dump as decimal text (std::to_string)");
        stream << label << value << '\n' << std::flush;
    }

private:
    KestMsiHandle handle;
};
