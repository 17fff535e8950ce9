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
//   temporary folder   setTempPath / tempPath: where GetTempPathA points and files are kept.
//   code page          setCodePage(932): which bytes IsDBCSLeadByte takes as lead bytes.
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
#pragma once

#include "QelPlatform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sim {

// ---- The whole model --------------------------------------------------------------------------

// Forgets every handle, session, record, fault, hook, journal and table entry; selects code page
// 1252, the default system texts and a fresh, empty temporary folder on disk.
void reset();

// ---- Handle table -----------------------------------------------------------------------------

enum class HandleKind { session, record };

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
};
const std::vector<Message>& messages();
// What MsiProcessMessage answers from now on for a message it takes. The default is 0 ("no action
// taken"), the answer of a session that shows no user interface (probed under Wine with
// MsiSetInternalUI(INSTALLUILEVEL_NONE): 0 for INFO, ERROR, WARNING, USER, ACTIONSTART and
// ACTIONDATA messages); a message box shown by a full interface answers its button (IDOK, ...).
void setProcessMessageResult(int result);

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

// The folder, on the host's disk, that GetTempPathA reports and under which the file functions
// work. GetTempPathA writes it as Windows does, with backslashes and ending in one
// ("\tmp\qelsim-1a2b3c\"); tempPath() gives the host's form, ending in '/', for a test's own
// file access (qelStreamPath turns the one into the other). reset() makes a fresh empty folder
// (and removes the one it made before); setTempPath points the model at another folder, created
// when missing and never removed. DeleteFileA and FindFirstFileA take '\\' and '/' alike, accept
// doubled separators and match names without regard to case; a path outside this folder lies
// outside the simulated world and answers ERROR_PATH_NOT_FOUND.
void setTempPath(const std::string& hostFolder);
std::string tempPath();

// Search handles from FindFirstFileA that FindClose has not yet closed.
std::size_t openFindHandles();

// The system message table of FormatMessageA; Windows' own texts for the common codes are there
// after reset(). An empty text removes the entry.
void setSystemMessage(DWORD id, const std::string& text);

// Buffers FormatMessageA allocated that LocalFree has not yet freed.
std::size_t liveLocalAllocations();
// LocalFree calls with memory that is not a live allocation (freed twice, or never allocated).
std::size_t badLocalFrees();

// The ANSI code page IsDBCSLeadByte answers for: 1252 (no lead bytes) or 932 (Shift-JIS); also
// 936, 949 and 950 (lead bytes 0x81-0xFE). Others throw std::invalid_argument.
void setCodePage(unsigned codePage);

// ---- What code left behind -------------------------------------------------------------------

// What the code run against the model left behind that it must not: the one check of "nothing left
// behind" that the test fixture, the fault sweep and the tests of this project all make.
struct Leftovers {
    // Record handles still open, but for those that are the installer's doing: the error record
    // MsiGetLastErrorRecord has not handed out yet, and a record whose close failCall refused.
    std::size_t records = 0;
    // Search handles of FindFirstFileA still open, but for those whose FindClose failCall refused.
    std::size_t searches = 0;
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

}  // namespace sim
