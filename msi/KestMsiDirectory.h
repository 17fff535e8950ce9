// One directory of the installation's directory structure, with its target and source path.
#pragma once

#include "../msi/KestMsiProperty.h"

class KestMsiDirectory : public KestMsiProperty {
public:
    enum DirType : int { SourceDir = 0, TargetDir = 1 };

    KestMsiDirectory(const KestMsiHandle& session, const KestCString& name);

    void dump(std::ostream& stream) const override;
    // Loads both paths, the target path first; each is replaced only once its query succeeded.
    void cacheValue() override;
    // Sets the installer's target path to the cached one.
    void write() override;
    using KestMsiProperty::write;

    virtual KestCString setTargetDir(const KestCString& path);
    virtual KestCString getTargetDir() const;
    virtual KestCString getSourceDir() const;
    // The installer's current path of that kind; not cached.
    virtual KestCString cacheValue(int dirType);

private:
    KestCString targetDir;
    KestCString sourceDir;
};
