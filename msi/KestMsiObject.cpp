#include "msi/KestMsiObject.h"

#include "text/StreamText.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <typeinfo>

namespace {

// A class's name as the compiler's type information spells it (the Itanium C++ ABI, which GCC
// follows on Windows too), read back for the classes a dump meets: "16KestMsiDirectory" is
// KestMsiDirectory, "N3app8SettingsE" app::Settings. Any other spelling (a template, a local class)
// is given as it stands. The C++ library's demangler would bring some 46 KB into every DLL for this.
std::string readableName(const char* mangled)
{
    const char* at = mangled;
    const bool nested = *at == 'N';
    at += nested ? 1 : 0;
    std::string name;
    do {
        std::size_t length = 0;
        for (; *at >= '0' && *at <= '9' && length < 4096; ++at) {
            length = 10 * length + static_cast<std::size_t>(*at - '0');
        }
        if (length == 0 || std::strlen(at) < length) {
            return mangled;
        }
        name.append(name.empty() ? "" : "::").append(at, length);
        at += length;
    } while (nested && *at != 'E' && *at != '\0');
    if (nested && *at++ != 'E') {
        return mangled;
    }
    return *at == '\0' ? name : std::string(mangled);
}

// The most-derived class of `object` as "class Name".
std::string className(const KestMsiObject& object)
{
    return "class " + readableName(typeid(object).name());
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
