// The log's append stream on Windows. A C runtime file opened for appending moves to the end of
// the file before each write, which another process may have moved meanwhile; a handle with the
// right to append data and not to write it has the system put every write at the end itself.
#include "QelPlatform.h"

#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <io.h>

#include <new>

namespace {

// A text-mode stream over a C runtime descriptor, which it closes when it goes.
class AppendStream : public std::ostream {
public:
    explicit AppendStream(int descriptor) : std::ostream(nullptr), buffer(descriptor, std::ios::out | std::ios::app)
    {
        rdbuf(&buffer);
    }
    ~AppendStream() override { flush(); }

    // False when the descriptor could not be taken over: it is then still the caller's to close.
    bool isOpen() const { return buffer.is_open(); }

private:
    __gnu_cxx::stdio_filebuf<char> buffer;
};

}  // namespace

std::unique_ptr<std::ostream> qelOpenAppendStream(const char* path)
{
    // Shared for reading and writing, as the C runtime's own files are.
    const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_APPEND | _O_TEXT);
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    // Without the stream, or with a stream that could not take the descriptor over, the file is
    // closed here; a stream that took it over closes it itself, also when its construction fails.
    std::unique_ptr<AppendStream> stream(new (std::nothrow) AppendStream(descriptor));
    if (!stream || !stream->isOpen()) {
        _close(descriptor);
        return nullptr;
    }
    return stream;
}
