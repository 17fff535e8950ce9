// The library's source lines that history entries point at.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

// Line `line` (from 1) of the library source named by a history entry's file name (a .cpp file of
// one of the library's folders), or "". QEL_SOURCE_DIR is the source tree, given by the build.
inline std::string sourceLine(const std::string& fileName, int line)
{
    for (const char* folder : {"msi", "messages", "errors", "text"}) {
        std::ifstream source(std::filesystem::path(QEL_SOURCE_DIR) / folder / (fileName + ".cpp"));
        std::string text;
        for (int at = 1; source && std::getline(source, text); ++at) {
            if (at == line) {
                return text;
            }
        }
    }
    return "";
}
