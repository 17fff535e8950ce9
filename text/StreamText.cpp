#include "text/StreamText.h"

#include <ios>

namespace qel {
namespace {

// A stream buffer's own operations, reached as its public members sputn and pubsync reach them.
// Those members belong to the stream library's templates, which a compiler optimising for size
// may call out of line instead of inlining, and that call alone brings the library's whole
// stream and locale code into a DLL.
class BufferOperations : public std::streambuf {
public:
    BufferOperations() = delete;

    static std::streamsize put(std::streambuf& buffer, const char* text, std::streamsize count)
    {
        return (buffer.*&BufferOperations::xsputn)(text, count);
    }
    static int flush(std::streambuf& buffer) { return (buffer.*&BufferOperations::sync)(); }
};

// A buffer that threw: a stream whose exception mask holds badbit lets the exception go on, any
// other stream swallows it.
bool thrownBy(const std::ostream& stream)
{
    if ((stream.exceptions() & std::ios_base::badbit) != 0) {
        throw;
    }
    return false;
}

bool synced(const std::ostream& stream, std::streambuf& buffer)
{
    int result = 0;
    try {
        result = BufferOperations::flush(buffer);
    } catch (...) {
        return thrownBy(stream);
    }
    return result != -1;
}

// What a stream does before it writes: nothing unless it is in a good state with a buffer; the
// stream it is tied to flushed first.
std::streambuf* readyToWrite(std::ostream& stream)
{
    std::streambuf* const buffer = stream.rdbuf();
    if (!stream.good() || !buffer) {
        return nullptr;
    }
    if (std::ostream* tied = stream.tie(); tied && tied->good() && tied->rdbuf()) {
        synced(*tied, *tied->rdbuf());
    }
    return buffer;
}

}  // namespace

bool writeToStream(std::ostream& stream, std::string_view text)
{
    std::streambuf* const buffer = readyToWrite(stream);
    if (!buffer) {
        return false;
    }
    const auto count = static_cast<std::streamsize>(text.size());
    std::streamsize taken = 0;
    try {
        taken = BufferOperations::put(*buffer, text.data(), count);
    } catch (...) {
        return thrownBy(stream);
    }
    return taken == count && ((stream.flags() & std::ios_base::unitbuf) == 0 || synced(stream, *buffer));
}

bool flushStream(std::ostream& stream)
{
    std::streambuf* const buffer = readyToWrite(stream);
    return buffer && synced(stream, *buffer);
}

}  // namespace qel
