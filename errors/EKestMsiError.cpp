#include "errors/EKestMsiError.h"

#include "errors/PersistingRule.h"

using namespace persisting;

namespace {
// The installer's own error numbers, for which it may hold an extended error record.
constexpr int firstInstallerError = 1000;
constexpr int lastInstallerError = 1999;
}  // namespace

EKestMsiError::EKestMsiError(int code, const KestCString& context, const KestCString& fileName, int line,
                             const KestCString& comment)
    : EKestWinError(context, fileName, line, comment)
{
    setMessage(EKestMsiError::getWinErrorMessage(code));
    setErrorCode(code);
}

KestCString EKestMsiError::getWinErrorMessage(int code)
{
    static constexpr PersistingRule rule("EKestMsiError::getWinErrorMessage", "EKestMsiError", none, none, checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        KestCString result;
        if (code >= firstInstallerError && code <= lastInstallerError) {
            const KestMsiHandle taken(MsiGetLastErrorRecord(), false);
            if (taken.getMsiHandle() != 0) {
                errorRecord = taken;
                hasErrorRecord_ = true;
            }
        }
        if (!hasErrorRecord_) {
            result = EKestWinError::getWinErrorMessage(code);
        }
        return result;
    });
}
