// Steering and inspection of the host build's platform model.
//
// The model stands in for msi.dll, KERNEL32 and USER32 on Linux. It keeps real state (sessions
// with properties and directories, records with typed fields, a handle table, files on disk under
// a folder of the test's own) and answers each call with the real function's documented results,
// buffer and size semantics included. Tests build a world with the functions below, run library
// code against it, and then read back what the library did to it.
//
// Every test starts from sim::reset(): no handles, no faults, the default tables.
// (qel::testing::SessionTest does that, and opens a session, before each case.)
//
// What a test of a custom action usually steers, and where below:
//   the session        openSession(); setProperty / property for its properties. The installer's
//                      own properties are not preset: a test that needs UILevel, ProductCode, ...
//                      sets them like any other ("" is what an unset property reads as).
//   directories        setDirectory(session, "INSTALLDIR", target, source); targetPath / sourcePath.
//   drives             setDrive("D:\\", DRIVE_CDROM): what GetDriveTypeA and GetVolumePathNameA see.
//   temporary folder   setTempPath / tempPath: where GetTempPathA and GetTempPathW point and
//                      files are kept; a Windows path with any characters may be given
//                      ("C:\\users\\Пользователь\\Temp\\"); makeFolder makes another folder.
//   code page          setCodePage(932): the system's ANSI code page. The model's texts are
//                      Unicode, and every text a sim:: function takes or gives is UTF-8; the W
//                      calls give them whole, the A calls through the code page, '?' for a
//                      character it lacks (no best fit: Windows writes "ł" as "l" under 1252).
//   the user's answers setProcessMessageResult(IDCANCEL): every message the installer takes from
//                      now on is answered Cancel, as a dialog of a full user interface would;
//                      scriptMessageBoxAnswers({IDCANCEL, IDOK}): what MessageBoxA boxes answer.
//                      messages() and messageBoxes() tell what was sent or shown.
//   failures           failCall("MsiSetPropertyA", 1, ERROR_FUNCTION_FAILED): the next call of a
//                      function (or its nth) answers a failure and does nothing else;
//                      beforeCall changes the world between two calls.
//   the journal        callLog() and calls("GetDriveTypeA"): the platform calls made, in order.
//   handles            openHandles, handleInfo, badCloses: what is left open or closed twice;
//                      leftovers(): everything code must not leave behind, in one check.
//   the package        addTable / addRow: tables that views read (rows() reads them back, the
//                      temporary rows an action added included); setFeature / setComponent,
//                      setMode, setLanguage.
//   a real package     loadPackage("X.msi") fills the session from the author's package: its
//                      tables, properties, directories, features and components; bindAction
//                      gives its DLL actions their code.
//   installations      addCustomAction, then runInstallation: immediate actions, then the
//                      script of the deferred, rollback and commit actions they scheduled.
//                      progress() sums the progress messages sent.
#pragma once

#include "QelPlatform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace sim {

// ---- The whole model --------------------------------------------------------------------------

// Forgets every handle, session, record, fault, hook, journal and table entry; selects code page
// 1252, the default system texts and a fresh, empty temporary folder on disk.
void reset();

// ---- Handle table -----------------------------------------------------------------------------

enum class HandleKind { session, record, database, view };

struct HandleInfo {
    HandleKind kind;
    bool open;       // not yet passed to MsiCloseHandle
    int closeCalls;  // how often MsiCloseHandle was called with it (2 or more: closed twice)
};

// What the table knows of a handle the model has handed out; std::nullopt for any other value.
std::optional<HandleInfo> handleInfo(MSIHANDLE handle);

// Handles of that kind that are open now.
std::size_t openHandles(HandleKind kind);

// MsiCloseHandle calls that named a handle already closed, or one the model never handed out
// (MsiCloseHandle(0) is not counted: it is a valid no-op).
std::size_t badCloses();

// ---- Installer sessions -----------------------------------------------------------------------

// A new session handle, as the installer passes it to a custom action.
MSIHANDLE openSession();

void setProperty(MSIHANDLE session, const std::string& name, const std::string& value);
// The property's text; "" when it is not set (as the installer answers).
std::string property(MSIHANDLE session, const std::string& name);

