// The running installation in one line a call: properties, directory paths, formatted text, the
// installer's log, messages to the user, conditions, the run mode, feature and component states,
// the language and actions.
//
//     const std::string product = qel::property(session, "ProductName");
//     const int uiLevel = qel::intProperty(session, "UILevel");
//     qel::setProperty(session, "SETTINGS_FILE", qel::format(session, "[INSTALLDIR]settings.ini"));
//     qel::log(session, "%d settings read from %s", count, table);
//     if (qel::message(session, INSTALLMESSAGE_WARNING, qel::record(26002), MB_OKCANCEL) == IDCANCEL) ...
//     if (qel::evaluateCondition(session, "REMOVE~=\"ALL\"")) ...
//
// Text goes in and comes out in UTF-8 (text/Text.h, text/TextArg.h) and reaches the installer
// through its wide calls, so any script round-trips, whatever the machine's code page.
//
// `session` is the handle the action was called with (qel::runAction hands it to the steps). A
// refused call raises an EKestMsiError, or an EKestException where the installer answers no error
// code, whose history entry names the call and what it was for:
//     T: qel::property, F: Session, L: 41, C: Function Failed: MsiGetProperty("UILevel")
// Property values are never written into a history entry: they may be secret.
#pragma once

#include "../msi/KestMsiHandle.h"
#include "../msi/KestMsiRecord.h"
#include "../msi/Records.h"
#include "../text/KestCString.h"
#include "../text/LiteralFormat.h"
#include "../text/Text.h"
#include "../text/TextArg.h"
#include "../text/Unicode.h"
#include "QelCustInst/QelPlatform.h"

namespace qel {

// ---- Properties ---------------------------------------------------------------------------------

// The property's text; "" for a property that is not set.
Text property(const KestMsiHandle& session, const TextArg& name);
// The property's whole number: decimal digits with an optional leading '-', within int's range, as
// the installer writes numbers. Anything else, an unset property included, raises an
// EKestInvalidParameter naming the property.
int intProperty(const KestMsiHandle& session, const TextArg& name);
// As above, but a property that is not set gives `whenUnset`.
int intProperty(const KestMsiHandle& session, const TextArg& name, int whenUnset);
// Sets the property; an empty value deletes it (it then reads as "").
void setProperty(const KestMsiHandle& session, const TextArg& name, const TextArg& value);
// Sets the property to the number in decimal.
void setProperty(const KestMsiHandle& session, const TextArg& name, int value);

// ---- Directories (once costing has resolved them: after CostFinalize) -----------------------------

// Where the directory's files go, ending in a backslash.
Text targetPath(const KestMsiHandle& session, const TextArg& directory);
// Where the directory's files come from, ending in a backslash.
Text sourcePath(const KestMsiHandle& session, const TextArg& directory);
// Moves the directory, and those below it, to `path`.
void setTargetPath(const KestMsiHandle& session, const TextArg& directory, const TextArg& path);

// ---- Formatted text -------------------------------------------------------------------------------

// The text formatted by the installer: [PROPERTY], [#File], [$Component], [!File], [%ENV], [\[]
// and the like replaced as the installer does ("[INSTALLDIR]settings.ini").
Text format(const KestMsiHandle& session, const TextArg& text);
// The record formatted by its field 0, whose [1], [2], ... are its fields.
Text format(const KestMsiHandle& session, const KestMsiRecord& record);

// ---- The installer's log and the user -------------------------------------------------------------

namespace detail {
void logFormatted(const KestMsiHandle& session, const char* format, ...);

// What an argument of qel::log stands for in UTF-8: a KestCString's ANSI text converted, any other
// argument as it is.
inline std::string utf8Argument(const KestCString& ansi)
{
    return fromAnsi(ansi);
}
template <class T>
const T& utf8Argument(const T& argument)
{
    return argument;
}
}  // namespace detail

// Writes a line to the installer's log (an informational message, shown at no user-interface
// level). The format is a printf-style literal checked by the compiler (text/LiteralFormat.h);
// text from elsewhere goes as an argument: qel::log(session, "%s", text). The text reaches the log
// as it is: brackets in it are not formatted by the installer.
template <class... Args>
void log(const KestMsiHandle& session, LiteralFormat<Args...> format, const Args&... args)
{
    std::string rewritten;
    detail::logFormatted(session, format.forC(rewritten), passedToFormat(detail::utf8Argument(args))...);
}

// Hands the record to the installer as a message of that type, with the buttons and icon of
// `style` (MB_OKCANCEL | MB_ICONWARNING; 0 for the type's own), and answers what the user chose:
// IDOK, IDCANCEL, IDYES, ... or 0 where nobody was asked (no user interface, or a type the user is
// not asked about). A record whose field 0 is null and whose field 1 is a number N is the
// package's Error-table row N (qel::record(26002)). A message the installer refuses raises.
// Steps that return ERROR_INSTALL_USEREXIT (1602) when the answer is IDCANCEL end the installation
// as the user asked.
int message(const KestMsiHandle& session, INSTALLMESSAGE type, const KestMsiRecord& record, long style = 0);
// As above, with the text as the message; brackets in it are not formatted by the installer.
int message(const KestMsiHandle& session, INSTALLMESSAGE type, const TextArg& text, long style = 0);

// ---- Conditions and the run mode ------------------------------------------------------------------

// Whether the condition holds, as the installer evaluates the conditions of its tables
// ("VersionNT >= 600 AND NOT Installed"); an empty condition holds. A condition the installer
// cannot read raises an EKestInvalidParameter naming it.
bool evaluateCondition(const KestMsiHandle& session, const TextArg& condition);
// Whether the installation runs in that mode: MSIRUNMODE_SCHEDULED in every action of the script
// (deferred, rollback and commit alike: ask ROLLBACK and COMMIT before taking it for the forward
// work), MSIRUNMODE_ROLLBACK in a rollback action, MSIRUNMODE_COMMIT in a commit action,
// MSIRUNMODE_MAINTENANCE when the product is installed already, ...
bool mode(const KestMsiHandle& session, MSIRUNMODE runMode);
// The language of the installation (1033: US English); 0 where the installer tells none.
LANGID language(const KestMsiHandle& session);

// ---- Features and components (once costing has resolved them: after CostFinalize) ----------------

// A feature's or component's state now and the one this installation is taking it to.
struct InstallStates {
    INSTALLSTATE installed;  // INSTALLSTATE_ABSENT, _LOCAL, _SOURCE, _ADVERTISED, _UNKNOWN
    INSTALLSTATE action;     // INSTALLSTATE_UNKNOWN when the installation leaves it as it is

    // Whether this installation puts it on the machine (to run locally or from the source).
    bool isBeingInstalled() const { return action == INSTALLSTATE_LOCAL || action == INSTALLSTATE_SOURCE; }
    // Whether this installation takes it off the machine.
    bool isBeingRemoved() const { return action == INSTALLSTATE_ABSENT; }
};

InstallStates featureState(const KestMsiHandle& session, const TextArg& feature);
InstallStates componentState(const KestMsiHandle& session, const TextArg& component);
// Asks the installation to take the feature or component to `state`.
void setFeatureState(const KestMsiHandle& session, const TextArg& feature, INSTALLSTATE state);
void setComponentState(const KestMsiHandle& session, const TextArg& component, INSTALLSTATE state);

// ---- Actions --------------------------------------------------------------------------------------

// Runs an action of the package now; for a deferred one, adds it to the installation's script.
// (qel::schedule, msi/Deferred.h, hands a deferred action its data as well.)
void doAction(const KestMsiHandle& session, const TextArg& action);

}  // namespace qel
