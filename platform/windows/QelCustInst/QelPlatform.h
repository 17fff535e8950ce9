// The platform as the library sees it on Windows: the real system and installer headers.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <memory>
#include <ostream>
#include <string>

// The path under which the build's file streams (std::ofstream) open a file that the system's
// calls name by `windowsPath`: on Windows the path itself.
inline std::string qelStreamPath(const char* windowsPath)
{
    return windowsPath;
}

// A new output stream in text mode on the file `path` (created when missing) that writes at its
// end, also while other processes append to the same file: nothing written is lost, though a
// long text may reach the file in pieces between other writers' texts; nullptr when the file
// cannot be opened. Deleting the stream closes the file.
std::unique_ptr<std::ostream> qelOpenAppendStream(const char* path);