// A directory of a session that costing has resolved: the paths are stored as given (the
// installer's own end with a backslash) and, as after CostFinalize, the property of the
// directory's name holds its target path. A directory given a `parent` (a directory of the
// session already) lies below it: MsiSetTargetPathA on the parent moves the target paths, and
// properties, of the directories below it that still lie under its old path. MsiSetTargetPathA
// replaces the target path and the property; setting the property changes no path.
// targetPath and sourcePath throw for a directory the session lacks.
void setDirectory(MSIHANDLE session, const std::string& name, const std::string& targetPath,
                  const std::string& sourcePath, const std::string& parent = "");
std::string targetPath(MSIHANDLE session, const std::string& name);
std::string sourcePath(MSIHANDLE session, const std::string& name);

// Inside a custom action the ANSI getters may report, with ERROR_MORE_DATA, up to twice the
// character count. On by default, since library code always runs inside a custom action.
void setDoubledMoreDataLength(bool on);

// ---- Records ----------------------------------------------------------------------------------

struct Null {
    bool operator==(const Null&) const = default;
};
struct Stream {
    std::vector<char> bytes;
    bool operator==(const Stream&) const = default;
};
using Field = std::variant<Null, int, std::string, Stream>;

// A new open record handle holding these fields; fields[0] is field 0 (the format). As in the
// installer, an empty text or MSI_NULL_INTEGER is stored as a null field; streams read from their
// first byte.
MSIHANDLE makeRecord(const std::vector<Field>& fields);
// Fields 0..count of an open record.
std::vector<Field> recordFields(MSIHANDLE record);

// The record that the next MsiGetLastErrorRecord hands over (once; then it answers 0 again).
// The handle is created now and counted as an open record handle.
MSIHANDLE setPendingErrorRecord(const std::vector<Field>& fields);

// ---- Installer messages -----------------------------------------------------------------------

// The messages MsiProcessMessage took, in order; a call refused by failCall took nothing.
struct Message {
    INSTALLMESSAGE type;  // as sent, with its button and icon bits (INSTALLMESSAGE_WARNING | MB_OKCANCEL)
    MSIHANDLE session;
    std::vector<Field> fields;  // a copy of the record as it was sent, field 0 first
    // What the installer shows and logs: the record formatted as MsiFormatRecord formats it with the
    // session's properties (a property's value in place of [NAME] included). Without a template, an
    // ACTIONDATA message takes the template of its action's ACTIONSTART (field 3) and a message
    // whose field 1 numbers a row of the session's Error table takes that row's text. Progress
    // and common-data messages carry numbers, not text: "".
    std::string text;
};
const std::vector<Message>& messages();
// What MsiProcessMessage answers from now on for a message it takes. The default is 0 ("no action
// taken"), the answer of a session that shows no user interface (probed under Wine with
// MsiSetInternalUI(INSTALLUILEVEL_NONE): 0 for INFO, ERROR, WARNING, USER, ACTIONSTART and
// ACTIONDATA messages); a message box shown by a full interface answers its button (IDOK, ...).
void setProcessMessageResult(int result);

// The progress bar as the progress messages taken so far move it (INSTALLMESSAGE_PROGRESS, field 1
// telling the kind): a reset (0) sets the total to field 2 and what is done to 0; an add (3) adds
// field 2 to the total; a report (2) adds field 2 to what is done; an action's information (1)
// with field 3 = 1 makes every later ACTIONDATA message of that action add field 2 to what is done
// (until the next ACTIONSTART or action information). A progress record of any other form counts
// in `malformed` and moves nothing.
struct Progress {
    long long total = 0;
    long long done = 0;
    int resets = 0;
    int adds = 0;
    int reports = 0;
    int malformed = 0;
};
Progress progress();

