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

// A stream's state, changed as setstate() changes it but without basic_ios::clear(): that member
// lives in the C++ library's object of the whole basic_ios class, whose locale code (some 650 KB)
// would come with it. libstdc++ keeps the state in a protected member of ios_base, reached here as
// BufferOperations reaches the buffer; with another library, setstate() itself.
template <class Base>
class StateOf : public Base {
public:
    StateOf() = delete;

    static constexpr bool reachable = requires { &StateOf::_M_streambuf_state; };

    // Adds the bits without throwing.
    static void add(Base& stream, std::ios_base::iostate bits)
    {
        if constexpr (reachable) {
            stream.*& StateOf::_M_streambuf_state |= bits;
        } else {
            const std::ios_base::iostate mask = stream.exceptions();
            stream.exceptions(std::ios_base::goodbit);
            stream.setstate(bits);
            stream.exceptions(mask);  // throws for the state it finds; the callers let it
        }
    }
};

// setstate(): the bits, then std::ios_base::failure when the exception mask holds a bit of the
// state.
void setState(std::ostream& stream, std::ios_base::iostate bits)
{
    StateOf<std::ios_base>::add(stream, bits);
    if ((stream.rdstate() & stream.exceptions()) != 0) {
        throw std::ios_base::failure("basic_ios::clear");
    }
}

// The buffer threw: the stream takes badbit, and a stream whose exception mask holds badbit lets
// the buffer's exception go on, where any other stream swallows it. Called only from a handler.
void thrownBy(std::ostream& stream)
{
    try {
        StateOf<std::ios_base>::add(stream, std::ios_base::badbit);
    } catch (const std::ios_base::failure&) {
    }
    if ((stream.exceptions() & std::ios_base::badbit) != 0) {
        throw;
    }
}

// Flushes the stream's buffer, as std::ostream::flush() does once its sentry let it: a refusal
// sets badbit.
void sync(std::ostream& stream, std::streambuf& buffer)
{
    int result = 0;
    try {
        result = BufferOperations::flush(buffer);
    } catch (...) {
        thrownBy(stream);
        return;
    }
    if (result == -1) {
        setState(stream, std::ios_base::badbit);
    }
}

// What a stream's sentry does before a write: the stream it is tied to flushed first (its buffer),
// then nothing unless the stream is in a good state, and a bad stream takes failbit too.
std::streambuf* readyToWrite(std::ostream& stream)
{
    if (std::ostream* tied = stream.tie(); tied && stream.good() && tied->good() && tied->rdbuf()) {
        sync(*tied, *tied->rdbuf());
    }
    if (!stream.good()) {
        if (stream.bad()) {
            setState(stream, std::ios_base::failbit);
        }
        return nullptr;
    }
    return stream.rdbuf();
}

// What the sentry does once the write is over: a unit-buffered stream's buffer is flushed.
bool finished(std::ostream& stream, std::streambuf& buffer)
{
    if ((stream.flags() & std::ios_base::unitbuf) != 0) {
        sync(stream, buffer);
    }
    return !stream.bad();
}

}  // namespace

bool writeToStream(std::ostream& stream, std::string_view text)
{
    std::streambuf* const buffer = readyToWrite(stream);
    if (!buffer) {
        return false;
    }
    const auto count = static_cast<std::streamsize>(text.size());
    std::streamsize taken = count;
    try {
        taken = BufferOperations::put(*buffer, text.data(), count);
    } catch (...) {
        thrownBy(stream);
    }
    if (taken != count) {
        setState(stream, std::ios_base::badbit);
    }
    return finished(stream, *buffer);
}

bool flushStream(std::ostream& stream)
{
    std::streambuf* const buffer = readyToWrite(stream);
    if (!buffer) {
        return false;
    }
    sync(stream, *buffer);
    return finished(stream, *buffer);
}

void setBad(std::ostream& stream)
{
    setState(stream, std::ios_base::badbit);
}

}  // namespace qel
