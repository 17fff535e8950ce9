// The platform as the library sees it on the host build: the Windows and Windows Installer
// types, constants and functions the library calls, with the signatures of the real headers and
// constants of the types their macros have there (ERROR_* and MB_* long, MSI_NULL_INTEGER
// unsigned, the others int), so that what compiles cleanly here compiles cleanly for Windows.
// They are implemented over an in-process model of the platform, which Simulation.h steers:
// SimInstaller.cpp has the installer's functions (msi.dll), SimSystem.cpp the KERNEL32 and USER32
// ones, QelStreams.cpp qelStreamPath and qelOpenAppendStream, and Simulation.cpp the model's state
// and its steering.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#define WINAPI
#define CALLBACK
#define CONST const

using BOOL = int;
using BYTE = unsigned char;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = std::int32_t;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPTSTR = char*;
using LPCTSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using HANDLE = void*;
using HLOCAL = void*;
using LANGID = WORD;
using MSIHANDLE = std::uint32_t;

struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr int MAX_PATH = 260;

// Error codes.
inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;
inline constexpr long ERROR_PATH_NOT_FOUND = 3;
inline constexpr long ERROR_ACCESS_DENIED = 5;
inline constexpr long ERROR_INVALID_HANDLE = 6;
inline constexpr long ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr long ERROR_INVALID_DATA = 13;
inline constexpr long ERROR_OUTOFMEMORY = 14;
inline constexpr long ERROR_INVALID_PARAMETER = 87;
inline constexpr long ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr long ERROR_INVALID_NAME = 123;
inline constexpr long ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr long ERROR_MORE_DATA = 234;
inline constexpr long ERROR_DIRECTORY = 267;
inline constexpr long ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr long ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr long ERROR_INSTALL_USEREXIT = 1602;
inline constexpr long ERROR_INSTALL_FAILURE = 1603;
inline constexpr long ERROR_FUNCTION_FAILED = 1627;
inline constexpr long ERROR_INVALID_HANDLE_STATE = 1609;
inline constexpr long ERROR_INVALID_DATATYPE = 1804;

// GetDriveTypeA.
inline constexpr int DRIVE_UNKNOWN = 0;
inline constexpr int DRIVE_NO_ROOT_DIR = 1;
inline constexpr int DRIVE_REMOVABLE = 2;
inline constexpr int DRIVE_FIXED = 3;
inline constexpr int DRIVE_REMOTE = 4;
inline constexpr int DRIVE_CDROM = 5;
inline constexpr int DRIVE_RAMDISK = 6;

// FormatMessageA.
inline constexpr int FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr int FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr int FORMAT_MESSAGE_FROM_STRING = 0x00000400;
inline constexpr int FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr int FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
inline constexpr int LANG_NEUTRAL = 0x00;
inline constexpr int SUBLANG_DEFAULT = 0x01;
constexpr int MAKELANGID(WORD primary, WORD sub)
{
    return (sub << 10) | primary;
}

// MessageBoxA.
inline constexpr long MB_OK = 0x00000000;
inline constexpr long MB_OKCANCEL = 0x00000001;
inline constexpr long MB_ABORTRETRYIGNORE = 0x00000002;
inline constexpr long MB_YESNOCANCEL = 0x00000003;
inline constexpr long MB_YESNO = 0x00000004;
inline constexpr long MB_RETRYCANCEL = 0x00000005;
inline constexpr long MB_ICONERROR = 0x00000010;
inline constexpr long MB_ICONWARNING = 0x00000030;
inline constexpr long MB_ICONINFORMATION = 0x00000040;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// DllMain reasons.
inline constexpr int DLL_PROCESS_DETACH = 0;
inline constexpr int DLL_PROCESS_ATTACH = 1;
inline constexpr int DLL_THREAD_ATTACH = 2;
inline constexpr int DLL_THREAD_DETACH = 3;

// Files.
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

// The installer.
inline constexpr unsigned int MSI_NULL_INTEGER = 0x80000000u;

// The message types the library sends or its tests name.
enum INSTALLMESSAGE : int {
    INSTALLMESSAGE_ERROR = 0x01000000,
    INSTALLMESSAGE_WARNING = 0x02000000,
    INSTALLMESSAGE_USER = 0x03000000,
    INSTALLMESSAGE_INFO = 0x04000000,
    INSTALLMESSAGE_ACTIONSTART = 0x08000000,
    INSTALLMESSAGE_ACTIONDATA = 0x09000000,
    INSTALLMESSAGE_COMMONDATA = 0x0B000000,
};

// msi.dll / msiquery.h
UINT WINAPI MsiCloseHandle(MSIHANDLE handle);
UINT WINAPI MsiGetPropertyA(MSIHANDLE install, LPCSTR name, LPSTR valueBuf, LPDWORD valueBufSize);
UINT WINAPI MsiSetPropertyA(MSIHANDLE install, LPCSTR name, LPCSTR value);
UINT WINAPI MsiGetTargetPathA(MSIHANDLE install, LPCSTR folder, LPSTR pathBuf, LPDWORD pathBufSize);
UINT WINAPI MsiGetSourcePathA(MSIHANDLE install, LPCSTR folder, LPSTR pathBuf, LPDWORD pathBufSize);
UINT WINAPI MsiSetTargetPathA(MSIHANDLE install, LPCSTR folder, LPCSTR folderPath);
MSIHANDLE WINAPI MsiCreateRecord(UINT params);
UINT WINAPI MsiRecordSetStringA(MSIHANDLE record, UINT field, LPCSTR value);
UINT WINAPI MsiRecordSetInteger(MSIHANDLE record, UINT field, int value);
UINT WINAPI MsiRecordSetStreamA(MSIHANDLE record, UINT field, LPCSTR filePath);
UINT WINAPI MsiRecordGetStringA(MSIHANDLE record, UINT field, LPSTR valueBuf, LPDWORD valueBufSize);
int WINAPI MsiRecordGetInteger(MSIHANDLE record, UINT field);
UINT WINAPI MsiRecordReadStream(MSIHANDLE record, UINT field, char* dataBuf, LPDWORD dataBufSize);
UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE record);
BOOL WINAPI MsiRecordIsNull(MSIHANDLE record, UINT field);
UINT WINAPI MsiRecordClearData(MSIHANDLE record);
MSIHANDLE WINAPI MsiGetLastErrorRecord();
int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE messageType, MSIHANDLE record);

// KERNEL32
UINT WINAPI GetDriveTypeA(LPCSTR rootPathName);
BOOL WINAPI GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength);
DWORD WINAPI GetTempPathA(DWORD bufferLength, LPSTR buffer);
BOOL WINAPI DeleteFileA(LPCSTR fileName);
HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData);
BOOL WINAPI FindClose(HANDLE findFile);
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD errorCode);
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                            va_list* arguments);
HLOCAL WINAPI LocalFree(HLOCAL memory);
BOOL WINAPI IsDBCSLeadByte(BYTE testChar);

// The path under which the build's file streams (std::ofstream) open a file that the system's
// calls name by `windowsPath`: here the host path, the model's backslashes turned into slashes.
std::string qelStreamPath(const char* windowsPath);

// A new output stream in text mode on the file `path` (created when missing) that writes at its
// end, also while other processes append to the same file: nothing written is lost, though a
// long text may reach the file in pieces between other writers' texts; nullptr when the file
// cannot be opened. Deleting the stream closes the file.
std::unique_ptr<std::ostream> qelOpenAppendStream(const char* path);

// USER32
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