// ---- The package's database -------------------------------------------------------------------
//
// The session's database, as MsiGetActiveDatabase hands it to an immediate action: the tables a
// test authors, which views read. The model understands this much of the installer's query
// language:
//   SELECT `Column`, Column, ... | * FROM `Table`
//       [WHERE Column = 'text' | integer | ? [AND ...]] [ORDER BY Column, ...]
// Keywords in any case, names bare or in backquotes, texts in single quotes. Any other query (the
// installer's other forms included: OR, comparisons other than =, IS NULL, DISTINCT, joins,
// INSERT, UPDATE, DELETE, CREATE) is refused with ERROR_BAD_QUERY_SYNTAX, as are an unknown table
// or column (as the installer answers them). A text column compared with an integer, or an
// integer column with a text that is no integer, matches no row; '' and a null parameter match
// nulls. ORDER BY puts nulls first, integers in order, and texts in the order the package first
// stored them, as the installer does (not alphabetically); without it the rows come in the
// order they were added. A parameter marker needs a parameter record: MsiViewExecute without one
// answers ERROR_FUNCTION_FAILED (a field beyond the record's count reads as null).
//
// A view's protocol: MsiViewFetch before MsiViewExecute, or after MsiViewClose, answers
// ERROR_FUNCTION_FAILED; after the last row ERROR_NO_MORE_ITEMS (and a null record), again for
// every later fetch; MsiViewExecute again starts over. Each fetched record is a new handle.
// MsiViewModify takes MSIMODIFY_INSERT_TEMPORARY: the record's first fields (as many as the view
// has columns; more are ignored, fewer answer ERROR_FUNCTION_FAILED) fill the view's columns,
// the others stay null; a view without every key column, a null key, a null in a column that
// refuses nulls, or a text for an integer column that is no integer answers ERROR_INVALID_DATA;
// a key already there ERROR_FUNCTION_FAILED. The session's database is read-only (an action may
// add temporary rows, nothing else): the modes that write (INSERT, UPDATE, ASSIGN, REPLACE,
// MERGE, DELETE) answer ERROR_FUNCTION_FAILED, and so do the ones the model does not model
// (SEEK, REFRESH, the VALIDATE modes). A view outlives the database handle it came from.

struct Column {
    std::string name;
    // As the installer's column definitions spell it: s (text), l (localizable text), i (integer)
    // or v (binary: streams, such as the Binary table's DLLs), in capitals when the column allows
    // nulls, then the text's length (0: any), the integer's bytes (2 or 4) or 0 for binary:
    // "s72", "S0", "L255", "i2", "I4", "V0". A binary column holds streams only (or nulls), and a
    // condition of a query matches none of its streams.
    std::string type;
};

// A new table of the session's database; its first `keys` columns are the primary key. Throws
// for a table already there, a bad column type or no columns.
void addTable(MSIHANDLE session, const std::string& table, const std::vector<Column>& columns, std::size_t keys = 1);
// A row of a table: one field per column, in order (Null{} for a null; an integer column takes
// an int or a text that is one, a text column a text or an int). Throws for what the table
// refuses: another field count, a null key or a null the column refuses, a key already there.
void addRow(MSIHANDLE session, const std::string& table, const std::vector<Field>& row);
// The table's rows now, temporary ones included, in the order they were added.
std::vector<std::vector<Field>> rows(MSIHANDLE session, const std::string& table);

// ---- Features, components, run modes, language -------------------------------------------------

// A feature as costing left it: installed state, action state, and the components it holds (each
// made, with the same states, when the session lacks it). MsiSetFeatureState takes
// INSTALLSTATE_ABSENT, LOCAL, SOURCE and ADVERTISED (others answer ERROR_FUNCTION_FAILED) and
// gives each of the feature's components the same action state, but none (UNKNOWN) to a
// component to be removed that is absent already. MsiSetComponentState takes ABSENT, LOCAL and
// SOURCE and changes that component alone. Conditions read the states: &Feature and $Component
// the action state, !Feature and ?Component the installed state.
void setFeature(MSIHANDLE session, const std::string& feature, INSTALLSTATE installed, INSTALLSTATE action,
                const std::vector<std::string>& components = {});
void setComponent(MSIHANDLE session, const std::string& component, INSTALLSTATE installed, INSTALLSTATE action);
struct States {
    INSTALLSTATE installed;
    INSTALLSTATE action;
    bool operator==(const States&) const = default;
};
// Throw for a feature or component the session lacks.
States featureStates(MSIHANDLE session, const std::string& feature);
States componentStates(MSIHANDLE session, const std::string& component);

// What MsiGetMode answers in an installation session for the modes 0 to 15 (after reset only
// MSIRUNMODE_ROLLBACKENABLED is on). SCHEDULED, ROLLBACK and COMMIT are the script's: true in
// the actions the script runs; they throw here.
void setMode(MSIHANDLE session, MSIRUNMODE mode, bool on);
// The product's language, as the ProductLanguage property: what MsiGetLanguage answers (0 when
// the property is not a number, as when no installation is running).
void setLanguage(MSIHANDLE session, LANGID language);

