// Raised when a caller passes a value outside the accepted set.
#pragma once

#include "../errors/EKestException.h"

class EKestInvalidParameter : public EKestException {
public:
    EKestInvalidParameter(const KestCString& context, const KestCString& fileName, int line,
                          const KestCString& comment);
    EKestInvalidParameter(const EKestInvalidParameter&) = default;
    EKestInvalidParameter& operator=(const EKestInvalidParameter&) = default;
    ~EKestInvalidParameter() override = default;
};
