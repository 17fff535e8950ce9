// KERNEL32's file handles in the host platform model: CreateFileA, WriteFile and CloseHandle on
// real files under the model's temporary folder, and Sleep.
//
// Processes of the host share these files as Windows processes do, to the extent the library
// relies on: CreateFileA's creation is atomic across processes (CREATE_NEW lets exactly one
// succeed), and a file opened without sharing (share mode 0) cannot be opened again until that
// handle is closed (ERROR_SHARING_VIOLATION), nor can a file that is open at all be opened without
// sharing. The model knows only these two sharing modes: any share mode other than 0 shares
// everything. Host locks (flock) carry them, so they hold between the model's processes too.
// Besides, DeleteFileA refuses a file that a handle of this process holds open without
// FILE_SHARE_DELETE (ERROR_SHARING_VIOLATION), as Windows refuses it.
#include "SimModel.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace sim;
using namespace sim::detail;

namespace {

namespace fs = std::filesystem;

constexpr DWORD fileWriteData = 0x0002;  // FILE_WRITE_DATA

HANDLE failFile(DWORD error)
{
    model().lastError = error;
    return INVALID_HANDLE_VALUE;
}

BOOL fail(DWORD error)
{
    model().lastError = error;
    return FALSE;
}

// Holds the host lock of a folder while a CreateFileA looks at and opens a file in it, so that no
// other process of the model sees the file between its creation and its sharing lock.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder) : descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (descriptor >= 0) {
            while (::flock(descriptor, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock()
    {
        if (descriptor >= 0) {
            ::close(descriptor);  // releases the lock
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int descriptor;
};

bool isRegularFile(int descriptor)
{
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

sim::detail::OpenFile::~OpenFile()
{
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

bool sim::detail::heldAgainstDeletion(const fs::path& file)
{
    struct stat named {};
    if (::stat(file.c_str(), &named) != 0) {
        return false;
    }
    for (const auto& [handle, open] : model().openFiles) {
        struct stat held {};
        if (!open.sharesDelete && ::fstat(open.descriptor, &held) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            return true;
        }
    }
    return false;
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES /*security*/,
                          DWORD creationDisposition, DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/)
{
    return modelled<HANDLE>("CreateFileA", [&]() -> HANDLE {
        if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING) {
            return failFile(ERROR_INVALID_PARAMETER);
        }
        const ModelPath path = resolvePath(fileName);
        if (!path.folder || path.name.empty()) {
            return failFile(ERROR_PATH_NOT_FOUND);
        }
        const FolderLock folderLock(*path.folder);
        // Looked at again under the lock: another process may have made or removed it.
        const ModelPath now = resolvePath(fileName);
        if (!now.folder) {
            return failFile(ERROR_PATH_NOT_FOUND);
        }
        const bool existed = now.existing.has_value();
        if (existed && fs::is_directory(*now.existing)) {
            return failFile(creationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
        }
        if (existed && creationDisposition == CREATE_NEW) {
            return failFile(ERROR_FILE_EXISTS);
        }
        if (!existed && (creationDisposition == OPEN_EXISTING || creationDisposition == TRUNCATE_EXISTING)) {
            return failFile(ERROR_FILE_NOT_FOUND);
        }

        const bool reads = (desiredAccess & GENERIC_READ) != 0;
        const bool overwrites = (desiredAccess & (GENERIC_WRITE | fileWriteData)) != 0;
        const bool appends = (desiredAccess & FILE_APPEND_DATA) != 0 && !overwrites;
        const bool writes = overwrites || appends;
        if (creationDisposition == TRUNCATE_EXISTING && !overwrites) {
            return failFile(ERROR_INVALID_PARAMETER);
        }
        int flags = O_CLOEXEC | (reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY) | (appends ? O_APPEND : 0);
        if (!existed) {
            flags |= O_CREAT | O_EXCL;
        }
        const fs::path file = existed ? *now.existing : *now.folder / now.name;
        const int descriptor = ::open(file.c_str(), flags, 0644);
        if (descriptor < 0) {
            return failFile(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        }
        OpenFile opened(descriptor, writes, (shareMode & FILE_SHARE_DELETE) != 0);
        if (::flock(descriptor, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            return failFile(ERROR_SHARING_VIOLATION);
        }
        const bool truncates = creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
        if (existed && truncates && isRegularFile(descriptor) && ::ftruncate(descriptor, 0) != 0) {
            return failFile(ERROR_ACCESS_DENIED);
        }

        Model& m = model();
        const std::uintptr_t handle = m.nextFile;
        m.nextFile += 4;
        m.openFiles.emplace(handle, std::move(opened));
        // Success names an existing file it opened anew or emptied; otherwise it clears the error.
        const bool opensExisting = creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS;
        m.lastError = existed && opensExisting ? ERROR_ALREADY_EXISTS : 0;
        return reinterpret_cast<HANDLE>(handle);
    });
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped)
{
    return modelled<BOOL>("WriteFile", [&]() -> BOOL {
        auto& files = model().openFiles;
        const auto it = files.find(reinterpret_cast<std::uintptr_t>(file));
        if (it == files.end()) {
            return fail(ERROR_INVALID_HANDLE);
        }
        // Without an OVERLAPPED the count is where the call reports what it wrote.
        if ((!bytesWritten && !overlapped) || (!buffer && bytesToWrite != 0)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (bytesWritten) {
            *bytesWritten = 0;
        }
        if (!it->second.writes) {
            return fail(ERROR_ACCESS_DENIED);
        }
        const char* bytes = static_cast<const char*>(buffer);
        DWORD written = 0;
        while (written < bytesToWrite) {
            const ssize_t count = ::write(it->second.descriptor, bytes + written, bytesToWrite - written);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                return fail(count < 0 && (errno == ENOSPC || errno == EFBIG) ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED);
            }
            written += static_cast<DWORD>(count);
            if (bytesWritten) {
                *bytesWritten = written;
            }
        }
        return TRUE;
    });
}

BOOL WINAPI CloseHandle(HANDLE object)
{
    const auto handle = reinterpret_cast<std::uintptr_t>(object);
    const BOOL closed = modelled<BOOL>("CloseHandle", [&]() -> BOOL {
        if (model().openFiles.erase(handle) == 0) {
            return fail(ERROR_INVALID_HANDLE);
        }
        return TRUE;
    });
    // A file still open after a failed close was refused by a fault: the close never happened.
    if (!closed && model().openFiles.count(handle) != 0) {
        const ModelCallScope inModel;
        model().refusedFileCloses.insert(handle);
    }
    return closed;
}

void WINAPI Sleep(DWORD milliseconds)
{
    modelled<void>("Sleep", [&] { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); });
}

std::size_t sim::openFileHandles()
{
    return model().openFiles.size();
}