// ---- Custom actions and installations -----------------------------------------------------------
//
// The CustomAction table (Action, Type, Source, Target) of the session, and the code of its DLL
// actions. MsiDoAction runs an action of it as the installer does:
// - an immediate DLL action (type 1 and the bits below, without customActionInScript) runs at
//   once with the caller's handle; MsiDoAction answers 0 when it answered 0 or
//   ERROR_NO_MORE_ITEMS, ERROR_INSTALL_USEREXIT when it did, ERROR_INSTALL_FAILURE for any other
//   answer (always 0 with customActionContinue);
// - type 51 sets the property Source to Target, formatted;
// - an action with customActionInScript (deferred; with customActionRollback a rollback action,
//   with customActionCommit a commit action) is written into the script with the value the
//   property of its own name has now (its CustomActionData) and MsiDoAction answers 0;
// - an unknown action answers ERROR_FUNCTION_NOT_CALLED, an action the model cannot run (no
//   code, another type) ERROR_INSTALL_FAILURE.
// A scheduled action runs with a handle of its own, closed after it returned, that reaches only
// what the documentation lets such an action reach: MsiGetProperty reads CustomActionData,
// ProductCode (not in a commit action) and UserSID, and "" for any other property; MsiFormatRecord
// resolves CustomActionData and ProductCode; MsiGetMode answers SCHEDULED, ROLLBACK or COMMIT and
// false for any other mode; MsiGetLanguage the product's language (0 in a commit action);
// MsiProcessMessage, the records. Every other call of the session answers as for a handle that is
// no installation session (MsiGetActiveDatabase 0, ERROR_INVALID_HANDLE, MSICONDITION_ERROR).

using ActionFunction = UINT(WINAPI*)(MSIHANDLE install);

// The bits of a custom action's type the model knows.
inline constexpr int customActionDll = 1;
inline constexpr int customActionSetProperty = 51;
inline constexpr int customActionContinue = 64;    // its answer is ignored
inline constexpr int customActionRollback = 256;   // with customActionInScript
inline constexpr int customActionCommit = 512;     // with customActionInScript
inline constexpr int customActionInScript = 1024;  // deferred
inline constexpr int customActionNoImpersonate = 2048;

// A DLL action (Type = `type`, which holds customActionDll) whose code is `function`.
void addCustomAction(MSIHANDLE session, const std::string& action, int type, ActionFunction function);
// Any row of the CustomAction table, such as a type 51 action: Source the property, Target the
// formatted value.
void addCustomAction(MSIHANDLE session, const std::string& action, int type, const std::string& source,
                     const std::string& target);

enum class Script { immediate, deferred, rollback, commit };

// The script as MsiDoAction wrote it so far, in order.
struct Scheduled {
    std::string action;
    Script script;
    std::string data;  // its CustomActionData
    bool operator==(const Scheduled&) const = default;
};
std::vector<Scheduled> script(MSIHANDLE session);

// One action an installation ran, and its answer.
struct ActionRun {
    std::string action;
    Script script;
    UINT result;
    std::string data;  // the CustomActionData it ran with ("" for an immediate action)
    bool operator==(const ActionRun&) const = default;
};

struct Installation {
    UINT result;  // 0, ERROR_INSTALL_USEREXIT or ERROR_INSTALL_FAILURE
    std::vector<ActionRun> runs;
};

// An installation of the session: the immediate actions in order, each named in the CustomAction
// table (its function runs with the session's handle), or given by its function (named
// "Action1", "Action2", ... in the runs); then, if they all succeeded, the script they wrote
// (MsiDoAction), from its start. Deferred actions run in order; a rollback or commit action is
// kept. When a deferred action fails, the rollback actions written before it run, the last one
// first, and the installation fails (ERROR_INSTALL_USEREXIT when the action answered that,
// else ERROR_INSTALL_FAILURE); the commit actions do not run. When every deferred action
// succeeded, the commit actions run in order (a failed one fails the installation; nothing is
// rolled back then). A failed immediate action ends the installation before the script, which
// runs nothing; one answering ERROR_NO_MORE_ITEMS skips the immediate actions after it. Answers
// of actions with customActionContinue, and of rollback actions, are recorded and ignored.
// The script is empty afterwards.
struct Step {
    Step(const char* action) : action(action) {}
    Step(std::string action) : action(std::move(action)) {}
    Step(ActionFunction function) : function(function) {}
    std::string action;
    ActionFunction function = nullptr;
};
Installation runInstallation(MSIHANDLE session, const std::vector<Step>& immediate);

