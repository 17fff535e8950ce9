// The platform as the library sees it on the host build: the Windows and Windows Installer
// types, constants and functions the library calls, with the signatures of the real headers and
// constants of the types their macros have there (ERROR_* and MB_* long, MSI_NULL_INTEGER
// unsigned, the others int), so that what compiles cleanly here compiles cleanly for Windows.
// They are implemented over an in-process model of the platform, which Simulation.h steers:
// SimInstaller.cpp has the installer's functions (msi.dll), SimSystem.cpp the KERNEL32 and USER32
// ones, SimFiles.cpp KERNEL32's file handles, QelStreams.cpp qelStreamPath, and Simulation.cpp the
// model's state and its steering.
#pragma once

#include <cstdarg>
#include <cstdint>
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
// UTF-16 code units, 16 bits as on Windows (the host's wchar_t has 32): wide text in the library is
// std::basic_string<WCHAR>, never a wchar_t literal.
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPBOOL = BOOL*;
using LONGLONG = std::int64_t;
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
inline constexpr long ERROR_SHARING_VIOLATION = 32;
inline constexpr long ERROR_HANDLE_DISK_FULL = 39;
inline constexpr long ERROR_FILE_EXISTS = 80;
inline constexpr long ERROR_INVALID_PARAMETER = 87;
inline constexpr long ERROR_DISK_FULL = 112;
inline constexpr long ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr long ERROR_INVALID_NAME = 123;
inline constexpr long ERROR_ALREADY_EXISTS = 183;
inline constexpr long ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr long ERROR_MORE_DATA = 234;
inline constexpr long ERROR_NO_MORE_ITEMS = 259;
inline constexpr long ERROR_DIRECTORY = 267;
inline constexpr long ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr long ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr long ERROR_INSTALL_USEREXIT = 1602;
inline constexpr long ERROR_INSTALL_FAILURE = 1603;
inline constexpr long ERROR_INSTALL_SUSPEND = 1604;
inline constexpr long ERROR_UNKNOWN_FEATURE = 1606;
inline constexpr long ERROR_UNKNOWN_COMPONENT = 1607;
inline constexpr long ERROR_INVALID_HANDLE_STATE = 1609;
inline constexpr long ERROR_BAD_QUERY_SYNTAX = 1615;
inline constexpr long ERROR_INVALID_FIELD = 1616;
inline constexpr long ERROR_FUNCTION_NOT_CALLED = 1626;
inline constexpr long ERROR_FUNCTION_FAILED = 1627;
inline constexpr long ERROR_INVALID_DATATYPE = 1804;
inline constexpr long ERROR_HANDLE_EOF = 38;
inline constexpr long ERROR_DIR_NOT_EMPTY = 145;
inline constexpr long ERROR_NO_UNICODE_TRANSLATION = 1113;

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
inline constexpr unsigned long GENERIC_READ = 0x80000000ul;
inline constexpr long GENERIC_WRITE = 0x40000000;
inline constexpr int FILE_APPEND_DATA = 0x0004;
inline constexpr int FILE_SHARE_READ = 0x00000001;
inline constexpr int FILE_SHARE_WRITE = 0x00000002;
inline constexpr int FILE_SHARE_DELETE = 0x00000004;
inline constexpr int CREATE_NEW = 1;
inline constexpr int CREATE_ALWAYS = 2;
inline constexpr int OPEN_EXISTING = 3;
inline constexpr int OPEN_ALWAYS = 4;
inline constexpr int TRUNCATE_EXISTING = 5;
inline constexpr int FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr int FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr int FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
inline constexpr int MOVEFILE_REPLACE_EXISTING = 0x00000001;
inline constexpr int MOVEFILE_COPY_ALLOWED = 0x00000002;
inline constexpr int MOVEFILE_WRITE_THROUGH = 0x00000008;

// Code pages (MultiByteToWideChar, WideCharToMultiByte).
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

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

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

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
    INSTALLMESSAGE_PROGRESS = 0x0A000000,
    INSTALLMESSAGE_COMMONDATA = 0x0B000000,
};

enum INSTALLSTATE : int {
    INSTALLSTATE_NOTUSED = -7,
    INSTALLSTATE_BADCONFIG = -6,
    INSTALLSTATE_INCOMPLETE = -5,
    INSTALLSTATE_SOURCEABSENT = -4,
    INSTALLSTATE_MOREDATA = -3,
    INSTALLSTATE_INVALIDARG = -2,
    INSTALLSTATE_UNKNOWN = -1,
    INSTALLSTATE_BROKEN = 0,
    INSTALLSTATE_ADVERTISED = 1,
    INSTALLSTATE_REMOVED = 1,
    INSTALLSTATE_ABSENT = 2,
    INSTALLSTATE_LOCAL = 3,
    INSTALLSTATE_SOURCE = 4,
    INSTALLSTATE_DEFAULT = 5,
};

