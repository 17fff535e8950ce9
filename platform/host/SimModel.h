// Internal state of the host platform model, shared by the sources that implement the platform
// calls. Nothing outside platform/host includes this.
#pragma once

#include "Simulation.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace sim::detail {

// MSI_NULL_INTEGER as the int that MsiRecordGetInteger answers.
inline constexpr int nullInteger = static_cast<int>(MSI_NULL_INTEGER);

struct Directory {
    std::string target;
    std::string source;
    std::string parent;  // "" for a root of the session's tree
};

struct Session {
    std::map<std::string, std::string> properties;
    std::map<std::string, Directory> directories;
};

// A stream field keeps its read position, as the installer's does.
struct StreamData {
    std::vector<char> bytes;
    std::size_t position = 0;
};
using StoredField = std::variant<Null, int, std::string, StreamData>;

struct Record {
    std::vector<StoredField> fields;  // field 0 first; the field count is size() - 1
    UINT count() const { return static_cast<UINT>(fields.size() - 1); }
};

struct HandleEntry {
    HandleKind kind = HandleKind::session;
    bool open = true;
    int closeCalls = 0;
    bool closeRefused = false;  // an MsiCloseHandle of it answered a fault armed by failCall
    Session session;            // used when kind == session
    Record record;              // used when kind == record
};

struct Fault {
    std::string function;
    std::size_t ordinal;
    std::int64_t result;
    std::optional<DWORD> lastError;
};

struct Hook {
    std::string function;
    std::size_t ordinal;
    std::function<void()> action;
};

struct Model {
    Model();
    ~Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // Handles.
    std::map<MSIHANDLE, HandleEntry> handles;
    MSIHANDLE nextHandle = 1;
    std::size_t badCloses = 0;
    MSIHANDLE pendingErrorRecord = 0;

    // Installer.
    bool doubledMoreDataLength = true;
    std::vector<Message> messages;
    int processMessageResult = 0;

    // Calls and faults.
    bool journal = true;
    std::vector<std::string> callLog;
    std::map<std::string, std::size_t, std::less<>> callCounts;
    std::vector<Fault> faults;
    std::vector<Hook> hooks;

    // KERNEL32.
    DWORD lastError = 0;
    std::map<std::string, UINT> drives;  // by normalised root ("C:\", "\\SERVER\SHARE\")
    std::vector<std::string> driveTypeQueries;
    std::filesystem::path tempFolder;   // absolute, lexically normal, no trailing separator
    std::filesystem::path ownedFolder;  // the folder this model made; removed with the model
    std::map<DWORD, std::string> systemMessages;
    std::map<const void*, std::unique_ptr<char[]>> localAllocations;
    std::size_t badLocalFrees = 0;
    std::set<std::uintptr_t> openFinds;
    std::set<std::uintptr_t> refusedFindCloses;  // FindClose calls that answered a fault armed by failCall
    std::uintptr_t nextFind = 0x10000;
    unsigned codePage = 1252;

    // USER32.
    std::map<std::pair<HINSTANCE, UINT>, std::string> stringResources;
    std::vector<MessageBoxCall> messageBoxes;
    std::deque<int> messageBoxAnswers;
};

Model& model();

// Records a platform call: runs the hooks armed for it, logs and counts it, and reports whether
// an armed fault takes its place. With the journal off it does none of that. A faulted call sets the fault's last
// error, if it has one.
struct Entry {
    bool faulted = false;
    std::int64_t result = 0;

    template <class T>
    T as() const
    {
        if constexpr (std::is_pointer_v<T>)
            return reinterpret_cast<T>(static_cast<std::intptr_t>(result));
        else
            return static_cast<T>(result);
    }
};
Entry enter(const char* function);

// Marks the span of a platform call of the model (see insideModelCall()).
class ModelCallScope {
public:
    ModelCallScope();
    ~ModelCallScope();
    ModelCallScope(const ModelCallScope&) = delete;
    ModelCallScope& operator=(const ModelCallScope&) = delete;
};

// Runs a platform call's body as the model does every call: counted and logged first (hooks
// run before), then either the armed fault's result or what the body answers.
template <class Result, class Body>
Result modelled(const char* function, Body&& body)
{
    const ModelCallScope inModel;
    const Entry entry = enter(function);
    if (entry.faulted) {
        if constexpr (std::is_void_v<Result>) {
            return;
        } else {
            return entry.as<Result>();
        }
    }
    return body();
}

// The open entry of a handle of that kind, or nullptr.
HandleEntry* openHandle(MSIHANDLE handle, HandleKind kind);
MSIHANDLE newHandle(HandleKind kind);

StoredField toStored(const Field& field);
Field toField(const StoredField& field);

// The model's paths are the host's with backslashes for separators: the host path of a path the
// library names (either separator taken, doubled ones kept: the host takes them as one), and the
// path the library is given for a host path.
std::string hostPath(const std::string& path);
std::string windowsPath(const std::string& path);

// Windows' own English texts of the system message table, as FormatMessageA gives them (line end
// included): the table a fresh model starts with.
std::map<DWORD, std::string> windowsMessages();

// The drive root a path lies on, normalised ("D:\", "\\SERVER\SHARE\"); "" when it has none.
std::string driveRoot(const std::string& path);
// A path as the drive table keys it: letters in upper case, '/' as '\'. Nothing else changes, so
// a key and the path it came from have the same length.
std::string volumeKey(const std::string& path);

}  // namespace sim::detail