// ---- The author's package ----------------------------------------------------------------------
//
// loadPackage fills a session from an installer package (.msi), read with libmsi, as the
// installer has it after CostFinalize, so that a test runs against the package its action ships
// in rather than a restatement of it:
// - every table and row, the custom tables included (the Binary and Icon tables' streams too);
// - the Property table's properties; a property the session has already stays, as one given on
//   the command line does: set before loading what the installation is given (INSTALLDIR,
//   REMOVE, ...). The installer's own are added where unset: ROOTDRIVE (C:\), the standard
//   folders (ProgramFilesFolder "C:\Program Files (x86)", ProgramFiles64Folder "C:\Program
//   Files", WindowsFolder, SystemFolder, CommonAppDataFolder, AppDataFolder of the user "User",
//   ..., TempFolder the model's temporary folder), SOURCEDIR and SourceDir (the package's folder:
//   C:\Setup\ unless SOURCEDIR is given) and OriginalDatabase. Installed, set before, says the
//   product is on the machine: MSIRUNMODE_MAINTENANCE is then on.
// - the Directory table's directories (setDirectory): a root (TARGETDIR) at its property, else
//   at ROOTDRIVE; a directory whose property is set (a standard folder, or INSTALLDIR given) at
//   that path; any other below its parent by its DefaultDir ("target:source", each name
//   "short|long", "." for the parent's folder; the long names unless SHORTFILENAMES is set, or
//   for the source the summary's Word Count says short names). Every source path of a
//   compressed package is its folder.
// - features and components with the states costing gives them: a feature whose level (the
//   Condition table's where its condition holds) lies in 1..INSTALLLEVEL, under a parent that
//   is installed, is installed by default (from source with attribute 1, as its parent with 2,
//   advertised with 4, else locally). Without Installed that is the action (installed state
//   absent); with it, the installed state, and the action is none. ADDLOCAL, REMOVE,
//   ADDSOURCE, REINSTALL (ALL or a comma-separated list) set the actions instead, in that order.
//   A component follows its features (local only, attribute 0, or source only, 1), and stays
//   out when its Condition is false; it is removed when none of its features keeps it.
// - the CustomAction table: bindAction gives its DLL actions their code.
// A package is read once and kept while its file stays the same. Throws std::runtime_error for a
// file libmsi cannot read, std::invalid_argument for a session holding one of its tables already.
void loadPackage(MSIHANDLE session, const std::string& path);

// Binds the DLL function `entry` (a DLL action's Target, the name its DLL exports it by) to
// `function`: every DLL action of the session's CustomAction table that calls it runs
// `function`, as an action added by addCustomAction does. Throws when no action calls it.
void bindAction(MSIHANDLE session, const std::string& entry, ActionFunction function);

// ---- Calls and faults -------------------------------------------------------------------------

// Every platform call in order, by the function's name ("MsiGetTargetPathA", "GetDriveTypeA", ...),
// faulted calls included. The steering functions here are not platform calls and are not logged.
const std::vector<std::string>& callLog();
std::size_t calls(std::string_view function);

// Makes the n-th call (1 = the next one) of the named function, counted from now, answer
// `result` without doing anything else; `lastError`, when given, is what GetLastError answers
// afterwards. The result is converted to the function's own result type (an MSIHANDLE, a BOOL,
// a HANDLE, ...). Several faults may be armed at once.
void failCall(std::string_view function, int nth, std::int64_t result, std::optional<DWORD> lastError = std::nullopt);

// True while a platform call of the model runs: memory allocated then is the model's own, not its
// caller's (an allocation counter of the tests tells the two apart by this).
bool insideModelCall();

// Runs `action` right before the n-th call of the named function (1 = the next one), for
// changing the world between two calls of a protocol. The call is not yet logged or counted when
// the action runs; the action must not call reset().
void beforeCall(std::string_view function, int nth, std::function<void()> action);

// Switches the journal of calls on (the default after reset()) or off. While it is off the calls
// answer as always but are neither logged nor counted, so armed faults and hooks wait; this keeps
// the model's bookkeeping out of benchmarks of code that makes a platform call per character.
void setJournal(bool on);

