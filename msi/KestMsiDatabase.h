// The installer database of the running installation, whose tables views read and extend. Only an
// immediate action has one: a deferred action's installation has no database.
#pragma once

#include "../msi/KestMsiObject.h"
#include "../text/TextArg.h"

class KestMsiView;

class KestMsiDatabase : public KestMsiObject {
public:
    // The database of the installation `session` runs (MsiGetActiveDatabase). The database's
    // handle is its own, closed by the last copy.
    explicit KestMsiDatabase(const KestMsiHandle& session);
    KestMsiDatabase(const KestMsiDatabase&) = default;
    KestMsiDatabase& operator=(const KestMsiDatabase&) = default;
    ~KestMsiDatabase() override = default;

    // A view of the query over this database, not yet executed.
    KestMsiView openView(const qel::TextArg& query) const;
};
