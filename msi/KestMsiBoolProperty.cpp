#include "msi/KestMsiBoolProperty.h"

#include <cctype>

KestMsiBoolProperty::KestMsiBoolProperty(const KestMsiHandle& session, const KestCString& name)
    : KestMsiProperty(session, name)
{
}

std::int32_t KestMsiBoolProperty::leadingNumber(const KestCString& text)
{
    // As atol reads it, but defined on overflow: the value wraps as a 32-bit integer.
    auto at = text.begin();
    while (at != text.end() && std::isspace(static_cast<unsigned char>(*at))) {
        ++at;
    }
    bool negative = false;
    if (at != text.end() && (*at == '+' || *at == '-')) {
        negative = *at == '-';
        ++at;
    }
    std::uint32_t magnitude = 0;
    for (; at != text.end() && *at >= '0' && *at <= '9'; ++at) {
        magnitude = magnitude * 10u + static_cast<std::uint32_t>(*at - '0');
    }
    if (negative) {
        magnitude = 0u - magnitude;
    }
    return static_cast<std::int32_t>(magnitude);
}

void KestMsiBoolProperty::cacheValue()
{
    value = leadingNumber(read()) != 0;
}

void KestMsiBoolProperty::write()
{
    KestCString text;
    text.format("%d", value ? 1 : 0);
    write(text);
}

void KestMsiBoolProperty::dump(std::ostream& stream) const
{
    KestMsiProperty::dump(stream);
    dumpLine(stream, "PropertyValue = ", value ? "true" : "false");
}
