// One named property of the running installation.
#pragma once

#include "../msi/KestMsiObject.h"
#include "../text/KestCString.h"

class KestMsiProperty : public KestMsiObject {
public:
    ~KestMsiProperty() override = default;

    void dump(std::ostream& stream) const override;
    // Loads the derived class's cached value from the installer.
    virtual void cacheValue() = 0;
    // Stores the derived class's cached value into the installer.
    virtual void write() = 0;

    KestCString getName() const { return name; }
    // The property's current text in the installer session.
    KestCString read() const;
    // Sets the property in the installer session.
    void write(const KestCString& value) const;

protected:
    // The session handle is held borrowed: the installer owns it.
    KestMsiProperty(const KestMsiHandle& session, const KestCString& name);
    KestMsiProperty(const KestMsiProperty&) = default;
    KestMsiProperty& operator=(const KestMsiProperty&) = default;

private:
    KestCString name;
};
