#include "messages/KestLogStream.h"

#include "text/KestCString.h"
#include "text/StreamText.h"

#include <utility>

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
}

void KestLogStream::deleteAssigned() noexcept
{
    // Only a delete through the stream's own virtual destructor: naming std::ofstream here would
    // bring the stream library into every DLL.
    delete std::exchange(borrowed, nullptr);
}

void KestLogStream::write(std::string_view written)
{
    if (borrowed) {
        qel::writeToStream(*borrowed, written);  // a stream in a failed state takes nothing
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
