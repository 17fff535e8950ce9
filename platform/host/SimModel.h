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
#include <string_view>
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

// A stream field keeps its read position, as the installer's does.
struct StreamData {
    std::vector<char> bytes;
    std::size_t position = 0;
    bool operator==(const StreamData&) const = default;
};
using StoredField = std::variant<Null, int, std::string, StreamData>;

struct Record {
    std::vector<StoredField> fields;  // field 0 first; the field count is size() - 1
    UINT count() const { return static_cast<UINT>(fields.size() - 1); }
};

// A column of a table, as its definition spells it ("s72": text of up to 72 characters, no
// nulls; "I2": a two-byte integer or null).
struct ColumnDefinition {
    std::string name;
    char kind = 's';  // 's' text, 'l' localizable text, 'i' integer
    bool nullable = false;
    int width = 0;  // characters of a text (0: any length), bytes of an integer
    std::string type() const;
};

struct Table {
    std::vector<ColumnDefinition> columns;
    std::size_t keys = 1;  // the first `keys` columns are the primary key
    std::vector<std::vector<StoredField>> rows;
};

// A feature's or a component's states: as installed now, and what this installation does.
struct InstallStates {
    INSTALLSTATE installed = INSTALLSTATE_ABSENT;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
};

struct Feature {
    InstallStates states;
    std::vector<std::string> components;
};

// An entry of the installation script: a deferred, rollback or commit action and its data.
struct ScriptEntry {
    std::string action;
    Script script;
    std::string data;
};

struct Session {
    // An installation session is immediate; the handle a scheduled action runs with belongs to
    // a session of its own, of the script it runs in, which holds only what such an action may
    // read.
    Script context = Script::immediate;
    std::map<std::string, std::string> properties;
    std::map<std::string, Directory> directories;
    std::map<std::string, Table> tables;
    std::map<std::string, std::size_t, std::less<>> stringPool;  // a text's rank: when it was first stored
    std::map<std::string, Feature> features;
    std::map<std::string, InstallStates> components;
    std::set<int> modes{MSIRUNMODE_ROLLBACKENABLED};
    std::map<std::string, ActionFunction> actionCode;  // the code of the DLL actions, by action name
    std::vector<ScriptEntry> script;                   // written by MsiDoAction, run by runInstallation
    LANGID language = 0;                               // a scheduled action's copy of the product's language
};

// A query of the installer's language that the model understands, opened on a database.
struct View {
    struct Condition {
        std::size_t column;
        StoredField value;  // the literal compared with
        int parameter = 0;  // or the parameter record's field (from 1)
    };
    MSIHANDLE session = 0;  // whose database it reads
    std::string table;
    std::vector<std::size_t> columns;  // the selected columns of the table, in order
    std::vector<Condition> where;
    std::vector<std::size_t> orderBy;
    int parameters = 0;
    bool executed = false;
    std::vector<std::vector<StoredField>> result;  // the selected columns of the rows found
    std::size_t next = 0;
};

struct HandleEntry {
    HandleKind kind = HandleKind::session;
    bool open = true;
    int closeCalls = 0;
    bool closeRefused = false;  // an MsiCloseHandle of it answered a fault armed by failCall
    Session session;            // used when kind == session
    Record record;              // used when kind == record
    MSIHANDLE owner = 0;        // used when kind == database: the session whose database it is
    View view;                  // used when kind == view
};

// A file the model's CreateFileA opened: the host's descriptor, which closes with it.
struct OpenFile {
    OpenFile(int descriptor, bool reads, bool writes, bool sharesDelete)
        : descriptor(descriptor), reads(reads), writes(writes), sharesDelete(sharesDelete)
    {
    }
    OpenFile(OpenFile&& other) noexcept
        : descriptor(std::exchange(other.descriptor, -1)), reads(other.reads), writes(other.writes),
          sharesDelete(other.sharesDelete)
    {
    }
    OpenFile& operator=(OpenFile&&) = delete;
    ~OpenFile();

    int descriptor;
    bool reads;         // opened with GENERIC_READ
    bool writes;        // opened with the right to write or append
    bool sharesDelete;  // opened with FILE_SHARE_DELETE: DeleteFileA may delete the file meanwhile
};

// Whether a file handle of this process holds the file open without FILE_SHARE_DELETE, so that
// DeleteFileA cannot delete it.
bool heldAgainstDeletion(const std::filesystem::path& file);

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
    std::map<MSIHANDLE, std::string> actionTemplates;  // by session: the template of its last ACTIONSTART

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
    std::map<std::uintptr_t, OpenFile> openFiles;
    std::set<std::uintptr_t> refusedFileCloses;  // CloseHandle calls that answered a fault armed by failCall
    std::uintptr_t nextFile = 0x40000;
    // The clock: GetTickCount is the steady clock's milliseconds plus what sleeps passed on it
    // without sleeping (sim::setInstantSleeps).
    bool instantSleeps = false;
    DWORD sleptOnClock = 0;
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

// The session of a session handle the model handed out, open or not; throws
// std::invalid_argument for any other handle (for the steering functions).
Session& knownSession(MSIHANDLE handle);

