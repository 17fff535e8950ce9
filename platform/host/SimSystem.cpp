// KERNEL32 and USER32 of the host platform model, with what they rest on: the conversion between
// the model's paths and the host's, drive roots and Windows' own system texts. The file functions
// work on real files under the model's temporary folder; any other path lies outside the simulated
// world and is not found.
#include "SimModel.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

using namespace sim;
using namespace sim::detail;

namespace {

namespace fs = std::filesystem;

// '*' matches any run of characters, '?' exactly one; letters match regardless of case (both
// texts folded already).
bool wildcardMatch(const char32_t* pattern, const char32_t* name)
{
    if (*pattern == 0) {
        return *name == 0;
    }
    if (*pattern == U'*') {
        return wildcardMatch(pattern + 1, name) || (*name != 0 && wildcardMatch(pattern, name + 1));
    }
    if (*name == 0) {
        return false;
    }
    if (*pattern != U'?' && *pattern != *name) {
        return false;
    }
    return wildcardMatch(pattern + 1, name + 1);
}

// As Windows matches a search pattern: also "name." and "name.*" find a name without extension.
bool matchesPattern(const std::string& patternText, const std::string& nameText)
{
    const std::u32string pattern = foldedCase(patternText);
    const std::u32string name = foldedCase(nameText);
    if (wildcardMatch(pattern.c_str(), name.c_str())) {
        return true;
    }
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, U".*") == 0 &&
        wildcardMatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str())) {
        return true;
    }
    return pattern.size() >= 1 && pattern.back() == U'.' &&
           wildcardMatch(pattern.substr(0, pattern.size() - 1).c_str(), name.c_str());
}

// A Windows-style path of the caller split into its folder and its last component, with '\' and
// '/' both taken as separators. The folder is std::nullopt when it lies outside the simulated
// world (the temporary folder and the model's drives) or is not absolute.
struct SplitPath {
    std::optional<fs::path> folder;
    std::string name;
};

bool within(const fs::path& folder, const fs::path& base)
{
    const fs::path relative = folder.lexically_relative(base);
    return !relative.empty() && *relative.begin() != "..";
}

SplitPath splitPath(const std::string& path)
{
    std::string text = hostPath(path);
    std::size_t slash = text.rfind('/');
    SplitPath split;
    if (slash == std::string::npos) {
        return split;
    }
    split.name = text.substr(slash + 1);
    fs::path folder = fs::path(text.substr(0, slash + 1)).lexically_normal();
    if (!folder.is_absolute()) {
        return split;
    }
    if (!within(folder, model().tempFolder) && !within(folder, model().ownedFolder / "drives")) {
        return split;
    }
    split.folder = folder;
    return split;
}

bool isFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

// The entry of a folder with that name, compared without regard to case as Windows does.
std::optional<fs::path> findEntry(const fs::path& folder, const std::string& name)
{
    std::error_code error;
    if (fs::exists(folder / name, error)) {
        return folder / name;
    }
    const std::u32string wanted = foldedCase(name);
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (foldedCase(entry.path().filename().string()) == wanted) {
            return entry.path();
        }
    }
    return std::nullopt;
}

BOOL fail(DWORD error)
{
    model().lastError = error;
    return FALSE;
}

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Windows' own English texts, as FormatMessageA gives them from the system table.
const std::pair<DWORD, const char*> windowsTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {18, "There are no more files."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1223, "The operation was canceled by the user."},
    {1602, "User cancelled installation."},
    {1603, "Fatal error during installation."},
    {1604, "Installation suspended, incomplete."},
    {1606, "Unknown feature."},
    {1607, "Unknown component."},
    {1609, "Handle is in an invalid state."},
    {1615, "SQL query syntax invalid or unsupported."},
    {1626, "Function could not be executed."},
    {1627, "Function failed during execution."},
    {1804, "The specified datatype is invalid."},
    {1814, "The specified resource name cannot be found in the image file."},
    {1815, "The specified resource language ID cannot be found in the image file."},
};

}  // namespace

