#include "errors/EKestExceptionInfo.h"

EKestExceptionInfo::EKestExceptionInfo(const KestCString& typeName, const KestCString& context,
                                       const KestCString& fileName, int line, const KestCString& comment)
    : typeName(typeName), context(context), fileName(fileName), comment(comment), line(line)
{
}