enum MSIRUNMODE : int {
    MSIRUNMODE_ADMIN = 0,
    MSIRUNMODE_ADVERTISE = 1,
    MSIRUNMODE_MAINTENANCE = 2,
    MSIRUNMODE_ROLLBACKENABLED = 3,
    MSIRUNMODE_LOGENABLED = 4,
    MSIRUNMODE_OPERATIONS = 5,
    MSIRUNMODE_REBOOTATEND = 6,
    MSIRUNMODE_REBOOTNOW = 7,
    MSIRUNMODE_CABINET = 8,
    MSIRUNMODE_SOURCESHORTNAMES = 9,
    MSIRUNMODE_TARGETSHORTNAMES = 10,
    MSIRUNMODE_RESERVED11 = 11,
    MSIRUNMODE_WINDOWS9X = 12,
    MSIRUNMODE_ZAWENABLED = 13,
    MSIRUNMODE_RESERVED14 = 14,
    MSIRUNMODE_RESERVED15 = 15,
    MSIRUNMODE_SCHEDULED = 16,
    MSIRUNMODE_ROLLBACK = 17,
    MSIRUNMODE_COMMIT = 18,
};

enum MSICONDITION : int {
    MSICONDITION_FALSE = 0,
    MSICONDITION_TRUE = 1,
    MSICONDITION_NONE = 2,
    MSICONDITION_ERROR = 3,
};

enum MSIMODIFY : int {
    MSIMODIFY_SEEK = -1,
    MSIMODIFY_REFRESH = 0,
    MSIMODIFY_INSERT = 1,
    MSIMODIFY_UPDATE = 2,
    MSIMODIFY_ASSIGN = 3,
    MSIMODIFY_REPLACE = 4,
    MSIMODIFY_MERGE = 5,
    MSIMODIFY_DELETE = 6,
    MSIMODIFY_INSERT_TEMPORARY = 7,
    MSIMODIFY_VALIDATE = 8,
    MSIMODIFY_VALIDATE_NEW = 9,
    MSIMODIFY_VALIDATE_FIELD = 10,
    MSIMODIFY_VALIDATE_DELETE = 11,
};

enum MSICOLINFO : int {
    MSICOLINFO_NAMES = 0,
    MSICOLINFO_TYPES = 1,
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
UINT WINAPI MsiRecordDataSize(MSIHANDLE record, UINT field);
UINT WINAPI MsiRecordClearData(MSIHANDLE record);
MSIHANDLE WINAPI MsiGetLastErrorRecord();
int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE messageType, MSIHANDLE record);
UINT WINAPI MsiFormatRecordA(MSIHANDLE install, MSIHANDLE record, LPSTR resultBuf, LPDWORD resultBufSize);
MSICONDITION WINAPI MsiEvaluateConditionA(MSIHANDLE install, LPCSTR condition);
BOOL WINAPI MsiGetMode(MSIHANDLE install, MSIRUNMODE runMode);
LANGID WINAPI MsiGetLanguage(MSIHANDLE install);
UINT WINAPI MsiGetFeatureStateA(MSIHANDLE install, LPCSTR feature, INSTALLSTATE* installed, INSTALLSTATE* action);
UINT WINAPI MsiSetFeatureStateA(MSIHANDLE install, LPCSTR feature, INSTALLSTATE state);
UINT WINAPI MsiGetComponentStateA(MSIHANDLE install, LPCSTR component, INSTALLSTATE* installed, INSTALLSTATE* action);
UINT WINAPI MsiSetComponentStateA(MSIHANDLE install, LPCSTR component, INSTALLSTATE state);
UINT WINAPI MsiDoActionA(MSIHANDLE install, LPCSTR action);
MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE install);
UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE database, LPCSTR query, MSIHANDLE* view);
UINT WINAPI MsiViewExecute(MSIHANDLE view, MSIHANDLE record);
UINT WINAPI MsiViewFetch(MSIHANDLE view, MSIHANDLE* record);
UINT WINAPI MsiViewClose(MSIHANDLE view);
UINT WINAPI MsiViewModify(MSIHANDLE view, MSIMODIFY modifyMode, MSIHANDLE record);
UINT WINAPI MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO columnInfo, MSIHANDLE* record);
// The wide (UTF-16) forms: the installer keeps its texts in Unicode, and these reach them whole.
UINT WINAPI MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR valueBuf, LPDWORD valueBufSize);
UINT WINAPI MsiSetPropertyW(MSIHANDLE install, LPCWSTR name, LPCWSTR value);
UINT WINAPI MsiGetTargetPathW(MSIHANDLE install, LPCWSTR folder, LPWSTR pathBuf, LPDWORD pathBufSize);
UINT WINAPI MsiGetSourcePathW(MSIHANDLE install, LPCWSTR folder, LPWSTR pathBuf, LPDWORD pathBufSize);
UINT WINAPI MsiSetTargetPathW(MSIHANDLE install, LPCWSTR folder, LPCWSTR folderPath);
UINT WINAPI MsiRecordSetStringW(MSIHANDLE record, UINT field, LPCWSTR value);
UINT WINAPI MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR valueBuf, LPDWORD valueBufSize);
UINT WINAPI MsiFormatRecordW(MSIHANDLE install, MSIHANDLE record, LPWSTR resultBuf, LPDWORD resultBufSize);
MSICONDITION WINAPI MsiEvaluateConditionW(MSIHANDLE install, LPCWSTR condition);
UINT WINAPI MsiGetFeatureStateW(MSIHANDLE install, LPCWSTR feature, INSTALLSTATE* installed, INSTALLSTATE* action);
UINT WINAPI MsiSetFeatureStateW(MSIHANDLE install, LPCWSTR feature, INSTALLSTATE state);
UINT WINAPI MsiGetComponentStateW(MSIHANDLE install, LPCWSTR component, INSTALLSTATE* installed, INSTALLSTATE* action);
UINT WINAPI MsiSetComponentStateW(MSIHANDLE install, LPCWSTR component, INSTALLSTATE state);
UINT WINAPI MsiDoActionW(MSIHANDLE install, LPCWSTR action);
UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view);