// A stand-in of the author's own for a platform call the model lacks, run as the model runs its
// own: journaled and counted under `function` (sim::callLog, sim::calls), its beforeCall hooks run
// first, and a fault armed for it (sim::failCall, or a refusal of the fault sweep) answers in its
// place, with its last error. The body runs as the model's code: its allocations are not the
// action's, so the sweep never fails them.
//
//     BOOL WINAPI ExpandArchive(LPCWSTR from, LPCWSTR to)
//     {
//         return sim::standIn<BOOL>("ExpandArchive", [&] { return expandForTests(from, to); });
//     }
template <class Result, class Body>
Result standIn(const char* function, Body&& body);

// What standIn stands on: the span of a stand-in's call, entered as the model enters its own.
class StandInCall {
public:
    explicit StandInCall(const char* function);
    ~StandInCall();
    StandInCall(const StandInCall&) = delete;
    StandInCall& operator=(const StandInCall&) = delete;

    // Whether an armed fault answers the call, and its answer.
    bool faulted() const { return fault; }
    std::int64_t faultResult() const { return result; }

private:
    bool fault = false;
    std::int64_t result = 0;
};

// ---- KERNEL32 ---------------------------------------------------------------------------------

// GetDriveTypeA answers `type` for this root ("D:\\", "\\\\server\\share\\") or mount folder
// ("C:\\Mnt\\Cd\\", a folder on a drive where another volume is mounted), named exactly, with
// its backslash; any other path (a folder or file on a drive, a root without its backslash, an
// unknown drive) answers DRIVE_NO_ROOT_DIR, as Windows documents. By default only "C:\\" is known
// (fixed). Names match without regard to case; '/' counts as a separator. A null path means the
// current directory's root, which is C:\\.
// GetVolumePathNameA answers, for a path on a drive or share of the table (a relative path lies on
// C:), the deepest mount folder of the table that holds it, else its drive root or share
// ("\\\\server\\share\\"), spelled as the caller spelled it except that drive letters are upper
// case and '/' is '\\'. It fails with ERROR_FILE_NOT_FOUND for an unknown drive letter and
// ERROR_INVALID_NAME for an unknown share. A buffer without room for the root and its terminator
// is left untouched and the call fails with ERROR_FILENAME_EXCED_RANGE.
void setDrive(const std::string& root, UINT type);
// The paths GetDriveTypeA was asked about, in order, as they were given (a null path as "").
const std::vector<std::string>& driveTypeQueries();

// The folder, on the host's disk, that GetTempPathA and GetTempPathW report and under which the
// file functions work. GetTempPathW writes it as Windows does, with backslashes and ending in one
// ("\tmp\qelsim-1a2b3c\Temp\"), GetTempPathA the same converted to the code page ('?' for a
// character it lacks); tempPath() gives the host's form, ending in '/', for a test's own file
// access (qelStreamPath turns the one into the other). reset() makes a fresh empty folder (and
// removes the one it made before). setTempPath points the model at another folder: a host folder
// ("/tmp/x"), created when missing and never removed, or a Windows path on a drive, with any
// Unicode characters ("C:\users\Пользователь\Temp\"), which the model keeps on the host
// under its own folder (removed by reset()) and reports as given. makeFolder makes such a
// folder of a drive without pointing the model at it (a folder that a lossy A path names, such as
// "C:\users\Michal\Temp\" beside "C:\users\Michał\Temp\") and answers its host path.
// The file functions take '\\' and '/' alike, accept doubled separators and match names without
// regard to case (ASCII, Latin, Greek and Cyrillic letters); a path outside the temporary folder
// and the model's drive folders lies outside the simulated world and answers
// ERROR_PATH_NOT_FOUND; a path holding '?' (as an A call's path does for a character the code
// page lacks: the model has no best fit), '*' or another character Windows refuses in a name
// answers ERROR_INVALID_NAME (FindFirstFile takes wildcards in its last component).
void setTempPath(const std::string& folder);
std::string makeFolder(const std::string& windowsFolder);
std::string tempPath();

// Search handles from FindFirstFileA and FindFirstFileW that FindClose has not yet closed.
std::size_t openFindHandles();