sim::detail::ModelPath sim::detail::resolvePath(const std::string& path)
{
    ModelPath resolved;
    if (path.empty()) {
        return resolved;
    }
    SplitPath split = splitPath(path);
    if (!split.folder || !isFolder(*split.folder)) {
        return resolved;
    }
    resolved.folder = split.folder;
    resolved.name = split.name;
    if (!split.name.empty()) {
        resolved.existing = findEntry(*split.folder, split.name);
    }
    return resolved;
}

bool sim::detail::invalidName(const std::string& path, bool wildcardsInName)
{
    const std::size_t last = path.find_last_of("\\/");
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        const bool wildcard = c == '?' || c == '*';
        if ((wildcard && !(wildcardsInName && (last == std::string::npos || i > last))) || c == '<' || c == '>' ||
            c == '|' || c == '"' || (c == ':' && i != 1) || (c > 0 && c < 32)) {
            return true;
        }
    }
    return false;
}

namespace {

fs::path drivesFolder()
{
    return model().ownedFolder / "drives";
}

bool isDrivePath(const std::string& path)
{
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

}  // namespace

std::string sim::detail::hostPath(const std::string& path)
{
    std::string host = path;
    std::replace(host.begin(), host.end(), '\\', '/');
    if (isDrivePath(path)) {
        // A drive's folders lie on the host under the model's own folder.
        const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
        host = (drivesFolder() / std::string(1, drive)).string() + host.substr(2);
    }
    return host;
}

std::string sim::detail::windowsPath(const std::string& path)
{
    std::string windows = path;
    const std::string drives = drivesFolder().string() + "/";
    if (windows.compare(0, drives.size(), drives) == 0 && windows.size() > drives.size() &&
        (windows.size() == drives.size() + 1 || windows[drives.size() + 1] == '/')) {
        windows = windows.substr(drives.size(), 1) + ":" + windows.substr(drives.size() + 1);
        if (windows.size() == 2) {
            windows += '/';
        }
    }
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::map<DWORD, std::string> sim::detail::windowsMessages()
{
    std::map<DWORD, std::string> table;
    for (const auto& [id, text] : windowsTexts) {
        table[id] = std::string(text) + "\r\n";
    }
    return table;
}

std::string sim::detail::driveRoot(const std::string& path)
{
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])))) + ":\\";
    }
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // \\server\share\...: both components must be there.
        std::string root = "\\\\";
        std::size_t pos = 2;
        for (int component = 0; component < 2; ++component) {
            std::size_t end = pos;
            while (end < path.size() && !isSeparator(path[end])) {
                ++end;
            }
            if (end == pos) {
                return "";
            }
            for (std::size_t i = pos; i < end; ++i) {
                root += static_cast<char>(std::toupper(static_cast<unsigned char>(path[i])));
            }
            root += '\\';
            pos = end + 1;
        }
        return root;
    }
    return "";
}

