#include "messages/KestLogStream.h"

#include "text/KestCString.h"
#include "text/StreamText.h"

KestLogStream::~KestLogStream()
{
    release();
}

void KestLogStream::useStream(std::ostream& stream)
{
    release();
    borrowed = &stream;
}

void KestLogStream::useText(KestCString& target)
{
    release();
    text = &target;
}

void KestLogStream::useFile(std::unique_ptr<KestLogFile> ownFile)
{
    release();
    file = std::move(ownFile);
}

void KestLogStream::release() noexcept
{
    // The stream over the file goes first: it writes into the file's buffer.
    if (fileStream) {
        destroyFileStream(fileStream);
        fileStream = nullptr;
    }
    file.reset();  // writes out what is buffered
    borrowed = nullptr;
    text = nullptr;
    streamFailed = false;
}

void KestLogStream::write(std::string_view written)
{
    if (borrowed) {
        // A stream that failed once takes nothing more, also when its failure was thrown.
        if (!streamFailed) {
            streamFailed = true;
            streamFailed = !qel::writeToStream(*borrowed, written);
        }
    } else if (text) {
        text->append(written);
    } else if (file) {
        file->write(written.data(), written.size());
    }
}

void KestLogStream::flushFile()
{
    if (file) {
        file->flush();
    }
}
