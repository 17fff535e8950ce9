// The library's exception: thrown by value, caught by reference, carrying the history of the
// methods it passed on its way out.
#pragma once

#include "../errors/EKestExceptionInterface.h"

class EKestException : public EKestExceptionInterface {
public:
    // A plain failure raised in `context`: code 0, "Unknown exception", "Program Exception" and one
    // history entry whose comment says what failed.
    EKestException(const KestCString& context, const KestCString& fileName, int line, const KestCString& comment);
    EKestException(const EKestException&) = default;
    EKestException& operator=(const EKestException&) = default;
    ~EKestException() override = default;

    void setErrorCode(int code) override;
    void setMessage(const KestCString& message) override;
    void setCaption(const KestCString& caption) override;
    const EKestHistory& getHistory() const override;
    const EKestExceptionInfo& getFirstHistoryEntry() const override;
    const EKestExceptionInfo& getLastHistoryEntry() const override;
    int getErrorCode() const override;
    KestCString getMessage() const override;
    KestCString getCaption() const override;
    void setHistory(const EKestHistory& history) override;
    void addHistoryEntry(const KestCString& context, const KestCString& fileName, int line,
                         const KestCString& comment) override;
    void loadMessage(HINSTANCE module, UINT id, const KestCString& defaultText) override;
    void loadCaption(HINSTANCE module, UINT id, const KestCString& defaultText) override;
    bool wasRaisedIn(const KestCString& context) const override;

    static constexpr const char* programException = "Program Exception";

protected:
    // For derived constructors, which call init() at once.
    EKestException() = default;
    void init(int code, const KestCString& message, const KestCString& caption, const KestCString& typeName,
              const KestCString& context, const KestCString& fileName, int line, const KestCString& comment);

private:
    int errorCode = 0;
    KestCString message;
    KestCString caption;
    EKestHistory history;
};
