#include "msi/Session.h"

#include "errors/Raise.h"
#include "msi/InstallerText.h"
#include "msi/Records.h"
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

using PathQuery = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, LPWSTR, LPDWORD);
using StateQuery = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, INSTALLSTATE*, INSTALLSTATE*);

MSIHANDLE raw(const KestMsiHandle& handle)
{
    return handle.getMsiHandle();
}

// The whole number a text holds as the installer writes numbers; false for any other text.
bool wholeNumber(const std::string& text, int& number)
{
    const char* digits = text.c_str() + (text.rfind('-', 0) == 0 ? 1 : 0);
    if (*digits < '0' || *digits > '9' ||
        text.find_first_not_of("0123456789", digits - text.c_str()) != std::string::npos) {
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
int numberOf(const PersistingRule& rule, const TextArg& name, const std::string& text)
{
    int number = 0;
    if (!wholeNumber(text, number)) {
        raiseInvalidParameter(rule, KestCString("Property \"" + name.utf8() + "\" holds no whole number").c_str());
    }
    return number;
}

// A text the installer gives through a wide getter of the two-call protocol, in UTF-8; `call` and
// `subject` (none: nullptr) name it in a failure's history entry.
template <class Query>
Text fetched(const PersistingRule& rule, const char* call, const char* subject, Query&& query)
{
    WideText text;
    const UINT result = queryInstallerText(query, 1, text);
    if (result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall(call, subject), result);
    }
    return Text(fromWide(text));
}

Text pathOf(const PersistingRule& rule, const KestMsiHandle& session, const TextArg& directory, PathQuery query,
            const char* call)
{
    const WideText name = directory.wide();
    return fetched(rule, call, directory.utf8().c_str(),
                   [&](WCHAR* buffer, DWORD* size) { return query(raw(session), name.c_str(), buffer, size); });
}

// The record formatted by the installer; `subject` names the text in a failure's history entry.
Text formatted(const PersistingRule& rule, const KestMsiHandle& session, const KestMsiRecord& record,
               const char* subject)
{
    const MSIHANDLE fields = record.getHandle().getMsiHandle();
    return fetched(rule, "MsiFormatRecord", subject,
                   [&](WCHAR* buffer, DWORD* size) { return MsiFormatRecordW(raw(session), fields, buffer, size); });
}

// A call that answers an installer result, made with the wide form of `name`; raises naming it.
template <class Call>
void checkedCall(const PersistingRule& rule, const char* call, const TextArg& name, Call&& made)
{
    const UINT result = made(name.wide().c_str());
    if (result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall(call, name.utf8().c_str()), result);
    }
}

}  // namespace

Text property(const KestMsiHandle& session, const TextArg& name)
{
    static constexpr PersistingRule rule("qel::property", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const WideText wideName = name.wide();
        return fetched(rule, "MsiGetProperty", name.utf8().c_str(), [&](WCHAR* buffer, DWORD* size) {
            return MsiGetPropertyW(raw(session), wideName.c_str(), buffer, size);
        });
    });
}

int intProperty(const KestMsiHandle& session, const TextArg& name)
{
    static constexpr PersistingRule rule("qel::intProperty", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return numberOf(rule, name, property(session, name)); });
}

int intProperty(const KestMsiHandle& session, const TextArg& name, int whenUnset)
{
    static constexpr PersistingRule rule("qel::intProperty", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const std::string text = property(session, name);
        return text.empty() ? whenUnset : numberOf(rule, name, text);
    });
}

void setProperty(const KestMsiHandle& session, const TextArg& name, const TextArg& value)
{
    static constexpr PersistingRule rule("qel::setProperty", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const WideText wideValue = value.wide();
        checkedCall(rule, "MsiSetProperty", name,
                    [&](LPCWSTR wideName) { return MsiSetPropertyW(raw(session), wideName, wideValue.c_str()); });
    });
}

void setProperty(const KestMsiHandle& session, const TextArg& name, int value)
{
    static constexpr PersistingRule rule("qel::setProperty", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] { setProperty(session, name, std::to_string(value)); });
}

Text targetPath(const KestMsiHandle& session, const TextArg& directory)
{
    static constexpr PersistingRule rule("qel::targetPath", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return pathOf(rule, session, directory, &MsiGetTargetPathW, "MsiGetTargetPath"); });
}

