#include "msi/Session.h"

#include "errors/Raise.h"
#include "msi/InstallerText.h"
#include "text/DeferredOutcome.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>

using namespace persisting;

namespace qel {
namespace {

constexpr const char* fileName = "Session";

// What MsiProcessMessage answers for a message it could not take.
constexpr int refusedMessage = -1;

using PathQuery = UINT(WINAPI*)(MSIHANDLE, LPCSTR, LPSTR, LPDWORD);
using StateQuery = UINT(WINAPI*)(MSIHANDLE, LPCSTR, INSTALLSTATE*, INSTALLSTATE*);

MSIHANDLE raw(const KestMsiHandle& handle)
{
    return handle.getMsiHandle();
}

// The whole number a text holds as the installer writes numbers; false for any other text.
bool wholeNumber(const KestCString& text, int& number)
{
    const char* digits = text.c_str() + (text.rfind('-', 0) == 0 ? 1 : 0);
    if (*digits < '0' || *digits > '9' ||
        text.find_first_not_of("0123456789", digits - text.c_str()) != KestCString::npos) {
        return false;
    }
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    number = static_cast<int>(value);
    return true;
}

// The whole number the property `name` holds as `text`; raises for a text that holds none.
int numberOf(const PersistingRule& rule, const KestCString& name, const KestCString& text)
{
    int number = 0;
    if (!wholeNumber(text, number)) {
        raiseInvalidParameter(rule, KestCString("Property \"" + name + "\" holds no whole number").c_str());
    }
    return number;
}

KestCString pathOf(const PersistingRule& rule, const KestMsiHandle& session, const KestCString& directory,
                   PathQuery query, const char* call)
{
    KestCString path;
    const UINT result = queryInstallerText(
        [&](char* buffer, DWORD* size) { return query(raw(session), directory.c_str(), buffer, size); }, 1, path);
    if (result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall(call, directory.c_str()), result);
    }
    return path;
}

// The record formatted by the installer; `subject` names the text in a failure's history entry.
KestCString formatted(const PersistingRule& rule, const KestMsiHandle& session, const KestMsiRecord& record,
                      const char* subject)
{
    const MSIHANDLE fields = record.getHandle().getMsiHandle();
    KestCString text;
    const UINT result = queryInstallerText(
        [&](char* buffer, DWORD* size) { return MsiFormatRecordA(raw(session), fields, buffer, size); }, 1, text);
    if (result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall("MsiFormatRecord", subject), result);
    }
    return text;
}

}  // namespace

KestCString property(const KestMsiHandle& session, const KestCString& name)
{
    static constexpr PersistingRule rule("qel::property", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        KestCString value;
        const UINT result = queryInstallerText(
            [&](char* buffer, DWORD* size) { return MsiGetPropertyA(raw(session), name.c_str(), buffer, size); }, 1,
            value);
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiGetProperty", name.c_str()), result);
        }
        return value;
    });
}

int intProperty(const KestMsiHandle& session, const KestCString& name)
{
    static constexpr PersistingRule rule("qel::intProperty", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return numberOf(rule, name, property(session, name)); });
}

int intProperty(const KestMsiHandle& session, const KestCString& name, int whenUnset)
{
    static constexpr PersistingRule rule("qel::intProperty", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const KestCString text = property(session, name);
        return text.empty() ? whenUnset : numberOf(rule, name, text);
    });
}

void setProperty(const KestMsiHandle& session, const KestCString& name, const KestCString& value)
{
    static constexpr PersistingRule rule("qel::setProperty", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiSetPropertyA(raw(session), name.c_str(), value.c_str());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiSetProperty", name.c_str()), result);
        }
    });
}

void setProperty(const KestMsiHandle& session, const KestCString& name, int value)
{
    static constexpr PersistingRule rule("qel::setProperty", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        KestCString text;
        text.format("%d", value);
        setProperty(session, name, text);
    });
}

KestCString targetPath(const KestMsiHandle& session, const KestCString& directory)
{
    static constexpr PersistingRule rule("qel::targetPath", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return pathOf(rule, session, directory, &MsiGetTargetPathA, "MsiGetTargetPath"); });
}

KestCString sourcePath(const KestMsiHandle& session, const KestCString& directory)
{
    static constexpr PersistingRule rule("qel::sourcePath", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return pathOf(rule, session, directory, &MsiGetSourcePathA, "MsiGetSourcePath"); });
}

void setTargetPath(const KestMsiHandle& session, const KestCString& directory, const KestCString& path)
{
    static constexpr PersistingRule rule("qel::setTargetPath", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiSetTargetPathA(raw(session), directory.c_str(), path.c_str());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiSetTargetPath", directory.c_str()), result);
        }
    });
}

