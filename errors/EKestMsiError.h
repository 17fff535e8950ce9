// A failed installer call. For codes of the installer's range it takes the installer's
// last-error record, shared by all copies and closed by the last one.
#pragma once

#include "../errors/EKestWinError.h"
#include "../msi/KestMsiHandle.h"

class EKestMsiError : public EKestWinError {
public:
    EKestMsiError(int code, const KestCString& context, const KestCString& fileName, int line,
                  const KestCString& comment);
    EKestMsiError(const EKestMsiError&) = default;
    EKestMsiError& operator=(const EKestMsiError&) = default;
    ~EKestMsiError() override = default;

    KestCString getWinErrorMessage(int code) override;

    bool hasErrorRecord() const { return hasErrorRecord_; }
    // One more owner of the installer's error record; an empty handle when there is none.
    KestMsiHandle getErrorRecord() const { return errorRecord; }

private:
    KestMsiHandle errorRecord;
    bool hasErrorRecord_ = false;
};
