#include "errors/EKestException.h"

namespace {
constexpr const char* unknownException = "Unknown exception";
constexpr const char* typeName = "EKestException";
}  // namespace

EKestException::EKestException(const KestCString& context, const KestCString& fileName, int line,
                               const KestCString& comment)
{
    init(0, unknownException, programException, typeName, context, fileName, line, comment);
}

void EKestException::init(int code, const KestCString& newMessage, const KestCString& newCaption,
                          const KestCString& entryTypeName, const KestCString& context, const KestCString& fileName,
                          int line, const KestCString& comment)
{
    errorCode = code;
    message = newMessage;
    caption = newCaption;
    history.emplace_back(entryTypeName, context, fileName, line, comment);
}

void EKestException::setErrorCode(int code)
{
    errorCode = code;
}

void EKestException::setMessage(const KestCString& newMessage)
{
    message = newMessage;
}

void EKestException::setCaption(const KestCString& newCaption)
{
    caption = newCaption;
}

const EKestHistory& EKestException::getHistory() const
{
    return history;
}

const EKestExceptionInfo& EKestException::getFirstHistoryEntry() const
{
    return history.front();
}

const EKestExceptionInfo& EKestException::getLastHistoryEntry() const
{
    return history.back();
}

int EKestException::getErrorCode() const
{
    return errorCode;
}

KestCString EKestException::getMessage() const
{
    return message;
}

KestCString EKestException::getCaption() const
{
    return caption;
}

void EKestException::setHistory(const EKestHistory& newHistory)
{
    // Every exception keeps at least its raise entry; an empty list would leave the first-entry
    // readers nothing to read, so it is refused and the history stays as it was.
    if (newHistory.empty()) {
        return;
    }
    history = newHistory;
}

void EKestException::addHistoryEntry(const KestCString& context, const KestCString& fileName, int line,
                                     const KestCString& comment)
{
    // Whatever the class being extended, the entry names the base class.
    history.emplace_back(typeName, context, fileName, line, comment);
}

void EKestException::loadMessage(HINSTANCE module, UINT id, const KestCString& defaultText)
{
    KestCString loaded;
    message = loaded.loadString(module, id) ? loaded : defaultText;
}

void EKestException::loadCaption(HINSTANCE module, UINT id, const KestCString& defaultText)
{
    KestCString loaded;
    caption = loaded.loadString(module, id) ? loaded : defaultText;
}

bool EKestException::wasRaisedIn(const KestCString& context) const
{
    return !history.empty() && history.front().getContext() == context;
}
