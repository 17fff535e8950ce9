#include "messages/KestLogFile.h"

#include <algorithm>
#include <cstring>
#include <string_view>

std::unique_ptr<KestLogFile> KestLogFile::openForAppending(LPCWSTR path)
{
    std::unique_ptr<KestLogFile> log(new KestLogFile);
    // With the right to append and not to write, the system itself puts every write at the end,
    // wherever other processes have moved it meanwhile.
    log->file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log->file == INVALID_HANDLE_VALUE) {
        const DWORD refusal = GetLastError();
        log.reset();
        SetLastError(refusal);  // the caller's to report, whatever freeing the object did to it
        return nullptr;
    }
    return log;
}

KestLogFile::~KestLogFile()
{
    if (file != INVALID_HANDLE_VALUE) {
        flush();
        CloseHandle(file);  // a failed close loses nothing more than the failed write before it
    }
}

bool KestLogFile::write(const char* text, std::size_t length)
{
    constexpr std::string_view lineEnd = qelTextFileLineEnd;
    const char* const end = text + length;
    while (text != end && !failed) {
        // A line end as the platform's text files store it, else the text up to the next one, as
        // much of either as the buffer holds; a full buffer goes to the file first.
        const char* const next = *text == '\n' ? text : std::find(text, end, '\n');
        const std::size_t room = bufferSize - used;
        if (next == text && room >= lineEnd.size()) {
            std::memcpy(buffer + used, lineEnd.data(), lineEnd.size());
            used += lineEnd.size();
            ++text;
        } else if (next != text && room != 0) {
            const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(next - text), room);
            std::memcpy(buffer + used, text, count);
            used += count;
            text += count;
        } else {
            flush();
        }
    }
    // A long text goes to the file whole, before the writer's next text, as a file stream sends it.
    if (length >= directLength) {
        flush();
    }
    return !failed;
}

bool KestLogFile::flush()
{
    if (used != 0 && !failed) {
        DWORD written = 0;
        failed = !WriteFile(file, buffer, static_cast<DWORD>(used), &written, nullptr) || written != used;
    }
    used = 0;
    return !failed;
}
