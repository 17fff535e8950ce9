#include "messages/KestMessageProcessor.h"

#include "errors/Raise.h"
#include "text/DeferredOutcome.h"
#include "text/Unicode.h"

#include <atomic>
#include <memory>
#include <string_view>

using namespace persisting;
using qel::ansiToWide;
using qel::WideText;

namespace {
constexpr const char* fileName = "KestMessageProcessor";

// The first size asked of GetTempPathW; a longer path is fetched with the size it reports.
constexpr DWORD tempPathSize = 2048;

// How long a processor joining a log cycle waits for the one that is starting it, by the tick
// count, looking at the persistence file this many milliseconds apart. A starter empties the log
// only within half that time of beginning: later, a joiner may have stopped waiting and written.
constexpr DWORD startWaitBound = 5000;
constexpr DWORD startWaitPause = 5;
constexpr DWORD startEmptyingBound = startWaitBound / 2;
// Tries at starting a cycle while other processes end theirs between this one's two looks.
constexpr int cycleStartAttempts = 3;

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The temporary directory, ending in its separator. A failure is raised in the method of `rule`.
// The files are named by their wide paths: the ANSI code page may lack characters of the user's
// folder, and a path it cannot hold would name another folder, or none.
WideText temporaryDirectory(const PersistingRule& rule)
{
    WideText directory;
    DWORD size = tempPathSize;
    for (;;) {
        directory.resize(size);
        const DWORD length = GetTempPathW(size, directory.data());
        if (length == 0) {
            raiseWinError(rule, failedCall("GetTempPath"));
        }
        if (length < size) {
            directory.resize(length);
            return directory;
        }
        size = length;  // too small: the answer is the size needed, terminator included
    }
}

// Whether FindFirstFileW finds a match for the path; `data` takes what it found.
bool found(const WideText& path, WIN32_FIND_DATAW& data)
{
    const HANDLE search = FindFirstFileW(path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    return true;
}

// A persistence file told from the next one at the same path by the time it was made, which is its
// last write: nobody writes to it. (Not its creation time, which the file system gives a file made
// again under a name deleted seconds before.) Folded into a word that is never 0.
DWORD markerIdentity(const WIN32_FIND_DATAW& marker)
{
    return (marker.ftLastWriteTime.dwLowDateTime ^ marker.ftLastWriteTime.dwHighDateTime) | 1u;
}

// The persistence file whose starter a processor of this process waited for in vain. Its cycle
// is joined without waiting again: a stalled starter costs this process one wait, not one a call.
std::atomic<DWORD> stalledMarker{0};

// A file handle closed when it goes; false when the file could not be opened.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle(handle) {}
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    explicit operator bool() const { return handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle;
};

// The persistence file, created new and held unshared: of several processes trying at once,
// exactly one gets it.
FileHandle createExclusively(const WideText& path)
{
    return FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Empties the log of a cycle that began at tick `began`, creating it when missing; false when it
// cannot be opened so. A starter that comes to it late opens it as it is: a joiner may have
// stopped waiting and written to it.
bool empty(const WideText& path, DWORD began)
{
    const DWORD disposition = GetTickCount() - began < startEmptyingBound ? CREATE_ALWAYS : OPEN_ALWAYS;
    const FileHandle emptied(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(emptied);
}

// Waits while the persistence file is held unshared by the processor that created it, which
// empties the log meanwhile, for startWaitBound at most. Anything but a file held so (a file free
// to open, one gone, a folder) ends the wait at once; so does a file this process waited out.
void awaitCycleStart(const WideText& persistencePath, DWORD marker)
{
    if (stalledMarker.load() == marker) {
        return;
    }
    const DWORD began = GetTickCount();
    for (;;) {
        const FileHandle looked(CreateFileW(persistencePath.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (looked || GetLastError() != ERROR_SHARING_VIOLATION) {
            return;
        }
        if (GetTickCount() - began >= startWaitBound) {
            stalledMarker.store(marker);
            return;
        }
        Sleep(startWaitPause);
    }
}

}  // namespace

KestMessageProcessor::~KestMessageProcessor()
{
    // A stream put in logStream while ownsStream says the processor owns its stream is the
    // processor's to delete, as one it opened itself would be (its file closes with it).
    if (ownsStream) {
        logStream.deleteAssigned();
    }
}

void KestMessageProcessor::initialize(const KestCString& name)
{
    static constexpr PersistingRule rule("KestMessageProcessor::initialize(const KestCString)", fileName, none, none, checked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const WideText directory = temporaryDirectory(rule);
        const WideText persistencePath = directory + ansiToWide(getPersistanceFileName(name));
        const WideText logPath = directory + ansiToWide(name);

        // Text still buffered for a log we own goes out before that file may be opened anew.
        logStream.flushFile();

        // Every processor of a cycle, the first one too, writes at the end of the log as it is on
        // disk then, so that none overwrites what another one wrote meanwhile.
        std::unique_ptr<KestLogFile> opened;
        WIN32_FIND_DATAW marked;
        for (int attempt = 1; !opened; ++attempt) {
            const DWORD began = GetTickCount();
            const FileHandle marker = createExclusively(persistencePath);
            const DWORD refusal = marker ? ERROR_SUCCESS : GetLastError();
            if (marker) {
                // The first of a cycle empties the log while it holds the marker, before any
                // other processor of the cycle may write to it.
                if (empty(logPath, began)) {
                    opened = KestLogFile::openForAppending(logPath.c_str());
                }
                if (!opened) {
                    raiseFileException(rule, "Unable to create new log file", logPath);
                }
            } else if (found(persistencePath, marked)) {
                awaitCycleStart(persistencePath, markerIdentity(marked));
                opened = KestLogFile::openForAppending(logPath.c_str());
                if (!opened) {
                    raiseFileException(rule, "Unable to open the log file to append information", logPath);
                }
            } else if (refusal != ERROR_FILE_EXISTS || attempt == cycleStartAttempts) {
                raiseFileException(rule, "Unable to create persitentcy file", persistencePath, refusal);
            }
            // Else the marker was there and is gone: its cycle ended between the two looks, and
            // this processor tries again to start the next.
        }

        // Everything succeeded: only now does the processor change.
        KestCString newName = name;
        logStream.useFile(std::move(opened));
        ownsStream = true;
        logActive = true;
        logFileName.swap(newName);
    });
}

void KestMessageProcessor::initialize(std::ostream& stream)
{
    // Handed back the stream it owns, the processor keeps it (and deletes it in the end).
    if (!logStream.isCurrently(stream)) {
        logStream.useStream(stream);
        ownsStream = false;
    }
    logActive = true;
}

void KestMessageProcessor::logToText(KestCString& text)
{
    logStream.useText(text);
    ownsStream = false;
    logActive = true;
}

bool KestMessageProcessor::uninitialize()
{
    static constexpr PersistingRule rule("KestMessageProcessor::uninitialize", fileName, none, checked(pesistingText), unchecked(pesistingText), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        // The cycle's text is on disk, in order, before the next cycle may empty the log.
        logStream.flushFile();
        // The directory ends in a separator already; the doubled one is taken as one.
        const WideText persistencePath =
            temporaryDirectory(rule) + WCHAR('\\') + ansiToWide(getPersistanceFileName(logFileName));
        if (!DeleteFileW(persistencePath.c_str())) {
            raiseWinError(rule, failedCall("DeleteFile"));
        }
        logActive = false;
        return true;
    });
}

int KestMessageProcessor::messageBox(HWND owner, UINT type, const EKestException& error)
{
    static constexpr PersistingRule rule("KestMessageProcessor::messageBox(HWND, UINT, const EKestException& ", fileName, none, none, unchecked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        logMessage(error);
        const KestCString caption = error.getCaption();
        const KestCString message = error.getMessage();
        const int code = error.getErrorCode();
        return messageBox(owner, caption, type, "Error: %d. %s", code, message.c_str());
    });
}

int KestMessageProcessor::messageBox(HWND owner, const KestCString& caption, UINT type, LPCTSTR format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    auto outcome = DeferredOutcome<int>::of([&] { return messageBoxV(owner, caption, type, format, arguments); });
    va_end(arguments);  // in this very function, as va_start, whichever way the call went
    return outcome.get();
}

int KestMessageProcessor::messageBoxV(HWND owner, const KestCString& caption, UINT type, LPCTSTR format,
                                      va_list arguments)
{
    static constexpr PersistingRule rule("KestMessageProccessor::messageBox(HWND, const KestCString&, UINT, LPCTSTR, ...", fileName, none, unchecked(), unchecked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        KestCString text;
        text.formatV(format, arguments);
        const int result = MessageBoxA(owner, text.c_str(), caption.c_str(), type);
        writeLog("MSGBOX >>> %s. RESULT = %d.\n", text.c_str(), result);
        return result;
    });
}

bool KestMessageProcessor::logMessage(const EKestException& error)
{
    static constexpr PersistingRule rule("KestMessageProcessor::logMessage(const EKestException&)", fileName, none, none, unchecked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        if (!logActive) {
            return true;
        }
        writeLog("Error: %d. %s. %s.\n", error.getErrorCode(), error.getCaption().c_str(), error.getMessage().c_str());
        writeLog("HISTORY:\n");
        // Read in place: nothing written to the log can change the exception.
        for (const EKestExceptionInfo& entry : error.getHistory()) {
            writeLog("\tT: %s, F: %s, L: %d, C: %s\n", entry.getContext().c_str(), entry.getFileName().c_str(),
                     entry.getLine(), entry.getComment().c_str());
        }
        return true;
    });
}

