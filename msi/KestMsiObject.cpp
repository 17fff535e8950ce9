#include "msi/KestMsiObject.h"

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
    dumpLine(stream, "ObjectAddress = ", static_cast<const void*>(this));
    dumpLine(stream, "ObjectHandle  = ", std::to_string(getHandle().getMsiHandle()));
}
