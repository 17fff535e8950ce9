#include "errors/Raise.h"

#include "errors/EKestMsiError.h"
#include "errors/EKestWinError.h"

#include <cstring>

namespace {
constexpr const char* failedCallPrefix = "Function Failed: ";
constexpr const char* failedCallSuffix = "()";
}  // namespace

KestCString RaiseComment::toText() const
{
    if (!failedCall) {
        return text;
    }
    const char* name = text == nullptr ? "" : text;
    KestCString comment;
    if (subject == nullptr) {
        comment.reserve(std::strlen(failedCallPrefix) + std::strlen(name) + std::strlen(failedCallSuffix));
        comment.append(failedCallPrefix).append(name).append(failedCallSuffix);
        return comment;
    }
    comment.reserve(std::strlen(failedCallPrefix) + std::strlen(name) + std::strlen(subject) + 4);
    comment.append(failedCallPrefix).append(name).append("(\"").append(subject).append("\")");
    return comment;
}

namespace persisting::detail {

void raiseException(const PersistingRule& rule, const RaiseComment& comment, int line)
{
    throw EKestException(rule.context, rule.fileName, line, comment.toText());
}

void raiseFileException(const PersistingRule& rule, const RaiseComment& comment, const qel::WideText& file, DWORD code,
                        int line)
{
    // The system's text without its line end, which would break the report's line.
    KestCString reason = EKestWinError::systemText(static_cast<int>(code));
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
        reason.pop_back();
    }
    KestCString where;
    where.format("File: %s. Error %lu", qel::wideToAnsi(file).c_str(), static_cast<unsigned long>(code));
    if (reason.empty()) {
        where.append(".");
    } else {
        where.append(": ").append(reason);
    }
    EKestException error(rule.context, rule.fileName, line, comment.toText());
    error.addHistoryEntry(rule.context, rule.fileName, line, where);
    throw error;
}

void raiseInvalidParameter(const PersistingRule& rule, const RaiseComment& comment, int line)
{
    throw EKestInvalidParameter(rule.context, rule.fileName, line, comment.toText());
}

void raiseWinError(const PersistingRule& rule, const RaiseComment& comment, DWORD code, int line)
{
    throw EKestWinError(static_cast<int>(code), rule.context, rule.fileName, line, comment.toText());
}

void raiseMsiError(const PersistingRule& rule, const RaiseComment& comment, UINT code, int line)
{
    throw EKestMsiError(static_cast<int>(code), rule.context, rule.fileName, line, comment.toText());
}

}  // namespace persisting::detail
