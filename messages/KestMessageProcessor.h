// The library's reporting service: message boxes, and a text log in the temporary directory that
// several processors (in this process or others) continue one after the other.
//
// The log "name" lives in the temporary directory beside its persistence file, an empty marker
// named after the log with the ending ".mpp". initialize() creates the marker when there is none,
// only one of several processes doing so at once, and starts a new, empty log; finds it, and
// appends to the log. Either way the log is then written in append mode, so processors alive at
// the same time never overwrite each other's text. uninitialize() deletes the marker, so the next
// initialize() starts a new log again.
#pragma once

#include "../errors/EKestException.h"
#include "../messages/KestLogStream.h"
#include "../text/KestCString.h"
#include "QelCustInst/QelPlatform.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ostream>

class KestMessageProcessor {
public:
    KestMessageProcessor() = default;
    // The processor may own its log stream: it is neither copied nor moved.
    KestMessageProcessor(const KestMessageProcessor&) = delete;
    KestMessageProcessor& operator=(const KestMessageProcessor&) = delete;

    // Closes and deletes an owned log stream. Files on disk stay as they are.
    virtual ~KestMessageProcessor();

    // Opens the log `name` in the temporary directory, new or for appending as the persistence file
    // decides, and switches logging on. On failure nothing of the processor changes. A stream the
    // processor owned before is closed and deleted once the new one is open. A processor that
    // finds the persistence file just created by another waits (a few seconds at most) until that
    // one has emptied the log, so that nothing appended is emptied away. The files are named by
    // their wide paths, so a temporary folder that the ANSI code page cannot spell is used all the
    // same; a file that cannot be opened is reported with a second history entry that names it and
    // the system's reason.
    virtual void initialize(const KestCString& name);
    // Logs to the caller's stream, which must stay alive while the processor logs. Never raises.
    virtual void initialize(std::ostream& stream);
    // Flushes an owned log stream, deletes the persistence file of the last log name and switches
    // logging off. The log stream stays open until the processor goes.
    virtual bool uninitialize();

    // Logs the exception report, then shows "Error: <code>. <message>" titled with the exception's
    // caption. Returns what the box returned.
    virtual int messageBox(HWND owner, UINT type, const EKestException& error);
    // Shows the formatted text in a box and logs it with the box's answer, which it returns.
    virtual int messageBox(HWND owner, const KestCString& caption, UINT type, LPCTSTR format, ...)
        __attribute__((format(gnu_printf, 5, 6)));
    // The exception's code, caption, message and whole history, raise point first.
    virtual bool logMessage(const EKestException& error);
    // The formatted text, as it is: no line end is added.
    virtual bool logMessage(LPCSTR format, ...) __attribute__((format(gnu_printf, 2, 3)));

    // For derived classes to override; they do nothing here.
    virtual bool hook(std::intptr_t value);
    virtual bool hook();

    // Writes the formatted text to the log while logging is on. Always true; stream errors are
    // not reported.
    bool writeLog(LPCSTR format, ...) __attribute__((format(gnu_printf, 2, 3)));
    // The persistence file's name for a log name: the part before the first "." followed by ".mpp".
    KestCString getPersistanceFileName(const KestCString& name);
    // True when the system finds a match for the path, read in the ANSI code page as FindFirstFileA
    // reads it (wildcards match as it matches them).
    bool fileExists(const KestCString& path);

protected:
    // Logs to the end of `text`, which must stay alive while the processor logs, as
    // initialize(std::ostream&) logs to a stream: for a report wanted as a text. A text that
    // cannot grow (memory has run out) makes the log operations raise, by their rules.
    void logToText(KestCString& text);

    // The variadic members format through these.
    int messageBoxV(HWND owner, const KestCString& caption, UINT type, LPCTSTR format, va_list arguments);
    bool logMessageV(LPCSTR format, va_list arguments);
    bool writeLogV(LPCSTR format, va_list arguments);
    // writeLog of a text already formatted: written as it is, under writeLog's rule.
    bool writeLogText(const char* text, std::size_t length);

    bool logActive = false;
    KestCString logFileName;
    // Reads as the std::ostream* the log goes to (see KestLogStream.h).
    KestLogStream logStream;
    bool ownsStream = false;
};
