#include "errors/EKestInvalidParameter.h"

EKestInvalidParameter::EKestInvalidParameter(const KestCString& context, const KestCString& fileName, int line,
                                             const KestCString& comment)
{
    init(0, "An invalid parameter was passed to the function", programException, "EKestInvalidParameter", context,
         fileName, line, comment);
}