std::string sim::detail::volumeKey(const std::string& path)
{
    std::string key = path;
    for (char& c : key) {
        c = isSeparator(c) ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return key;
}

namespace {

// What an A call gives in the system's code page and a W call in UTF-16, from the model's UTF-8.
std::string out(const std::string& text, const char*)
{
    return toAnsi(text);
}

std::basic_string<WCHAR> out(const std::string& text, const WCHAR*)
{
    return utf8ToWide(text);
}

template <class Char>
UINT driveType(const char* function, const Char* rootPathName)
{
    const ModelCallScope inModel;
    const std::optional<std::string> path = textOf(rootPathName);
    model().driveTypeQueries.emplace_back(path ? *path : "");
    return modelled<UINT>(function, [&]() -> UINT {
        // No path at all means the root of the current directory, which the model keeps on C:.
        // Anything else must name a root of the table itself, with its backslash: a folder or a
        // file on a drive is no root directory.
        const std::string root = path ? volumeKey(*path) : std::string("C:\\");
        const auto& drives = model().drives;
        auto it = drives.find(root);
        return it == drives.end() ? DRIVE_NO_ROOT_DIR : it->second;
    });
}

template <class Char>
BOOL volumePathOf(const char* function, const Char* fileName, Char* volumePathName, DWORD bufferLength)
{
    return modelled<BOOL>(function, [&]() -> BOOL {
        if (!fileName || *fileName == 0 || !volumePathName) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        const std::string path = *textOf(fileName);
        std::string root = driveRoot(path);
        if (root.empty()) {
            if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/')) {
                return fail(ERROR_INVALID_NAME);  // a network name without its share
            }
            root = "C:\\";  // a relative path lies on the current directory's drive
        }
        if (!model().drives.contains(root)) {
            // No such volume: an unknown drive letter, or a share that is not there.
            return fail(root.size() == 3 ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_NAME);
        }
        if (root.size() > 3) {
            root = path.substr(0, root.size() - 1) + "\\";  // the share as the caller spelled it
            std::replace(root.begin(), root.end(), '/', '\\');
        }
        // The deepest mount folder of the table that holds the path, spelled as the caller did.
        const std::string key = volumeKey(path + "\\");
        for (const auto& [mounted, type] : model().drives) {
            if (mounted.size() > root.size() && key.compare(0, mounted.size(), mounted) == 0) {
                root = path.substr(0, mounted.size() - 1) + "\\";
                std::replace(root.begin(), root.end(), '/', '\\');
            }
        }
        // The root and its terminator must fit; nothing is written otherwise.
        const auto given = out(root, volumePathName);
        if (bufferLength < given.size() + 1) {
            return fail(ERROR_FILENAME_EXCED_RANGE);
        }
        std::copy(given.c_str(), given.c_str() + given.size() + 1, volumePathName);
        return TRUE;
    });
}

template <class Char>
DWORD tempPathOf(const char* function, DWORD bufferLength, Char* buffer)
{
    return modelled<DWORD>(function, [&]() -> DWORD {
        const auto path = out(windowsPath(sim::tempPath()), buffer);
        DWORD length = static_cast<DWORD>(path.size());
        if (!buffer || bufferLength <= length) {
            return length + 1;
        }
        std::copy(path.c_str(), path.c_str() + length + 1, buffer);
        return length;
    });
}

template <class Char>
BOOL deleteFile(const char* function, const Char* fileNameText)
{
    return modelled<BOOL>(function, [&]() -> BOOL {
        const std::optional<std::string> fileName = textOf(fileNameText);
        if (!fileName || fileName->empty()) {
            return fail(ERROR_PATH_NOT_FOUND);
        }
        if (invalidName(*fileName, false)) {
            return fail(ERROR_INVALID_NAME);
        }
        SplitPath split = splitPath(*fileName);
        if (!split.folder || !isFolder(*split.folder)) {
            return fail(ERROR_PATH_NOT_FOUND);
        }
        if (split.name.empty()) {
            return fail(ERROR_FILE_NOT_FOUND);
        }
        std::optional<fs::path> file = findEntry(*split.folder, split.name);
        if (!file) {
            return fail(ERROR_FILE_NOT_FOUND);
        }
        if (isFolder(*file)) {
            return fail(ERROR_ACCESS_DENIED);
        }
        if (heldAgainstDeletion(*file)) {
            return fail(ERROR_SHARING_VIOLATION);
        }
        std::error_code error;
        if (!fs::remove(*file, error)) {
            return fail(ERROR_ACCESS_DENIED);
        }
        return TRUE;
    });
}

// A time of the file system as Windows gives it: 100-nanosecond intervals since 1601.
FILETIME fileTime(const statx_timestamp& time)
{
    constexpr std::uint64_t secondsFrom1601To1970 = 11644473600u;
    const std::uint64_t intervals =
        (static_cast<std::uint64_t>(time.tv_sec) + secondsFrom1601To1970) * 10000000u + time.tv_nsec / 100u;
    return FILETIME{static_cast<DWORD>(intervals & 0xFFFFFFFFu), static_cast<DWORD>(intervals >> 32)};
}

// A file's creation time (its birth time where the file system keeps one, else its last write)
// and its last write time; left zero when the file cannot be looked at.
void fileTimes(const fs::path& file, FILETIME& created, FILETIME& written)
{
    struct statx status {};
    if (::statx(AT_FDCWD, file.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &status) != 0) {
        return;
    }
    written = fileTime(status.stx_mtime);
    created = (status.stx_mask & STATX_BTIME) != 0 ? fileTime(status.stx_btime) : written;
}

template <class Char, class FindData>
HANDLE findFirstFile(const char* function, const Char* fileNameText, FindData* findFileData)
{
    return modelled<HANDLE>(function, [&]() -> HANDLE {
        const std::optional<std::string> fileName = textOf(fileNameText);
        if (!findFileData) {
            fail(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        if (!fileName || fileName->empty()) {
            fail(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (invalidName(*fileName, true)) {
            fail(ERROR_INVALID_NAME);
            return INVALID_HANDLE_VALUE;
        }
        SplitPath split = splitPath(*fileName);
        if (!split.folder || !isFolder(*split.folder)) {
            fail(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }

        // Candidates in a stable order: "." and "..", then the entries sorted without regard to case.
        std::vector<std::string> names{".", ".."};
        std::vector<std::string> entries;
        std::error_code error;
        for (const auto& item : fs::directory_iterator(*split.folder, error)) {
            entries.push_back(item.path().filename().string());
        }
        std::sort(entries.begin(), entries.end(),
                  [](const std::string& a, const std::string& b) { return foldedCase(a) < foldedCase(b); });
        names.insert(names.end(), entries.begin(), entries.end());

        auto match = std::find_if(names.begin(), names.end(),
                                  [&](const std::string& name) { return matchesPattern(split.name, name); });
        if (split.name.empty() || match == names.end()) {
            fail(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }

        constexpr DWORD attributeArchive = 0x20;
        fs::path found = *split.folder / *match;
        std::memset(findFileData, 0, sizeof *findFileData);
        fileTimes(found, findFileData->ftCreationTime, findFileData->ftLastWriteTime);
        if (isFolder(found)) {
            findFileData->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        } else {
            findFileData->dwFileAttributes = attributeArchive;
            std::uintmax_t size = fs::file_size(found, error);
            if (!error) {
                findFileData->nFileSizeHigh = static_cast<DWORD>(size >> 32);
                findFileData->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
            }
        }
        // The name as the call's kind of text gives it: a character the code page lacks is '?'.
        const auto name = out(*match, findFileData->cFileName);
        std::copy_n(name.begin(), std::min<std::size_t>(name.size(), MAX_PATH - 1), findFileData->cFileName);

        Model& m = model();
        std::uintptr_t handle = m.nextFind;
        m.nextFind += 8;
        m.openFinds.insert(handle);
        return reinterpret_cast<HANDLE>(handle);
    });
}

}  // namespace

// Wine departs from the documentation here: it answers the drive's type for "C:" without its
// backslash, for any path on a CD-ROM drive (files and missing folders included) and for existing
// folders of other drives.
UINT WINAPI GetDriveTypeA(LPCSTR rootPathName)
{
    return driveType("GetDriveTypeA", rootPathName);
}

UINT WINAPI GetDriveTypeW(LPCWSTR rootPathName)
{
    return driveType("GetDriveTypeW", rootPathName);
}

// Wine answers a relative path with the current directory's drive, and with a buffer one short of
// the root's terminator it succeeds with the root cut before its backslash ("C:"); the model
// fails there instead, as a root without its backslash is not the documented answer.
BOOL WINAPI GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength)
{
    return volumePathOf("GetVolumePathNameA", fileName, volumePathName, bufferLength);
}

BOOL WINAPI GetVolumePathNameW(LPCWSTR fileName, LPWSTR volumePathName, DWORD bufferLength)
{
    return volumePathOf("GetVolumePathNameW", fileName, volumePathName, bufferLength);
}

// Probed under Wine: "C:\users\...\Temp\" and its length without the terminator; a buffer too
// small answers the size needed with the terminator. The model's folder is the host's, written
// with backslashes ("\tmp\qelsim-1a2b3c\Temp\"), or the Windows path a test gave setTempPath,
// so that the library's own path joining is what reaches the file functions. GetTempPathA gives
// it in the system's code page ('?' for a character it lacks), GetTempPathW whole.
DWORD WINAPI GetTempPathA(DWORD bufferLength, LPSTR buffer)
{
    return tempPathOf("GetTempPathA", bufferLength, buffer);
}

DWORD WINAPI GetTempPathW(DWORD bufferLength, LPWSTR buffer)
{
    return tempPathOf("GetTempPathW", bufferLength, buffer);
}

// A path holding a character the system's code page lacks reaches DeleteFileA with '?' in its
// place, which Windows refuses in a name (ERROR_INVALID_NAME).
BOOL WINAPI DeleteFileA(LPCSTR fileName)
{
    return deleteFile("DeleteFileA", fileName);
}

BOOL WINAPI DeleteFileW(LPCWSTR fileName)
{
    return deleteFile("DeleteFileW", fileName);
}

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData)
{
    return findFirstFile("FindFirstFileA", fileName, findFileData);
}

HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData)
{
    return findFirstFile("FindFirstFileW", fileName, findFileData);
}

BOOL WINAPI FindClose(HANDLE findFile)
{
    const auto handle = reinterpret_cast<std::uintptr_t>(findFile);
    const BOOL closed = modelled<BOOL>("FindClose", [&]() -> BOOL {
        if (model().openFinds.erase(handle) == 0) {
            return fail(ERROR_INVALID_HANDLE);
        }
        return TRUE;
    });
    // A search still open after a failed close was refused by a fault: the close never happened.
    if (!closed && model().openFinds.count(handle) != 0) {
        const ModelCallScope inModel;
        model().refusedFindCloses.insert(handle);
    }
    return closed;
}

DWORD WINAPI GetLastError()
{
    return modelled<DWORD>("GetLastError", [&]() -> DWORD { return model().lastError; });
}

void WINAPI SetLastError(DWORD errorCode)
{
    modelled<void>("SetLastError", [&] { model().lastError = errorCode; });
}

// The model gives what the library asks for: a text of the system table, its inserts left as they
// stand. It takes no text of the caller's and no arguments, and refuses any other request.
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD /*languageId*/, LPSTR buffer,
                            DWORD size, va_list* /*arguments*/)
{
    return modelled<DWORD>("FormatMessageA", [&]() -> DWORD {
        const bool allocate = (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
        if (allocate && buffer) {
            *reinterpret_cast<char**>(buffer) = nullptr;
        }
        constexpr DWORD systemText = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
        if (!buffer || (flags & ~static_cast<DWORD>(FORMAT_MESSAGE_ALLOCATE_BUFFER)) != systemText) {
            fail(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const auto& table = model().systemMessages;
        const auto it = table.find(messageId);
        if (it == table.end()) {
            fail(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
        const std::string text = toAnsi(it->second);

        const DWORD length = static_cast<DWORD>(text.size());
        if (allocate) {
            std::size_t bytes = std::max<std::size_t>(length + 1, size);
            auto memory = std::make_unique<char[]>(bytes);
            std::memcpy(memory.get(), text.c_str(), length + 1);
            *reinterpret_cast<char**>(buffer) = memory.get();
            model().localAllocations.emplace(memory.get(), std::move(memory));
            return length;
        }
        if (length + 1 > size) {
            fail(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(buffer, text.c_str(), length + 1);
        return length;
    });
}

HLOCAL WINAPI LocalFree(HLOCAL memory)
{
    return modelled<HLOCAL>("LocalFree", [&]() -> HLOCAL {
        if (!memory) {
            return nullptr;
        }
        Model& m = model();
        if (m.localAllocations.erase(memory) == 0) {
            ++m.badLocalFrees;
            fail(ERROR_INVALID_HANDLE);
            return memory;
        }
        return nullptr;
    });
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    return modelled<int>("MessageBoxA", [&]() -> int {
        Model& m = model();
        // A box without a caption is titled "Error".
        m.messageBoxes.push_back(
            MessageBoxCall{owner, text ? fromAnsi(text) : "", caption ? fromAnsi(caption) : "Error", type});
        if (m.messageBoxAnswers.empty()) {
            return IDOK;
        }
        int answer = m.messageBoxAnswers.front();
        m.messageBoxAnswers.pop_front();
        return answer;
    });
}

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax)
{
    return modelled<int>("LoadStringA", [&]() -> int {
        if (!buffer || bufferMax <= 0) {
            return 0;
        }
        const auto& table = model().stringResources;
        auto it = table.find({instance, id});
        if (it == table.end()) {
            buffer[0] = '\0';
            fail(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        const std::string text = toAnsi(it->second);
        std::size_t count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(bufferMax) - 1);
        std::memcpy(buffer, text.data(), count);
        buffer[count] = '\0';
        return static_cast<int>(count);
    });
}
