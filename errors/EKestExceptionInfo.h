// One entry of an exception's history: where it was raised, or a method it passed on its way out.
#pragma once

#include "../text/KestCString.h"

class EKestExceptionInfo {
public:
    EKestExceptionInfo(const KestCString& typeName, const KestCString& context, const KestCString& fileName, int line,
                       const KestCString& comment);
    EKestExceptionInfo(const EKestExceptionInfo&) = default;
    EKestExceptionInfo& operator=(const EKestExceptionInfo&) = default;
    virtual ~EKestExceptionInfo() = default;

    KestCString getTypeName() const { return typeName; }
    KestCString getContext() const { return context; }
    KestCString getFileName() const { return fileName; }
    KestCString getComment() const { return comment; }
    int getLine() const { return line; }

private:
    KestCString typeName;
    KestCString context;
    KestCString fileName;
    KestCString comment;
    int line;
};
