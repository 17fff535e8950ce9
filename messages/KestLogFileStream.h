// A std::ostream over a message processor's own log file, for code that reads the processor's
// log stream (KestLogStream). It keeps no buffer of its own: what it is given goes straight into
// the file's buffer, in order with what the processor writes there itself. Stream errors set its
// state as those of any file stream do.
#pragma once

#include "../messages/KestLogFile.h"

#include <ostream>
#include <streambuf>

class KestLogFileStream : public std::ostream {
public:
    explicit KestLogFileStream(KestLogFile& file);
    ~KestLogFileStream() override;

    // Deletes a stream made by the constructor above.
    static void destroy(std::ostream* stream) noexcept;

private:
    class FileBuffer : public std::streambuf {
    public:
        explicit FileBuffer(KestLogFile& file) : file(file) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char_type* text, std::streamsize count) override;
        int sync() override;

    private:
        KestLogFile& file;
    };

    FileBuffer buffer;
};