Text sourcePath(const KestMsiHandle& session, const TextArg& directory)
{
    static constexpr PersistingRule rule("qel::sourcePath", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return pathOf(rule, session, directory, &MsiGetSourcePathW, "MsiGetSourcePath"); });
}

void setTargetPath(const KestMsiHandle& session, const TextArg& directory, const TextArg& path)
{
    static constexpr PersistingRule rule("qel::setTargetPath", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const WideText widePath = path.wide();
        checkedCall(rule, "MsiSetTargetPath", directory,
                    [&](LPCWSTR name) { return MsiSetTargetPathW(raw(session), name, widePath.c_str()); });
    });
}

Text format(const KestMsiHandle& session, const TextArg& text)
{
    static constexpr PersistingRule rule("qel::format", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        KestMsiRecord record(0);
        setTextField(record, 0, text);
        return formatted(rule, session, record, text.utf8().c_str());
    });
}

Text format(const KestMsiHandle& session, const KestMsiRecord& record)
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
    auto text = DeferredOutcome<std::string>::of([&] {
        std::string formatted;
        const auto append = [](void* line, const char* bytes, std::size_t count) {
            static_cast<std::string*>(line)->append(bytes, count);
        };
        if (!KestCString::formatVTo(format, arguments, append, &formatted)) {
            formatted.clear();  // no partial text is kept
        }
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

int message(const KestMsiHandle& session, INSTALLMESSAGE type, const TextArg& text, long style)
{
    static constexpr PersistingRule rule("qel::message", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        // The text as field 1 under the template "[1]", escaped: the installer formats the field's
        // text once it is in the template, and the escapes give back each character as it is.
        KestMsiRecord record(1);
        record.setRecordFormat("[1]");
        setTextField(record, 1, unformatted<char>(text.utf8()));
        return message(session, type, record, style);
    });
}

bool evaluateCondition(const KestMsiHandle& session, const TextArg& condition)
{
    static constexpr PersistingRule rule("qel::evaluateCondition", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        switch (MsiEvaluateConditionW(raw(session), condition.wide().c_str())) {
        case MSICONDITION_TRUE:
        case MSICONDITION_NONE:
            return true;
        case MSICONDITION_FALSE:
            return false;
        default:
            raiseInvalidParameter(rule, failedCall("MsiEvaluateCondition", condition.utf8().c_str()));
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

InstallStates statesOf(const PersistingRule& rule, const KestMsiHandle& session, const TextArg& name, StateQuery query,
                       const char* call)
{
    InstallStates states{INSTALLSTATE_UNKNOWN, INSTALLSTATE_UNKNOWN};
    checkedCall(rule, call, name,
                [&](LPCWSTR wideName) { return query(raw(session), wideName, &states.installed, &states.action); });
    return states;
}

}  // namespace

InstallStates featureState(const KestMsiHandle& session, const TextArg& feature)
{
    static constexpr PersistingRule rule("qel::featureState", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] { return statesOf(rule, session, feature, &MsiGetFeatureStateW, "MsiGetFeatureState"); });
}

InstallStates componentState(const KestMsiHandle& session, const TextArg& component)
{
    static constexpr PersistingRule rule("qel::componentState", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule,
                   [&] { return statesOf(rule, session, component, &MsiGetComponentStateW, "MsiGetComponentState"); });
}

void setFeatureState(const KestMsiHandle& session, const TextArg& feature, INSTALLSTATE state)
{
    static constexpr PersistingRule rule("qel::setFeatureState", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        checkedCall(rule, "MsiSetFeatureState", feature,
                    [&](LPCWSTR name) { return MsiSetFeatureStateW(raw(session), name, state); });
    });
}

void setComponentState(const KestMsiHandle& session, const TextArg& component, INSTALLSTATE state)
{
    static constexpr PersistingRule rule("qel::setComponentState", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        checkedCall(rule, "MsiSetComponentState", component,
                    [&](LPCWSTR name) { return MsiSetComponentStateW(raw(session), name, state); });
    });
}

void doAction(const KestMsiHandle& session, const TextArg& action)
{
    static constexpr PersistingRule rule("qel::doAction", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        checkedCall(rule, "MsiDoAction", action, [&](LPCWSTR name) { return MsiDoActionW(raw(session), name); });
    });
}

}  // namespace qel
