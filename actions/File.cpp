#include "actions/File.h"

#include "errors/Raise.h"
#include "text/Unicode.h"

#include <algorithm>
#include <climits>
#include <source_location>
#include <utility>

using namespace persisting;

namespace qel {
namespace {

constexpr const char* fileName = "File";
constexpr DWORD shareRead = FILE_SHARE_READ;
// What one ReadFile or WriteFile call moves at most.
constexpr std::size_t chunk = 1u << 20;

// Raises the EKestWinError of a refused Windows call on `path`, with the error it left.
[[noreturn]] void refused(const PersistingRule& rule, const char* call, const std::string& path, DWORD error,
                          std::source_location where = std::source_location::current())
{
    persisting::detail::raiseWinError(rule, failedCall(call, path.c_str()), error, static_cast<int>(where.line()));
}

bool isMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The attributes of what is at `path`, or INVALID_FILE_ATTRIBUTES when nothing is; raises for any
// other failure (a name Windows refuses, a folder that cannot be read).
DWORD attributesOf(const PersistingRule& rule, const TextArg& path)
{
    const DWORD attributes = GetFileAttributesW(path.wide().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (!isMissing(error)) {
            refused(rule, "GetFileAttributes", path.utf8(), error);
        }
    }
    return attributes;
}

// Removes what is at `path` with `remove` (DeleteFileW, RemoveDirectoryW): false when nothing was
// there, raising for any other failure.
bool removedUnlessMissing(const PersistingRule& rule, const char* call, const TextArg& path,
                          BOOL(WINAPI* remove)(LPCWSTR))
{
    if (remove(path.wide().c_str())) {
        return true;
    }
    const DWORD error = GetLastError();
    if (!isMissing(error)) {
        refused(rule, call, path.utf8(), error);
    }
    return false;
}

}  // namespace

File::File(const TextArg& path, DWORD access, DWORD disposition) : name(path.utf8())
{
    static constexpr PersistingRule rule("qel::File::File", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        handle =
            CreateFileW(path.wide().c_str(), access, shareRead, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            refused(rule, "CreateFile", name, GetLastError());
        }
    });
}

File File::create(const TextArg& path)
{
    return File(path, GENERIC_WRITE, CREATE_ALWAYS);
}

File File::createNew(const TextArg& path)
{
    return File(path, GENERIC_WRITE, CREATE_NEW);
}

File File::append(const TextArg& path)
{
    return File(path, FILE_APPEND_DATA, OPEN_ALWAYS);
}

File File::read(const TextArg& path)
{
    return File(path, GENERIC_READ, OPEN_EXISTING);
}

File::File(File&& other) noexcept
    : name(std::move(other.name)), handle(std::exchange(other.handle, INVALID_HANDLE_VALUE))
{
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        if (isOpen()) {
            CloseHandle(handle);
        }
        name = std::move(other.name);
        handle = std::exchange(other.handle, INVALID_HANDLE_VALUE);
    }
    return *this;
}

File::~File()
{
    if (isOpen()) {
        CloseHandle(handle);
    }
}

void File::write(std::string_view bytes)
{
    static constexpr PersistingRule rule("qel::File::write", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        while (!bytes.empty()) {
            const auto count = static_cast<DWORD>(std::min(bytes.size(), chunk));
            DWORD written = 0;
            if (!WriteFile(handle, bytes.data(), count, &written, nullptr)) {
                refused(rule, "WriteFile", name, GetLastError());
            }
            if (written == 0) {
                refused(rule, "WriteFile", name, ERROR_HANDLE_DISK_FULL);
            }
            bytes.remove_prefix(written);
        }
    });
}

std::string File::readAll()
{
    static constexpr PersistingRule rule("qel::File::readAll", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        std::string content;
        for (;;) {
            const std::size_t had = content.size();
            content.resize(had + chunk);
            DWORD read = 0;
            if (!ReadFile(handle, content.data() + had, static_cast<DWORD>(chunk), &read, nullptr)) {
                refused(rule, "ReadFile", name, GetLastError());
            }
            content.resize(had + read);
            if (read == 0) {
                return content;
            }
        }
    });
}

