// Raising the library's exceptions: one line at the place where something failed.
//
// A method that runs under a persisting rule raises with that rule, which names the method (its
// context) and its source file, and with a comment that says what failed:
//
//     const UINT result = MsiSetPropertyA(session, name, value);
//     if (result != ERROR_SUCCESS) {
//         raiseMsiError(rule, failedCall("MsiSetProperty"), result);
//     }
//
// The exception starts its history with one entry: the rule's context and file name, the line of
// the raise call itself and the comment. failedCall("X") is the comment "Function Failed: X()",
// the library's wording for a refused call; name the function as the documentation does, without
// its A or W ending. failedCall("X", subject) names what the call was for as well:
// "Function Failed: MsiGetProperty("UILevel")". Any other comment is passed as its text.
//
// A method without handlers raises all the same, with a rule that has none (it is then only read
// for its context and file name):
//     static constexpr PersistingRule rule("Owner::count()", fileName, none, none, none, noCatchAll);
//
// Author code raises without a rule: the qel:: raise functions below take the context and file
// name from the compiler, the function the raise is in and its source file, and record the same
// history entry:
//
//     if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
//         qel::raiseWinError(qel::failedCall("GetFileAttributes", name));  // T: readSetup, F: Setup
//     }
//
// Every raise function throws and never returns. Out of memory while building the exception,
// std::bad_alloc leaves instead, as from any other throw of a library exception.
#pragma once

#include "../errors/PersistingRule.h"
#include "../text/TextArg.h"
#include "../text/Unicode.h"

#include <source_location>
#include <string>

// What a raise records as its comment: a text of the caller's own, or failedCall(name).
class RaiseComment {
public:
    constexpr RaiseComment(const char* text) : text(text) {}  // NOLINT(google-explicit-constructor): a text

    // The comment as the history entry records it.
    KestCString toText() const;

private:
    friend constexpr RaiseComment failedCall(const char* name);
    friend constexpr RaiseComment failedCall(const char* name, const char* subject);
    constexpr RaiseComment(const char* name, const char* subject, bool failedCall)
        : text(name), subject(subject), failedCall(failedCall)
    {
    }

    const char* text;
    const char* subject = nullptr;
    bool failedCall = false;
};

// The comment "Function Failed: <name>()" for the call `name` that failed.
constexpr RaiseComment failedCall(const char* name)
{
    return RaiseComment(name, nullptr, true);
}

// The comment "Function Failed: <name>("<subject>")" for the call `name` that failed on `subject`:
// the property, directory, action, query or condition it was made for, so that the report says
// which. The subject is read when the exception is made, during the raise call.
constexpr RaiseComment failedCall(const char* name, const char* subject)
{
    return RaiseComment(name, subject, true);
}
// As above, for a subject in a std::string (or a qel::Text) that lives until the raise call ends.
inline RaiseComment failedCall(const char* name, const std::string& subject)
{
    return failedCall(name, subject.c_str());
}

namespace persisting::detail {
[[noreturn]] void raiseException(const PersistingRule& rule, const RaiseComment& comment, int line);
[[noreturn]] void raiseFileException(const PersistingRule& rule, const RaiseComment& comment, const qel::WideText& file,
                                     DWORD code, int line);
[[noreturn]] void raiseInvalidParameter(const PersistingRule& rule, const RaiseComment& comment, int line);
[[noreturn]] void raiseWinError(const PersistingRule& rule, const RaiseComment& comment, DWORD code, int line);
[[noreturn]] void raiseMsiError(const PersistingRule& rule, const RaiseComment& comment, UINT code, int line);
}  // namespace persisting::detail

// Throws an EKestException: a failure that is neither a caller's mistake nor a refused call with a
// code, such as a file that cannot be opened. Its code is 0 and its message "Unknown exception".
[[noreturn]] inline void raiseException(const PersistingRule& rule, const RaiseComment& comment,
                                        std::source_location where = std::source_location::current())
{
    persisting::detail::raiseException(rule, comment, static_cast<int>(where.line()));
}

