// Text handed to a caller's std::ostream through its stream buffer. The library writes its logs
// and dumps this way, never through the stream's own inserters, whose formatting and locale code
// would otherwise come into every DLL built on it.
#pragma once

#include <ostream>
#include <string_view>

namespace qel {

// Writes the text to the stream as std::ostream::write does: nothing while the stream is not in a
// good state (a bad one takes failbit as well), the stream it is tied to flushed first, its buffer
// flushed after when the stream is unit-buffered. A buffer that takes fewer bytes, fails to flush
// or throws sets badbit; the stream then throws std::ios_base::failure, or lets the buffer's own
// exception go on, when its exception mask holds the bit it sets, and stays silent otherwise.
// True when the stream is not bad afterwards: the buffer took every byte.
bool writeToStream(std::ostream& stream, std::string_view text);

// Flushes the stream's buffer, as std::flush does, with the same state, answers and exceptions.
bool flushStream(std::ostream& stream);

// Sets badbit, as the stream's inserter of a null text does: std::ios_base::failure when the
// exception mask holds it.
void setBad(std::ostream& stream);

}  // namespace qel
