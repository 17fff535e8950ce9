#include "errors/EKestWinError.h"

EKestWinError::EKestWinError(int code, const KestCString& context, const KestCString& fileName, int line,
                             const KestCString& comment)
{
    const KestCString message = EKestWinError::getWinErrorMessage(code);
    init(code, message, programException, "EKestWinError", context, fileName, line, comment);
}

EKestWinError::EKestWinError(const KestCString& context, const KestCString& fileName, int line,
                             const KestCString& comment)
    : EKestException(context, fileName, line, comment)
{
}

KestCString EKestWinError::getWinErrorMessage(int code)
{
    return systemText(code);
}

KestCString EKestWinError::systemText(int code)
{
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<LPSTR>(&buffer), 0, nullptr);

    KestCString text;
    if (buffer != nullptr) {
        // The system's text as it stands, final line break included; copied by length.
        if (length > 0) {
            try {
                text.assign(buffer, length);
            } catch (...) {
                LocalFree(buffer);
                throw;
            }
        }
        LocalFree(buffer);
    }
    return text;
}