// File handles from CreateFileA and CreateFileW that CloseHandle has not yet closed. They work
// on real files under the temporary folder, like the functions above; a file opened with share
// mode 0 cannot be opened again, by this process or another, until it is closed (any other share
// mode shares everything), and CREATE_NEW lets exactly one of several processes create a file;
// DeleteFile refuses a file that a handle holds open without FILE_SHARE_DELETE, MoveFileExW moves
// none (ERROR_SHARING_VIOLATION) nor replaces one (ERROR_ACCESS_DENIED), CopyFileW copies no file
// held unshared and over none held at all (ERROR_SHARING_VIOLATION). WriteFile writes the bytes
// as given, at the end of the file for a handle opened with FILE_APPEND_DATA alone; a full device
// answers ERROR_DISK_FULL. ReadFile reads synchronously (at the end: TRUE and 0 bytes). Sleep
// sleeps. FindFirstFile gives a file's creation and last write times.
std::size_t openFileHandles();

// GetTickCount counts the steady clock's milliseconds (wrapping at 2^32). Made instant, Sleep
// sleeps no more: it moves that count on by its milliseconds at once, so that a test can pass a
// wait bounded by the clock without waiting. Off after reset().
void setInstantSleeps(bool instant);

// The system message table of FormatMessageA; Windows' own texts for the common codes are there
// after reset(). An empty text removes the entry.
void setSystemMessage(DWORD id, const std::string& text);

// Buffers FormatMessageA allocated that LocalFree has not yet freed.
std::size_t liveLocalAllocations();
// LocalFree calls with memory that is not a live allocation (freed twice, or never allocated).
std::size_t badLocalFrees();

// The system's ANSI code page (GetACP), through which every A call converts the model's texts,
// which are Unicode (UTF-8, as every text the functions here take and give): 1250, 1251, 1252
// (the default after reset()), 1253, 932 (Shift-JIS), 936, 949 or 950; IsDBCSLeadByte and
// GetCPInfo answer its lead bytes. Others throw std::invalid_argument. A character the page
// lacks becomes '?': the model does no best fit (Windows writes "ł" as "l" under 1252), so tests
// that compare A results use characters without one (Cyrillic or CJK under 1252).
void setCodePage(unsigned codePage);

// ---- What code left behind -------------------------------------------------------------------

// What the code run against the model left behind that it must not: the one check of "nothing left
// behind" that the test fixture, the fault sweep and the tests of this project all make.
struct Leftovers {
    // Record handles still open, but for those that are the installer's doing: the error record
    // MsiGetLastErrorRecord has not handed out yet, and a record whose close failCall refused.
    std::size_t records = 0;
    // Database handles of MsiGetActiveDatabase and view handles of MsiDatabaseOpenViewA still open,
    // but for those whose close failCall refused.
    std::size_t databases = 0;
    std::size_t views = 0;
    // Search handles of FindFirstFileA and FindFirstFileW still open, but for those whose FindClose failCall refused.
    std::size_t searches = 0;
    // File handles of CreateFileA and CreateFileW still open, but for those whose CloseHandle failCall refused.
    std::size_t files = 0;
    // FormatMessageA buffers not yet passed to LocalFree (liveLocalAllocations()).
    std::size_t systemBuffers = 0;
    // LocalFree calls with memory that was not live (badLocalFrees()).
    std::size_t badFrees = 0;
    // MsiCloseHandle calls with a handle closed already or never handed out (badCloses()).
    std::size_t badCloses = 0;
    // The session passed to leftovers() was closed, or a close of it was tried and refused: it is
    // the installer's.
    bool sessionClosed = false;

    bool none() const;
    // A line for each kind of leftover ("2 record handles left open", ...); empty when none.
    std::vector<std::string> problems() const;
};

// What is left behind now. With a session (the one the code was given), also whether it was closed.
Leftovers leftovers(MSIHANDLE session = 0);

// ---- USER32 -----------------------------------------------------------------------------------

void setStringResource(HINSTANCE module, UINT id, const std::string& text);

struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
const std::vector<MessageBoxCall>& messageBoxes();
// The answers the next message boxes give, in order; once used up, boxes answer IDOK.
void scriptMessageBoxAnswers(const std::vector<int>& answers);

template <class Result, class Body>
Result standIn(const char* function, Body&& body)
{
    const StandInCall call(function);
    if constexpr (std::is_void_v<Result>) {
        if (!call.faulted()) {
            body();
        }
    } else if (call.faulted()) {
        if constexpr (std::is_pointer_v<Result>) {
            return reinterpret_cast<Result>(static_cast<std::intptr_t>(call.faultResult()));
        } else {
            return static_cast<Result>(call.faultResult());
        }
    } else {
        return body();
    }
}

}  // namespace sim
