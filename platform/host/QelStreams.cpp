// The library's file streams on the host build: the path under which a stream opens a file the
// model's calls name.
#include "QelPlatform.h"

#include "SimModel.h"

std::string qelStreamPath(const char* windowsPath)
{
    // The stream takes its path in the system's code page, as the Windows build's streams do.
    return sim::detail::hostPath(sim::detail::fromAnsi(windowsPath ? windowsPath : ""));
}
