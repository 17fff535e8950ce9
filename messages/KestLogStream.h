// What a message processor's `logStream` holds: the stream its log goes to, which reads as the
// std::ostream* it stands for (`*logStream << ...`, `logStream->flush()`, `logStream == &mine`,
// `logStream = &mine`): a stream of the caller's, a stream over the processor's own log file, or
// nullptr.
//
// The processor writes its log itself, to a caller's stream through the stream's buffer and to
// its own file through the system's file calls, so that the library needs none of the C++ stream
// library's code. The stream over its own file is made the first time code reads it here, by the
// code that reads it: only a DLL whose own code does so carries the stream code.
#pragma once

#include "../messages/KestLogFileStream.h"

#include <cstddef>
#include <memory>
#include <ostream>
#include <string_view>

class KestCString;
class KestMessageProcessor;

class KestLogStream {
public:
    KestLogStream() = default;
    ~KestLogStream();
    KestLogStream(const KestLogStream&) = delete;
    KestLogStream& operator=(const KestLogStream&) = delete;

    // Read as a pointer: the stream that receives the log, made over the processor's own file
    // when it logs there; nullptr when there is none.
    operator std::ostream*() const { return get(); }  // NOLINT(google-explicit-constructor): reads as the pointer
    std::ostream* operator->() const { return get(); }
    std::ostream& operator*() const { return *get(); }
    std::ostream* get() const
    {
        if (!borrowed && file && !fileStream) {
            fileStream = new KestLogFileStream(*file);
            destroyFileStream = &KestLogFileStream::destroy;
        }
        return borrowed ? borrowed : fileStream;
    }

    // Makes the log go to the caller's stream (nullptr: back to the processor's own file, if
    // any), which must outlive its use; the processor's own file stays open and owned.
    KestLogStream& operator=(std::ostream* stream)
    {
        borrowed = stream;
        return *this;
    }

private:
    friend class KestMessageProcessor;

    // Whether the log goes to this stream now.
    bool isCurrently(const std::ostream& stream) const { return &stream == (borrowed ? borrowed : fileStream); }
    // The log goes to the caller's stream, or to the end of the caller's text; whatever it went to
    // before is released.
    void useStream(std::ostream& stream);
    void useText(KestCString& text);
    // The log goes to the processor's own file; what it went to before is released.
    void useFile(std::unique_ptr<KestLogFile> ownFile);
    // Closes the processor's own file (and the stream over it), forgets a caller's stream or text.
    void release() noexcept;
    // Deletes the stream put here by assignment, if any, and forgets it.
    void deleteAssigned() noexcept;

    // Writes the text where the log goes: unbuffered to a caller's stream, as its write() would
    // (a stream in a failed state takes nothing; a failure sets its state, and throws as its
    // exception mask says), buffered
    // to the processor's file (a failed write drops the rest), or appended to a text (which may
    // throw std::bad_alloc).
    void write(std::string_view text);
    // Writes out what is buffered for the processor's own file.
    void flushFile();

    std::ostream* borrowed = nullptr;
    KestCString* text = nullptr;
    std::unique_ptr<KestLogFile> file;
    mutable std::ostream* fileStream = nullptr;
    mutable void (*destroyFileStream)(std::ostream*) noexcept = nullptr;
};
