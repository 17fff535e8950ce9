// A message processor's own log file, written through the system's file calls: at its end, also
// while other processes append to the same file, each "\n" stored as the platform's text files
// store it. Nothing written is lost, though a long text may reach the file in pieces between
// other writers' texts.
#pragma once

#include "QelCustInst/QelPlatform.h"

#include <cstddef>
#include <memory>

class KestLogFile {
public:
    static constexpr std::size_t bufferSize = 4096;
    static constexpr std::size_t directLength = 1024;

    // The file `path`, created when missing, opened for appending and shared for reading and
    // writing; nullptr when the system cannot open it, GetLastError() then telling why. May throw
    // std::bad_alloc, with nothing open.
    static std::unique_ptr<KestLogFile> openForAppending(LPCWSTR path);

    // Writes out what is buffered and closes the file.
    ~KestLogFile();
    KestLogFile(const KestLogFile&) = delete;
    KestLogFile& operator=(const KestLogFile&) = delete;

    // Buffers the text, writing to the file whenever the buffer fills; a text of directLength
    // bytes or more is in the file when the call returns, so that it lies there in one piece
    // before whatever another writer of this process writes next. False once a write to the file
    // has failed: from then on everything is dropped, as a file stream in a failed state drops it.
    bool write(const char* text, std::size_t length);
    // Writes out what is buffered; false once a write has failed.
    bool flush();

private:
    KestLogFile() = default;

    HANDLE file = INVALID_HANDLE_VALUE;
    bool failed = false;
    std::size_t used = 0;
    char buffer[bufferSize];
};