// The session of an open session handle, or nullptr: any session, or only an installation
// session (not the limited one a scheduled action runs with).
Session* anySessionOf(MSIHANDLE handle);
Session* installSessionOf(MSIHANDLE handle);
Record* openRecordOf(MSIHANDLE handle);

// The installer's text getters: size in and out, counted without the terminator. A buffer of
// size n takes at most n - 1 characters and is always terminated; the needed length comes back
// with ERROR_MORE_DATA (doubled, when asked, as the ANSI getters do inside a custom action).
// `text` is the model's (UTF-8): the A getters give it in the system's code page and count bytes,
// the W getters in UTF-16 and count WCHARs, and never double the length (the doubling is an
// ANSI artefact).
UINT copyText(const std::string& text, LPSTR buffer, LPDWORD size, bool doubleOnMoreData);
UINT copyText(const std::string& text, LPWSTR buffer, LPDWORD size, bool doubleOnMoreData);

// A plain decimal integer with an optional '-', in the range of int; nothing else
// (MSI_NULL_INTEGER as nullInteger).
int parseInteger(const std::string& text);

// A field's text as MsiRecordGetString gives it ("" for a null field or a stream).
std::string fieldText(const StoredField& field);

// The property as a session's own kind of handle lets its code read it: everything in an
// installation session; in a scheduled action's only its data, the product code (not in a
// commit action) and the user's SID.
std::string readableProperty(const Session& session, const std::string& name);

// Formatted text (MsiFormatRecord) and conditions (MsiEvaluateCondition) of a session; null:
// no session, which leaves property references as they stand.
std::string formatText(const Session* session, const Record& record);
MSICONDITION evaluateCondition(const Session& session, const std::string& condition);

// A text's rank in the session's string pool, giving it one when it has none: rows ordered by
// a text column come in this order, as in the installer, not in alphabetical order.
std::size_t poolRank(Session& session, const std::string& text);

// Checks a row against a table's definition and makes it the table's own: texts given for an
// integer column become integers, integers for a text column their decimal text. Answers
// ERROR_SUCCESS, ERROR_INVALID_DATA (a null key or a null a column refuses, a text for an
// integer that is none) or ERROR_FUNCTION_FAILED (a row with the same key is there already).
UINT acceptRow(Session& session, Table& table, std::vector<StoredField>& row);

StoredField toStored(const Field& field);
Field toField(const StoredField& field);

// The model's paths are the host's with backslashes for separators: the host path of a path the
// library names (either separator taken, doubled ones kept: the host takes them as one), and the
// path the library is given for a host path.
std::string hostPath(const std::string& path);
std::string windowsPath(const std::string& path);

// A path the library names, as the model's file functions see it: its folder on the host's disk
// (none when the path lies outside the temporary folder, is not absolute or its folder is
// missing), its last component, and the entry of that folder the component names without regard
// to case, if there is one.
struct ModelPath {
    std::optional<std::filesystem::path> folder;
    std::string name;
    std::optional<std::filesystem::path> existing;
};
ModelPath resolvePath(const std::string& path);
// Whether a path (UTF-8) holds a character Windows refuses in a name (ERROR_INVALID_NAME): '?',
// '*' (but for wildcards in the last component, when they are allowed), '<', '>', '|', '"', a ':'
// other than a drive's, a control character. A path an A call was given holds '?' for each
// character the code page lacks.
bool invalidName(const std::string& path, bool wildcardsInName);

// ---- Code pages (SimCodePages.cpp) ----
//
// The model keeps its texts in UTF-8; its A functions convert what they take from the system's
// ANSI code page (model().codePage) and what they give into it ('?' for a character it lacks).
bool knownCodePage(unsigned number);
// UTF-8 and UTF-16: invalid UTF-8, and a lone surrogate, become U+FFFD (and set *invalid).
std::u16string utf8ToWide(std::string_view text, bool* invalid = nullptr);
std::string wideToUtf8(std::u16string_view text, bool* invalid = nullptr);
// The system's ANSI code page and UTF-8.
std::string fromAnsi(std::string_view bytes);
std::string toAnsi(std::string_view utf8);
// A text argument of an A or a W function in UTF-8; std::nullopt for a null pointer.
std::optional<std::string> textOf(LPCSTR text);
std::optional<std::string> textOf(LPCWSTR text);
inline const char* orNull(const std::optional<std::string>& text)
{
    return text ? text->c_str() : nullptr;
}
// The text's characters with letters in lower case, for comparing names as Windows does without
// regard to case: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters (the model knows no
// other case pairs); invalid UTF-8 as U+FFFD.
std::u32string foldedCase(std::string_view utf8);
// Whether the byte is a lead byte of the system's code page.
bool isLeadByte(unsigned char byte);

// Windows' own English texts of the system message table, as FormatMessageA gives them (line end
// included): the table a fresh model starts with.
std::map<DWORD, std::string> windowsMessages();

// The drive root a path lies on, normalised ("D:\", "\\SERVER\SHARE\"); "" when it has none.
std::string driveRoot(const std::string& path);
// A path as the drive table keys it: letters in upper case, '/' as '\'. Nothing else changes, so
// a key and the path it came from have the same length.
std::string volumeKey(const std::string& path);

}  // namespace sim::detail
