// A failed Windows call: the code GetLastError gave and the system's own text for it.
#pragma once

#include "../errors/EKestException.h"

class EKestWinError : public EKestException {
public:
    EKestWinError(int code, const KestCString& context, const KestCString& fileName, int line,
                  const KestCString& comment);
    EKestWinError(const EKestWinError&) = default;
    EKestWinError& operator=(const EKestWinError&) = default;
    ~EKestWinError() override = default;

    // The system's text for `code`, exactly as FormatMessageA gives it; empty when it has none.
    virtual KestCString getWinErrorMessage(int code);
    // The same text, for a report that needs it without an exception of this class.
    static KestCString systemText(int code);

protected:
    // Built as a plain EKestException; only EKestMsiError starts this way.
    EKestWinError(const KestCString& context, const KestCString& fileName, int line, const KestCString& comment);
};
