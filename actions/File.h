// Files and folders by the paths the installer gives: UTF-8 (or a KestCString's ANSI text) in,
// the wide Windows calls underneath, so a folder named in any script is reached as it is named.
//
//     const std::string path = qel::targetPath(session, "INSTALLDIR") + "settings.ini";
//     qel::File file = qel::File::create(path);   // emptied if there; closed on every way out
//     file.write("Greeting=Привет\r\n");
//     file.close();                                // a failed close may have lost the text: it raises
//
//     qel::deleteFile(path);                       // false when there was nothing to delete
//
// A refused call raises an EKestWinError whose history entry names the call and the path, with
// the system's code and text: "Function Failed: CreateFile("C:\Программы\settings.ini")".
#pragma once

#include "../text/Text.h"
#include "../text/TextArg.h"
#include "QelCustInst/QelPlatform.h"

#include <string>
#include <string_view>

namespace qel {

class File {
public:
    // Writing from the start: the file is made, or emptied when it is there.
    static File create(const TextArg& path);
    // Writing from the start of a file that must not be there yet (ERROR_FILE_EXISTS otherwise).
    static File createNew(const TextArg& path);
    // Writing at the end: the file is made when it is not there.
    static File append(const TextArg& path);
    // Reading a file that is there.
    static File read(const TextArg& path);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    // Closes a file still open, without a word: call close() to learn whether that worked.
    ~File();

    // Writes all the bytes.
    void write(std::string_view bytes);
    // The rest of the file from where reading stands.
    std::string readAll();
    // Hands what was written to the disk.
    void flush();
    // Closes the file; raises when the system reports the close failed.
    void close();

    const Text& path() const { return name; }
    bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }

private:
    File(const TextArg& path, DWORD access, DWORD disposition);

    Text name;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// Whether a file (not a folder) is there.
bool fileExists(const TextArg& path);
// Whether a folder is there.
bool folderExists(const TextArg& path);
// The whole content of the file.
std::string readFile(const TextArg& path);
// Makes the file hold exactly `bytes`: written beside it under a temporary name, then moved into
// its place, so that a failure on the way leaves the file as it was.
void writeFile(const TextArg& path, std::string_view bytes);
// Deletes the file; false when it was not there (nor its folder).
bool deleteFile(const TextArg& path);
// Moves (renames) the file, replacing what is at `to` when `replace`.
void moveFile(const TextArg& from, const TextArg& to, bool replace = true);
// Copies the file, replacing what is at `to` when `replace`.
void copyFile(const TextArg& from, const TextArg& to, bool replace = true);
// Makes the folder, and those above it that are missing; a folder that is there already is fine.
void createFolder(const TextArg& path);
// Removes the folder, which must be empty; false when it was not there.
bool removeFolder(const TextArg& path);

}  // namespace qel
