#include "msi/KestMsiHandle.h"

KestMsiHandle::KestMsiHandle() : KestMsiHandle(0, false) {}

KestMsiHandle::KestMsiHandle(MSIHANDLE handle, bool borrowed)
    : msiHandle(handle), handleCount(nullptr), borrowed(borrowed)
{
    try {
        handleCount = new int(1);
    } catch (...) {
        // The handle was handed over to a group that never came to be: nobody else will close it.
        if (!borrowed) {
            MsiCloseHandle(handle);
        }
        throw;
    }
}

KestMsiHandle::KestMsiHandle(const KestMsiHandle& other)
    : msiHandle(other.msiHandle), handleCount(other.handleCount), borrowed(other.borrowed)
{
    if (handleCount != nullptr) {
        ++*handleCount;
    }
}

KestMsiHandle& KestMsiHandle::operator=(const KestMsiHandle& other)
{
    if (this == &other) {
        return *this;
    }
    // Joining the group first keeps the source alive should it be owned by the group being left.
    if (other.handleCount != nullptr) {
        ++*other.handleCount;
    }
    const MSIHANDLE newHandle = other.msiHandle;
    int* const newCount = other.handleCount;
    const bool newBorrowed = other.borrowed;
    release();
    msiHandle = newHandle;
    handleCount = newCount;
    borrowed = newBorrowed;
    return *this;
}

KestMsiHandle::~KestMsiHandle()
{
    release();
}

void KestMsiHandle::release() noexcept
{
    if (handleCount == nullptr) {
        return;
    }
    --*handleCount;
    if (*handleCount == 0) {
        if (!borrowed) {
            MsiCloseHandle(msiHandle);
        }
        delete handleCount;
    }
    msiHandle = 0;
    handleCount = nullptr;
}
