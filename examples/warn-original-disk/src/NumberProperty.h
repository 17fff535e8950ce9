// A property holding a whole number, such as the installer's UILevel.
#pragma once

#include "QelCustInst/msi/KestMsiProperty.h"

#include <cstdint>

class NumberProperty : public KestMsiProperty {
public:
    NumberProperty(const KestMsiHandle& session, const KestCString& name);

    // value := the number that starts the property's text; 0 for a text without one (unset).
    void cacheValue() override;
    // Sends the value in decimal.
    void write() override;
    using KestMsiProperty::write;

    void setValue(std::int32_t newValue) { value = newValue; }
    std::int32_t getValue() const { return value; }

private:
    std::int32_t value = 0;
};