// Throws an EKestException, as raiseException does, for a file the system refused with `code`
// (GetLastError() right after the refused call, as for raiseWinError): the comment stays the
// first entry's, and a second entry of the same method tells which file and why,
// "File: C:\Temp\setup.mpp. Error 5: Access is denied.", the path in the ANSI code page as the
// history's texts are (a character the code page lacks reads as the system renders it).
[[noreturn]] inline void raiseFileException(const PersistingRule& rule, const RaiseComment& comment,
                                            const qel::WideText& file, DWORD code = GetLastError(),
                                            std::source_location where = std::source_location::current())
{
    persisting::detail::raiseFileException(rule, comment, file, code, static_cast<int>(where.line()));
}

// Throws an EKestInvalidParameter: the method was given a value outside the set it accepts.
[[noreturn]] inline void raiseInvalidParameter(const PersistingRule& rule, const RaiseComment& comment,
                                               std::source_location where = std::source_location::current())
{
    persisting::detail::raiseInvalidParameter(rule, comment, static_cast<int>(where.line()));
}

// Throws an EKestWinError for a Windows call that failed, with the system's text for its code.
// The code is GetLastError() as it stands where this function is called, so call it right after
// the failed call, with nothing in between that may set the last error; or pass the code taken then.
[[noreturn]] inline void raiseWinError(const PersistingRule& rule, const RaiseComment& comment,
                                       DWORD code = GetLastError(),
                                       std::source_location where = std::source_location::current())
{
    persisting::detail::raiseWinError(rule, comment, code, static_cast<int>(where.line()));
}

// Throws an EKestMsiError for an installer call that failed. The code is the call's result; for a
// call that reports failure by returning no handle, GetLastError() taken right after it. For a
// code of the installer's own range the exception takes the installer's last-error record.
[[noreturn]] inline void raiseMsiError(const PersistingRule& rule, const RaiseComment& comment, UINT code,
                                       std::source_location where = std::source_location::current())
{
    persisting::detail::raiseMsiError(rule, comment, code, static_cast<int>(where.line()));
}

// The raise functions of author code: each as the one above of its name, its history entry's
// context the function it is called in ("OutputFile::write", without its namespaces, return type
// and parameters) and its file name that of the source file ("OutputFile" for
// .../src/OutputFile.cpp).
namespace qel {

using ::failedCall;
using ::RaiseComment;

namespace detail {
enum class Raised { exception, invalidParameter, winError, msiError };
[[noreturn]] void raise(Raised kind, const RaiseComment& comment, DWORD code, const std::source_location& where);
[[noreturn]] void raiseFileException(const RaiseComment& comment, const WideText& file, DWORD code,
                                     const std::source_location& where);
}  // namespace detail

[[noreturn]] inline void raiseException(const RaiseComment& comment,
                                        std::source_location where = std::source_location::current())
{
    detail::raise(detail::Raised::exception, comment, 0, where);
}

// The file's path in UTF-8 (or a KestCString's ANSI text).
[[noreturn]] inline void raiseFileException(const RaiseComment& comment, const TextArg& file,
                                            DWORD code = GetLastError(),
                                            std::source_location where = std::source_location::current())
{
    detail::raiseFileException(comment, file.wide(), code, where);
}

[[noreturn]] inline void raiseInvalidParameter(const RaiseComment& comment,
                                               std::source_location where = std::source_location::current())
{
    detail::raise(detail::Raised::invalidParameter, comment, 0, where);
}

[[noreturn]] inline void raiseWinError(const RaiseComment& comment, DWORD code = GetLastError(),
                                       std::source_location where = std::source_location::current())
{
    detail::raise(detail::Raised::winError, comment, code, where);
}

[[noreturn]] inline void raiseMsiError(const RaiseComment& comment, UINT code,
                                       std::source_location where = std::source_location::current())
{
    detail::raise(detail::Raised::msiError, comment, code, where);
}

}  // namespace qel
