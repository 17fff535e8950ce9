// What every exception of the library offers: a code, a message, a caption and a history.
#pragma once

#include "../errors/EKestExceptionInfo.h"
#include "../text/KestCString.h"

#include <vector>

using EKestHistory = std::vector<EKestExceptionInfo>;

class EKestExceptionInterface {
public:
    virtual ~EKestExceptionInterface() = default;

    virtual void setErrorCode(int code) = 0;
    virtual void setMessage(const KestCString& message) = 0;
    virtual void setCaption(const KestCString& caption) = 0;
    virtual const EKestHistory& getHistory() const = 0;
    virtual const EKestExceptionInfo& getFirstHistoryEntry() const = 0;
    virtual const EKestExceptionInfo& getLastHistoryEntry() const = 0;
    virtual int getErrorCode() const = 0;
    virtual KestCString getMessage() const = 0;
    virtual KestCString getCaption() const = 0;
    virtual void setHistory(const EKestHistory& history) = 0;
    virtual void addHistoryEntry(const KestCString& context, const KestCString& fileName, int line,
                                 const KestCString& comment) = 0;
    virtual void loadMessage(HINSTANCE module, UINT id, const KestCString& defaultText) = 0;
    virtual void loadCaption(HINSTANCE module, UINT id, const KestCString& defaultText) = 0;
    virtual bool wasRaisedIn(const KestCString& context) const = 0;

protected:
    EKestExceptionInterface() = default;
    EKestExceptionInterface(const EKestExceptionInterface&) = default;
    EKestExceptionInterface& operator=(const EKestExceptionInterface&) = default;
};
