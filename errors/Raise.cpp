#include "errors/Raise.h"

#include "errors/EKestMsiError.h"

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
