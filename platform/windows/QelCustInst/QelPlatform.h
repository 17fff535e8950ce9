// The platform as the library sees it on Windows: the real system and installer headers.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

// The path under which the build's file streams (std::ofstream) open a file that the system's
// calls name by `windowsPath`: on Windows the path itself.
inline std::string qelStreamPath(const char* windowsPath)
{
    return windowsPath;
}

// What a line end ("\n") of the library's text files becomes on disk: carriage return and line
// feed, as the C runtime's text mode writes it.
inline constexpr char qelTextFileLineEnd[] = "\r\n";
