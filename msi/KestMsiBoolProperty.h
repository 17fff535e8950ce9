// A property holding a yes/no value, stored in the installer as "1" or "0".
#pragma once

#include "../msi/KestMsiProperty.h"

#include <cstdint>

class KestMsiBoolProperty : public KestMsiProperty {
public:
    KestMsiBoolProperty(const KestMsiHandle& session, const KestCString& name);

    void dump(std::ostream& stream) const override;
    // value := the number that starts the property's text (read as atol reads it) is not zero.
    void cacheValue() override;
    // Sends "1" or "0".
    void write() override;
    using KestMsiProperty::write;

    void setValue(bool newValue) { value = newValue; }
    bool getValue() const { return value; }

    // The number that starts `text`, read as atol reads it, wrapping as a 32-bit integer.
    static std::int32_t leadingNumber(const KestCString& text);

private:
    bool value = false;
};