void File::flush()
{
    static constexpr PersistingRule rule("qel::File::flush", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        if (!FlushFileBuffers(handle)) {
            refused(rule, "FlushFileBuffers", name, GetLastError());
        }
    });
}

void File::close()
{
    static constexpr PersistingRule rule("qel::File::close", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const HANDLE closing = std::exchange(handle, INVALID_HANDLE_VALUE);
        if (closing != INVALID_HANDLE_VALUE && !CloseHandle(closing)) {
            refused(rule, "CloseHandle", name, GetLastError());
        }
    });
}

bool fileExists(const TextArg& path)
{
    static constexpr PersistingRule rule("qel::fileExists", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const DWORD attributes = attributesOf(rule, path);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    });
}

bool folderExists(const TextArg& path)
{
    static constexpr PersistingRule rule("qel::folderExists", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const DWORD attributes = attributesOf(rule, path);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    });
}

std::string readFile(const TextArg& path)
{
    static constexpr PersistingRule rule("qel::readFile", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        File file = File::read(path);
        std::string content = file.readAll();
        file.close();
        return content;
    });
}

void writeFile(const TextArg& path, std::string_view bytes)
{
    static constexpr PersistingRule rule("qel::writeFile", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const std::string target = path.utf8();
        const std::string temporary = target + ".qel-new";
        try {
            File file = File::create(temporary);
            file.write(bytes);
            file.flush();
            file.close();
            moveFile(temporary, target);
        } catch (...) {
            DeleteFileW(toWide(temporary).c_str());  // what is left of the new text; the file is as it was
            throw;
        }
    });
}

bool deleteFile(const TextArg& path)
{
    static constexpr PersistingRule rule("qel::deleteFile", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return removedUnlessMissing(rule, "DeleteFile", path, &DeleteFileW); });
}

void moveFile(const TextArg& from, const TextArg& to, bool replace)
{
    static constexpr PersistingRule rule("qel::moveFile", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!MoveFileExW(from.wide().c_str(), to.wide().c_str(), flags)) {
            refused(rule, "MoveFileEx", from.utf8(), GetLastError());
        }
    });
}

void copyFile(const TextArg& from, const TextArg& to, bool replace)
{
    static constexpr PersistingRule rule("qel::copyFile", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        if (!CopyFileW(from.wide().c_str(), to.wide().c_str(), replace ? FALSE : TRUE)) {
            refused(rule, "CopyFile", from.utf8(), GetLastError());
        }
    });
}

namespace {

bool isSeparator(WCHAR c)
{
    return c == '\\' || c == '/';
}

// Makes `folder` (no separator at its end), and the folders above it that are missing, from the
// lowest one up: only missing folders are touched, so the top of a path the user may not write
// (C:\Users) is never asked to be made.
void makeFolder(const PersistingRule& rule, const WideText& folder)
{
    if (CreateDirectoryW(folder.c_str(), nullptr)) {
        return;
    }
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        std::size_t end = folder.size();
        while (end > 0 && !isSeparator(folder[end - 1])) {
            --end;
        }
        const WideText parent = end > 0 ? folder.substr(0, end - 1) : WideText();
        if (!parent.empty() && parent.back() != ':' && !isSeparator(parent.back())) {
            makeFolder(rule, parent);
            if (CreateDirectoryW(folder.c_str(), nullptr)) {
                return;
            }
            error = GetLastError();
        }
    }
    if (error != ERROR_ALREADY_EXISTS || !folderExists(fromWide(folder))) {
        refused(rule, "CreateDirectory", fromWide(folder), error);
    }
}

}  // namespace

void createFolder(const TextArg& path)
{
    static constexpr PersistingRule rule("qel::createFolder", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        WideText folder = path.wide();
        while (folder.size() > 1 && isSeparator(folder.back())) {
            folder.pop_back();
        }
        makeFolder(rule, folder);
    });
}

bool removeFolder(const TextArg& path)
{
    static constexpr PersistingRule rule("qel::removeFolder", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return removedUnlessMissing(rule, "RemoveDirectory", path, &RemoveDirectoryW); });
}

}  // namespace qel