// KERNEL32
UINT WINAPI GetDriveTypeA(LPCSTR rootPathName);
BOOL WINAPI GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength);
DWORD WINAPI GetTempPathA(DWORD bufferLength, LPSTR buffer);
BOOL WINAPI DeleteFileA(LPCSTR fileName);
HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData);
BOOL WINAPI FindClose(HANDLE findFile);
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE object);
void WINAPI Sleep(DWORD milliseconds);
DWORD WINAPI GetTickCount();
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD errorCode);
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                            va_list* arguments);
HLOCAL WINAPI LocalFree(HLOCAL memory);
BOOL WINAPI IsDBCSLeadByte(BYTE testChar);
// Text conversion, and the system's ANSI code page.
UINT WINAPI GetACP();
inline constexpr int MAX_LEADBYTES = 12;
inline constexpr int MAX_DEFAULTCHAR = 2;
struct CPINFO {
    UINT MaxCharSize;
    BYTE DefaultChar[MAX_DEFAULTCHAR];
    BYTE LeadByte[MAX_LEADBYTES];
};
using LPCPINFO = CPINFO*;
BOOL WINAPI GetCPInfo(UINT codePage, LPCPINFO info);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount, LPWSTR wide,
                               int wideCount);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multiByte,
                               int multiByteCount, LPCSTR defaultChar, LPBOOL usedDefaultChar);
// Files and folders: by their wide (UTF-16) paths, and the ANSI forms of some.
DWORD WINAPI GetTempPathW(DWORD bufferLength, LPWSTR buffer);
HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL WINAPI DeleteFileW(LPCWSTR fileName);
HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData);
BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);
BOOL WINAPI MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags);
BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists);
BOOL WINAPI CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists);
BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI RemoveDirectoryA(LPCSTR pathName);
BOOL WINAPI RemoveDirectoryW(LPCWSTR pathName);
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);
DWORD WINAPI GetFileAttributesW(LPCWSTR fileName);
BOOL WINAPI GetVolumePathNameW(LPCWSTR fileName, LPWSTR volumePathName, DWORD bufferLength);
UINT WINAPI GetDriveTypeW(LPCWSTR rootPathName);

// The path under which the build's file streams (std::ofstream) open a file that the system's
// calls name by `windowsPath`: here the host path, the model's backslashes turned into slashes.
std::string qelStreamPath(const char* windowsPath);

// What a line end ("\n") of the library's text files becomes on disk: here it stays as it is, as
// the host's own files keep it.
inline constexpr char qelTextFileLineEnd[] = "\n";

// USER32
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
