// KERNEL32 and USER32 calls: prints each answer and last error.
#include <windows.h>

#include <cstdio>
#include <cstring>

static void drive(const char* path)
{
    std::printf("GetDriveTypeA(%s%s%s) -> %u\n", path ? "\"" : "", path ? path : "NULL", path ? "\"" : "",
                GetDriveTypeA(path));
}

static void find(const char* pattern)
{
    WIN32_FIND_DATAA data;
    SetLastError(0);
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("FindFirstFileA(\"%s\") -> invalid, last error %lu\n", pattern, GetLastError());
        return;
    }
    std::printf("FindFirstFileA(\"%s\") -> \"%s\" attr 0x%lx, last error %lu\n", pattern, data.cFileName,
                data.dwFileAttributes, GetLastError());
    FindClose(h);
}

static void del(const char* path)
{
    SetLastError(0);
    BOOL ok = DeleteFileA(path);
    std::printf("DeleteFileA(\"%s\") -> %d, last error %lu\n", path, ok, GetLastError());
}

int main()
{
    drive(nullptr);
    drive("");
    drive("C:");
    drive("c:\\");
    drive("C:\\windows\\");
    drive("C:\\windows");
    drive("C:\\no such folder\\");
    drive("C:/");
    drive("C:foo");
    drive("Q:\\");
    drive("\\\\server\\share\\");

    char tmp[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, tmp);
    std::printf("GetTempPathA(MAX_PATH) -> %lu \"%s\"\n", n, tmp);
    char small[4] = "abc";
    DWORD m = GetTempPathA(sizeof small, small);
    std::printf("GetTempPathA(4) -> %lu, buffer[0] %d\n", m, small[0]);
    m = GetTempPathA(n, tmp);
    std::printf("GetTempPathA(length) -> %lu\n", m);
    GetTempPathA(MAX_PATH, tmp);

    char dir[MAX_PATH], file[MAX_PATH], path[MAX_PATH];
    std::snprintf(dir, sizeof dir, "%sqelprobe", tmp);
    CreateDirectoryA(dir, nullptr);
    std::snprintf(file, sizeof file, "%s\\Setup.log", dir);
    CloseHandle(CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    std::snprintf(file, sizeof file, "%s\\noext", dir);
    CloseHandle(CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    const char* patterns[] = {"\\setup.log", "\\\\Setup.log", "\\*",       "\\*.*",     "\\S?tup.log",
                              "\\S?tup.lo",  "\\noext.*",     "\\noext.",  "\\missing", "\\nofolder\\x",
                              "\\",          "\\Setup.log\\", "/Setup.log"};
    for (const char* p : patterns) {
        std::snprintf(path, sizeof path, "%s%s", dir, p);
        find(path);
    }
    find("");
    const auto delInDir = [&](const char* name) {
        std::snprintf(path, sizeof path, "%s%s", dir, name);
        del(path);
    };
    delInDir("\\missing");
    delInDir("\\nofolder\\missing");
    del(dir);
    del("");
    delInDir("\\\\SETUP.LOG");
    delInDir("\\noext");
    RemoveDirectoryA(dir);

    char* text = nullptr;
    DWORD len = FormatMessageA(0x1300, nullptr, 2, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    std::printf("FormatMessageA(0x1300, 2) -> %lu \"%s\"\n", len, text ? text : "(null)");
    std::printf("LocalFree -> %p\n", LocalFree(text));
    text = reinterpret_cast<char*>(1);
    SetLastError(0);
    len = FormatMessageA(0x1300, nullptr, 0x80000000u, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    std::printf("FormatMessageA(0x1300, 0x80000000) -> %lu, buffer %p, last error %lu\n", len, text, GetLastError());
    char fixed[8];
    SetLastError(0);
    len = FormatMessageA(0x1200, nullptr, 2, 0x400, fixed, sizeof fixed, nullptr);
    std::printf("FormatMessageA(0x1200, 2, size 8) -> %lu, last error %lu\n", len, GetLastError());
    std::printf("LocalFree(NULL) -> %p\n", LocalFree(nullptr));

    HINSTANCE self = GetModuleHandleA(nullptr);
    char buf[16];
    std::memset(buf, 'X', sizeof buf);
    int r = LoadStringA(self, 1, buf, 6);
    std::printf("LoadStringA(\"Hello world\", 6) -> %d \"%s\"\n", r, buf);
    r = LoadStringA(self, 1, buf, sizeof buf);
    std::printf("LoadStringA(\"Hello world\", 16) -> %d \"%s\"\n", r, buf);
    std::memset(buf, 'X', sizeof buf);
    SetLastError(0);
    r = LoadStringA(self, 99, buf, sizeof buf);
    std::printf("LoadStringA(missing) -> %d, buffer[0] %d, last error %lu\n", r, buf[0], GetLastError());
    std::memset(buf, 'X', sizeof buf);
    r = LoadStringA(self, 1, buf, 1);
    std::printf("LoadStringA(size 1) -> %d, buffer[0] %d\n", r, buf[0]);
    r = LoadStringA(self, 2, buf, sizeof buf);
    std::printf("LoadStringA(empty resource) -> %d\n", r);

    int leads = 0;
    for (int b = 0; b < 256; ++b)
        leads += IsDBCSLeadByte(static_cast<BYTE>(b)) ? 1 : 0;
    std::printf("ACP %u, lead bytes %d\n", GetACP(), leads);
    return 0;
}