bool KestMessageProcessor::logMessage(LPCSTR format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    auto outcome = DeferredOutcome<bool>::of([&] { return logMessageV(format, arguments); });
    va_end(arguments);  // in this very function, as va_start, whichever way the call went
    return outcome.get();
}

bool KestMessageProcessor::logMessageV(LPCSTR format, va_list arguments)
{
    static constexpr PersistingRule rule("KestMessageProcessor::logMessage(LPCSTR, ...", fileName, none, none, unchecked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        if (!logActive) {
            return true;
        }
        // Formatted once and written as it is: the text is never read as a format.
        const KestCString::TextSink writeLogOf = [](void* self, const char* text, std::size_t length) {
            static_cast<KestMessageProcessor*>(self)->writeLogText(text, length);
        };
        KestCString::formatVTo(format, arguments, writeLogOf, this);
        return true;
    });
}

bool KestMessageProcessor::hook(std::intptr_t /*value*/)
{
    return true;
}

bool KestMessageProcessor::hook()
{
    return true;
}

bool KestMessageProcessor::writeLog(LPCSTR format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    auto outcome = DeferredOutcome<bool>::of([&] { return writeLogV(format, arguments); });
    va_end(arguments);  // in this very function, as va_start, whichever way the call went
    return outcome.get();
}

