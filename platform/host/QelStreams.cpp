// The library's file streams on the host build: the path under which a stream opens a file the
// model's calls name.
#include "QelPlatform.h"

#include "SimModel.h"

std::string qelStreamPath(const char* windowsPath)
{
    return sim::detail::hostPath(windowsPath ? windowsPath : "");
}