KestCString format(const KestMsiHandle& session, const KestCString& text)
{
    static constexpr PersistingRule rule("qel::format", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        KestMsiRecord record(0);
        record.setRecordFormat(text);
        return formatted(rule, session, record, text.c_str());
    });
}

KestCString format(const KestMsiHandle& session, const KestMsiRecord& record)
{
    static constexpr PersistingRule rule("qel::format", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return formatted(rule, session, record, nullptr); });
}

namespace detail {

void logFormatted(const KestMsiHandle& session, const char* format, ...)
{
    static constexpr PersistingRule rule("qel::log", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    va_list arguments;
    va_start(arguments, format);
    auto text = DeferredOutcome<KestCString>::of([&] {
        KestCString formatted;
        formatted.formatV(format, arguments);
        return formatted;
    });
    va_end(arguments);
    persist(rule, [&] { message(session, INSTALLMESSAGE_INFO, text.get()); });
}

}  // namespace detail

int message(const KestMsiHandle& session, INSTALLMESSAGE type, const KestMsiRecord& record, long style)
{
    static constexpr PersistingRule rule("qel::message", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const auto typed = static_cast<INSTALLMESSAGE>(static_cast<long>(type) | style);
        const int answer = MsiProcessMessage(raw(session), typed, record.getHandle().getMsiHandle());
        if (answer == refusedMessage) {
            raiseException(rule, failedCall("MsiProcessMessage"));
        }
        return answer;
    });
}

int message(const KestMsiHandle& session, INSTALLMESSAGE type, const KestCString& text, long style)
{
    static constexpr PersistingRule rule("qel::message", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        // The text as field 1 under the template "[1]": the installer formats the template, never the text.
        KestMsiRecord record(1);
        record.setRecordFormat("[1]");
        record.setStringField(1, text);
        return message(session, type, record, style);
    });
}

bool evaluateCondition(const KestMsiHandle& session, const KestCString& condition)
{
    static constexpr PersistingRule rule("qel::evaluateCondition", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        switch (MsiEvaluateConditionA(raw(session), condition.c_str())) {
        case MSICONDITION_TRUE:
        case MSICONDITION_NONE:
            return true;
        case MSICONDITION_FALSE:
            return false;
        default:
            raiseInvalidParameter(rule, failedCall("MsiEvaluateCondition", condition.c_str()));
        }
    });
}

bool mode(const KestMsiHandle& session, MSIRUNMODE runMode)
{
    return MsiGetMode(raw(session), runMode) != FALSE;
}

LANGID language(const KestMsiHandle& session)
{
    return MsiGetLanguage(raw(session));
}

namespace {

InstallStates statesOf(const PersistingRule& rule, const KestMsiHandle& session, const KestCString& name,
                       StateQuery query, const char* call)
{
    InstallStates states{INSTALLSTATE_UNKNOWN, INSTALLSTATE_UNKNOWN};
    const UINT result = query(raw(session), name.c_str(), &states.installed, &states.action);
    if (result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall(call, name.c_str()), result);
    }
    return states;
}

}  // namespace

InstallStates featureState(const KestMsiHandle& session, const KestCString& feature)
{
    static constexpr PersistingRule rule("qel::featureState", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return statesOf(rule, session, feature, &MsiGetFeatureStateA, "MsiGetFeatureState"); });
}

InstallStates componentState(const KestMsiHandle& session, const KestCString& component)
{
    static constexpr PersistingRule rule("qel::componentState", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule,
                   [&] { return statesOf(rule, session, component, &MsiGetComponentStateA, "MsiGetComponentState"); });
}

void setFeatureState(const KestMsiHandle& session, const KestCString& feature, INSTALLSTATE state)
{
    static constexpr PersistingRule rule("qel::setFeatureState", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiSetFeatureStateA(raw(session), feature.c_str(), state);
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiSetFeatureState", feature.c_str()), result);
        }
    });
}

void setComponentState(const KestMsiHandle& session, const KestCString& component, INSTALLSTATE state)
{
    static constexpr PersistingRule rule("qel::setComponentState", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiSetComponentStateA(raw(session), component.c_str(), state);
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiSetComponentState", component.c_str()), result);
        }
    });
}

void doAction(const KestMsiHandle& session, const KestCString& action)
{
    static constexpr PersistingRule rule("qel::doAction", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiDoActionA(raw(session), action.c_str());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiDoAction", action.c_str()), result);
        }
    });
}

}  // namespace qel
