// KERNEL32's file handles in the host platform model: CreateFileA and CreateFileW, ReadFile,
// WriteFile, FlushFileBuffers, GetFileSizeEx and CloseHandle on real files under the model's
// temporary folder (and its drives), the W calls that move, copy and examine files and folders,
// and Sleep.
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

HANDLE failFile(long error)
{
    model().lastError = static_cast<DWORD>(error);
    return INVALID_HANDLE_VALUE;
}

BOOL fail(long error)
{
    model().lastError = static_cast<DWORD>(error);
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

namespace {

// Whether a handle of this process, or of another process of the model, holds the file open with
// no sharing (share mode 0).
bool heldExclusively(const fs::path& file)
{
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool held = ::flock(descriptor, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(descriptor);
    return held;
}

// Whether any handle of the model's processes holds the file open.
bool heldAtAll(const fs::path& file)
{
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool held = ::flock(descriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(descriptor);
    return held;
}

template <class Char>
HANDLE createFile(const char* function, const Char* fileNameText, DWORD desiredAccess, DWORD shareMode,
                  DWORD creationDisposition)
{
    return modelled<HANDLE>(function, [&]() -> HANDLE {
        if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING) {
            return failFile(ERROR_INVALID_PARAMETER);
        }
        const std::string fileName = textOf(fileNameText).value_or("");
        if (invalidName(fileName, false)) {
            return failFile(ERROR_INVALID_NAME);
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
        OpenFile opened(descriptor, reads, writes, (shareMode & FILE_SHARE_DELETE) != 0);
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

OpenFile* openFileOf(HANDLE file)
{
    auto& files = model().openFiles;
    const auto it = files.find(reinterpret_cast<std::uintptr_t>(file));
    return it == files.end() ? nullptr : &it->second;
}

// A path of an A or W call as the model's file functions see it, or the error Windows answers for
// it: ERROR_INVALID_NAME for a name it refuses, ERROR_PATH_NOT_FOUND for a folder that is not there
// (or lies outside the simulated world).
template <class Char>
DWORD pathOf(const Char* text, ModelPath& path)
{
    const std::string name = textOf(text).value_or("");
    if (name.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (invalidName(name, false)) {
        return ERROR_INVALID_NAME;
    }
    path = resolvePath(name);
    return path.folder ? 0 : ERROR_PATH_NOT_FOUND;
}

bool isFolderPath(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES /*security*/,
                          DWORD creationDisposition, DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/)
{
    return createFile("CreateFileA", fileName, desiredAccess, shareMode, creationDisposition);
}

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES /*security*/,
                          DWORD creationDisposition, DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/)
{
    return createFile("CreateFileW", fileName, desiredAccess, shareMode, creationDisposition);
}

// A synchronous read: at the end of the file it succeeds with 0 bytes read.
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped)
{
    return modelled<BOOL>("ReadFile", [&]() -> BOOL {
        OpenFile* open = openFileOf(file);
        if (!open) {
            return fail(ERROR_INVALID_HANDLE);
        }
        if ((!bytesRead && !overlapped) || (!buffer && bytesToRead != 0)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (bytesRead) {
            *bytesRead = 0;
        }
        if (!open->reads) {
            return fail(ERROR_ACCESS_DENIED);
        }
        DWORD read = 0;
        while (read < bytesToRead) {
            const ssize_t count = ::read(open->descriptor, static_cast<char*>(buffer) + read, bytesToRead - read);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                return fail(ERROR_ACCESS_DENIED);
            }
            if (count == 0) {
                break;
            }
            read += static_cast<DWORD>(count);
        }
        if (bytesRead) {
            *bytesRead = read;
        }
        return TRUE;
    });
}

BOOL WINAPI FlushFileBuffers(HANDLE file)
{
    return modelled<BOOL>("FlushFileBuffers", [&]() -> BOOL {
        OpenFile* open = openFileOf(file);
        if (!open) {
            return fail(ERROR_INVALID_HANDLE);
        }
        if (!open->writes) {
            return fail(ERROR_ACCESS_DENIED);  // a handle without the right to write
        }
        return ::fsync(open->descriptor) == 0 ? TRUE : fail(ERROR_ACCESS_DENIED);
    });
}

BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size)
{
    return modelled<BOOL>("GetFileSizeEx", [&]() -> BOOL {
        OpenFile* open = openFileOf(file);
        if (!open) {
            return fail(ERROR_INVALID_HANDLE);
        }
        struct stat status {};
        if (!size || ::fstat(open->descriptor, &status) != 0) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        size->QuadPart = static_cast<LONGLONG>(status.st_size);
        return TRUE;
    });
}

namespace {

// The two ends of a move or a copy: a source that is there, and a target whose folder is there
// (ERROR_ACCESS_DENIED for a target without a name, as for a copy of a folder).
template <class Char>
DWORD endsOf(const Char* existingFileName, const Char* newFileName, bool folderSourceRefused, ModelPath& from,
             ModelPath& to)
{
    if (const DWORD error = pathOf(existingFileName, from)) {
        return error;
    }
    if (!from.existing) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (folderSourceRefused && isFolderPath(*from.existing)) {
        return ERROR_ACCESS_DENIED;
    }
    if (const DWORD error = pathOf(newFileName, to)) {
        return error;
    }
    return to.name.empty() ? ERROR_ACCESS_DENIED : 0;
}

// Moves a file or a folder; an existing target is ERROR_ALREADY_EXISTS unless
// MOVEFILE_REPLACE_EXISTING replaces it (a file only: a folder target is ERROR_ACCESS_DENIED). A
// file held open without FILE_SHARE_DELETE cannot move (ERROR_SHARING_VIOLATION), nor be
// replaced (ERROR_ACCESS_DENIED). Renaming to the same name in another case is no clash.
template <class Char>
BOOL moveFile(const char* function, const Char* existingFileName, const Char* newFileName, DWORD flags)
{
    return modelled<BOOL>(function, [&]() -> BOOL {
        ModelPath from;
        ModelPath to;
        if (const DWORD error = endsOf(existingFileName, newFileName, false, from, to)) {
            return fail(error);
        }
        const bool sameEntry = to.existing && *to.existing == *from.existing;
        if (to.existing && !sameEntry) {
            if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
                return fail(ERROR_ALREADY_EXISTS);
            }
            if (isFolderPath(*to.existing) || heldAgainstDeletion(*to.existing) || heldExclusively(*to.existing)) {
                return fail(ERROR_ACCESS_DENIED);
            }
        }
        if (!isFolderPath(*from.existing) && (heldAgainstDeletion(*from.existing) || heldExclusively(*from.existing))) {
            return fail(ERROR_SHARING_VIOLATION);
        }
        std::error_code error;
        const fs::path target = sameEntry || !to.existing ? *to.folder / to.name : *to.existing;
        fs::rename(*from.existing, target, error);
        return error ? fail(ERROR_ACCESS_DENIED) : TRUE;
    });
}

// Copies a file's bytes: a target already there is ERROR_FILE_EXISTS with failIfExists, else
// overwritten; a source held without sharing, or a target held at all, ERROR_SHARING_VIOLATION.
template <class Char>
BOOL copyFile(const char* function, const Char* existingFileName, const Char* newFileName, BOOL failIfExists)
{
    return modelled<BOOL>(function, [&]() -> BOOL {
        ModelPath from;
        ModelPath to;
        if (const DWORD error = endsOf(existingFileName, newFileName, true, from, to)) {
            return fail(error);
        }
        if (to.existing) {
            if (failIfExists) {
                return fail(ERROR_FILE_EXISTS);
            }
            if (isFolderPath(*to.existing)) {
                return fail(ERROR_ACCESS_DENIED);
            }
            if (heldAtAll(*to.existing)) {
                return fail(ERROR_SHARING_VIOLATION);
            }
        }
        if (heldExclusively(*from.existing)) {
            return fail(ERROR_SHARING_VIOLATION);
        }
        std::error_code error;
        fs::copy_file(*from.existing, to.existing ? *to.existing : *to.folder / to.name,
                      fs::copy_options::overwrite_existing, error);
        return error ? fail(ERROR_ACCESS_DENIED) : TRUE;
    });
}

// A folder's path as given, without trailing separators: they name the same folder.
template <class Char>
std::basic_string<Char> folderText(const Char* pathName)
{
    std::basic_string<Char> text;
    for (const Char* at = pathName; at && *at; ++at) {
        text += *at;
    }
    while (text.size() > 1 && (text.back() == Char('\\') || text.back() == Char('/'))) {
        text.pop_back();
    }
    return text;
}

template <class Char>
BOOL createDirectory(const char* function, const Char* pathName)
{
    return modelled<BOOL>(function, [&]() -> BOOL {
        ModelPath path;
        if (const DWORD error = pathOf(folderText(pathName).c_str(), path)) {
            return fail(error);
        }
        if (path.existing || path.name.empty()) {
            return fail(ERROR_ALREADY_EXISTS);
        }
        std::error_code error;
        return fs::create_directory(*path.folder / path.name, error) ? TRUE : fail(ERROR_ACCESS_DENIED);
    });
}

template <class Char>
BOOL removeDirectory(const char* function, const Char* pathName)
{
    return modelled<BOOL>(function, [&]() -> BOOL {
        ModelPath path;
        if (const DWORD error = pathOf(folderText(pathName).c_str(), path)) {
            return fail(error);
        }
        if (!path.existing) {
            return fail(ERROR_FILE_NOT_FOUND);
        }
        if (!isFolderPath(*path.existing)) {
            return fail(ERROR_DIRECTORY);
        }
        std::error_code error;
        if (!fs::is_empty(*path.existing, error)) {
            return fail(ERROR_DIR_NOT_EMPTY);
        }
        return fs::remove(*path.existing, error) ? TRUE : fail(ERROR_ACCESS_DENIED);
    });
}

// FILE_ATTRIBUTE_DIRECTORY for a folder, FILE_ATTRIBUTE_ARCHIVE for a file (with
// FILE_ATTRIBUTE_READONLY when its owner may not write it); INVALID_FILE_ATTRIBUTES and
// ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND or ERROR_INVALID_NAME otherwise.
template <class Char>
DWORD fileAttributes(const char* function, const Char* fileName)
{
    return modelled<DWORD>(function, [&]() -> DWORD {
        constexpr DWORD attributeArchive = 0x20;
        ModelPath path;
        if (const DWORD error = pathOf(fileName, path)) {
            fail(error);
            return INVALID_FILE_ATTRIBUTES;
        }
        const fs::path found = path.name.empty() ? *path.folder : path.existing.value_or(fs::path());
        if (found.empty()) {
            fail(ERROR_FILE_NOT_FOUND);
            return INVALID_FILE_ATTRIBUTES;
        }
        if (isFolderPath(found)) {
            return FILE_ATTRIBUTE_DIRECTORY;
        }
        std::error_code error;
        const fs::perms perms = fs::status(found, error).permissions();
        return (perms & fs::perms::owner_write) == fs::perms::none ? attributeArchive | FILE_ATTRIBUTE_READONLY
                                                                   : attributeArchive;
    });
}

}  // namespace

BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags)
{
    return moveFile("MoveFileExA", existingFileName, newFileName, flags);
}

BOOL WINAPI MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags)
{
    return moveFile("MoveFileExW", existingFileName, newFileName, flags);
}

BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists)
{
    return copyFile("CopyFileA", existingFileName, newFileName, failIfExists);
}

BOOL WINAPI CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists)
{
    return copyFile("CopyFileW", existingFileName, newFileName, failIfExists);
}

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES /*security*/)
{
    return createDirectory("CreateDirectoryA", pathName);
}

BOOL WINAPI CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES /*security*/)
{
    return createDirectory("CreateDirectoryW", pathName);
}

BOOL WINAPI RemoveDirectoryA(LPCSTR pathName)
{
    return removeDirectory("RemoveDirectoryA", pathName);
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR pathName)
{
    return removeDirectory("RemoveDirectoryW", pathName);
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName)
{
    return fileAttributes("GetFileAttributesA", fileName);
}

DWORD WINAPI GetFileAttributesW(LPCWSTR fileName)
{
    return fileAttributes("GetFileAttributesW", fileName);
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
    modelled<void>("Sleep", [&] {
        Model& m = model();
        if (m.instantSleeps) {
            m.sleptOnClock += milliseconds;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        }
    });
}

DWORD WINAPI GetTickCount()
{
    return modelled<DWORD>("GetTickCount", [&] {
        const auto sinceStart =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<DWORD>(sinceStart.count()) + model().sleptOnClock;  // wraps as Windows' does
    });
}

void sim::setInstantSleeps(bool instant)
{
    model().instantSleeps = instant;
}

std::size_t sim::openFileHandles()
{
    return model().openFiles.size();
}
