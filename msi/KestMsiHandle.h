// Shared ownership of one installer handle. Copies form a group with one counter; the last member
// of the group closes the handle, unless the group is borrowed (the handle belongs to someone else,
// like the session handle the installer passes to a custom action).
#pragma once

#include "QelCustInst/QelPlatform.h"

class KestMsiHandle {
public:
    // No handle: 0, a new counter at 1, not borrowed.
    KestMsiHandle();
    // Starts a new group over `handle`. Should that fail (no memory for the counter), a handle that
    // is not borrowed is closed before the failure goes on: it was handed over.
    KestMsiHandle(MSIHANDLE handle, bool borrowed);
    KestMsiHandle(const KestMsiHandle& other);
    KestMsiHandle& operator=(const KestMsiHandle& other);
    virtual ~KestMsiHandle();

    MSIHANDLE getMsiHandle() const { return msiHandle; }
    bool isBorrowed() const { return borrowed; }
    // Members of this group alive now (0 only for a value that released its group).
    int getHandleCount() const { return handleCount != nullptr ? *handleCount : 0; }

private:
    void release() noexcept;

    MSIHANDLE msiHandle;
    int* handleCount;
    bool borrowed;
};
