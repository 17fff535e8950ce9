#include "msi/KestMsiObject.h"

#include "text/StreamText.h"

#include <cstdint>
#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <string>
#include <typeinfo>

namespace {

// The most-derived class of `object` as "class Name".
std::string className(const KestMsiObject& object)
{
    const char* const mangled = typeid(object).name();
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                                &std::free);
    return std::string("class ") + (status == 0 && demangled ? demangled.get() : mangled);
}

// An address as a stream inserts it: lower-case hexadecimal after "0x".
std::string addressText(const void* address)
{
    auto value = reinterpret_cast<std::uintptr_t>(address);
    if (value == 0) {
        return "0";
    }
    std::string digits;
    for (; value != 0; value /= 16) {
        digits.insert(digits.begin(), "0123456789abcdef"[value % 16]);
    }
    return "0x" + digits;
}

}  // namespace

KestMsiObject::KestMsiObject(const KestMsiHandle& other, bool borrowed) : handle(other.getMsiHandle(), borrowed) {}

KestMsiHandle& KestMsiObject::getHandle()
{
    return handle;
}

const KestMsiHandle& KestMsiObject::getHandle() const
{
    return handle;
}

void KestMsiObject::setHandle(const KestMsiHandle& other)
{
    handle = other;
}

void KestMsiObject::dump(std::ostream& stream) const
{
    dumpLine(stream, "ObjectType    = ", className(*this));
    dumpLine(stream, "ObjectAddress = ", addressText(this));
    dumpLine(stream, "ObjectHandle  = ", std::to_string(getHandle().getMsiHandle()));
}

// Each part as the stream's own chain of inserters, `stream << label << value << '\n' << std::flush`,
// writes it: once one has failed, the others write nothing and add failbit.
void KestMsiObject::dumpLine(std::ostream& stream, const char* label, std::string_view value)
{
    qel::writeToStream(stream, label);
    qel::writeToStream(stream, value);
    qel::writeToStream(stream, "\n");
    qel::flushStream(stream);
}

void KestMsiObject::dumpLine(std::ostream& stream, const char* label, const char* value)
{
    // A null text is no text: the stream goes bad where it would stand, as its inserter leaves it.
    qel::writeToStream(stream, label);
    if (value) {
        qel::writeToStream(stream, value);
    } else {
        qel::setBad(stream);
    }
    qel::writeToStream(stream, "\n");
    qel::flushStream(stream);
}
