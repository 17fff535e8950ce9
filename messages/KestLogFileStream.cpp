#include "messages/KestLogFileStream.h"

KestLogFileStream::KestLogFileStream(KestLogFile& file) : std::ostream(nullptr), buffer(file)
{
    rdbuf(&buffer);
}

KestLogFileStream::~KestLogFileStream() = default;

void KestLogFileStream::destroy(std::ostream* stream) noexcept
{
    delete static_cast<KestLogFileStream*>(stream);
}

KestLogFileStream::FileBuffer::int_type KestLogFileStream::FileBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    const char_type character = traits_type::to_char_type(c);
    return file.write(&character, 1) ? c : traits_type::eof();
}

std::streamsize KestLogFileStream::FileBuffer::xsputn(const char_type* text, std::streamsize count)
{
    return file.write(text, static_cast<std::size_t>(count)) ? count : 0;
}

int KestLogFileStream::FileBuffer::sync()
{
    return file.flush() ? 0 : -1;
}