bool KestMessageProcessor::writeLogV(LPCSTR format, va_list arguments)
{
    static constexpr PersistingRule rule("KestMessageProcessor::writeLog", fileName, none, none, unchecked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        if (!logActive) {
            return true;
        }
        // Unchanged and unflushed; a stream in a failed state swallows it.
        const KestCString::TextSink writeTo = [](void* stream, const char* text, std::size_t length) {
            static_cast<KestLogStream*>(stream)->write(std::string_view(text, length));
        };
        KestCString::formatVTo(format, arguments, writeTo, &logStream);
        return true;
    });
}

bool KestMessageProcessor::writeLogText(const char* text, std::size_t length)
{
    static constexpr PersistingRule rule("KestMessageProcessor::writeLog", fileName, none, none, unchecked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        if (logActive) {
            logStream.write(std::string_view(text, length));
        }
        return true;
    });
}

KestCString KestMessageProcessor::getPersistanceFileName(const KestCString& name)
{
    static constexpr PersistingRule rule("KestMessageProcessor::getPersistanceFileName", fileName, none, none, unchecked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const KestCString stem = name.left(name.find(".", -1));
        KestCString persistenceName;
        persistenceName.format("%s.mpp", stem.c_str());
        return persistenceName;
    });
}

bool KestMessageProcessor::fileExists(const KestCString& path)
{
    // As FindFirstFileA finds it: that call too reads the path through the ANSI code page.
    WIN32_FIND_DATAW data;
    return found(ansiToWide(path), data);
}
