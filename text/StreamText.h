// Text handed to a caller's std::ostream through its stream buffer. The library writes its logs
// and dumps this way, never through the stream's own inserters, whose formatting and locale code
// would otherwise come into every DLL built on it.
#pragma once

#include <ostream>
#include <string_view>

namespace qel {

// Writes the text to the stream as std::ostream::write does: nothing while the stream is not in a
// good state, the stream it is tied to flushed first, its buffer flushed after when the stream is
// unit-buffered. True when the buffer took every byte; false when it took fewer or failed to
// flush. An exception of the buffer goes on to the caller when the stream's exception mask holds
// badbit, as the stream would let it go, and is swallowed otherwise. The stream's state is left
// as it was (setting it, or throwing std::ios_base::failure, would take the stream library's
// code): after a failure the caller stops writing to that stream.
bool writeToStream(std::ostream& stream, std::string_view text);

// Flushes the stream's buffer, as std::flush does, with the same answers and exceptions.
bool flushStream(std::ostream& stream);

}  // namespace qel
