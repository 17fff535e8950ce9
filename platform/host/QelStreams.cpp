// The library's file streams on the host build: the path under which a stream opens a file the
// model's calls name, and the log's append stream.
#include "QelPlatform.h"

#include "SimModel.h"

#include <fstream>

std::string qelStreamPath(const char* windowsPath)
{
    return sim::detail::hostPath(windowsPath ? windowsPath : "");
}

// On the host, appending is what the file system does for a stream opened for appending.
std::unique_ptr<std::ostream> qelOpenAppendStream(const char* path)
{
    auto stream = std::make_unique<std::ofstream>(qelStreamPath(path), std::ios::out | std::ios::app);
    if (!stream->is_open()) {
        return nullptr;
    }
    return stream;
}
