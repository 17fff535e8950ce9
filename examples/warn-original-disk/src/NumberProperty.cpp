#include "NumberProperty.h"

#include "QelCustInst/msi/KestMsiBoolProperty.h"

NumberProperty::NumberProperty(const KestMsiHandle& session, const KestCString& name) : KestMsiProperty(session, name)
{
}

void NumberProperty::cacheValue()
{
    value = KestMsiBoolProperty::leadingNumber(read());
}

void NumberProperty::write()
{
    KestCString text;
    text.format("%d", static_cast<int>(value));
    write(text);
}
