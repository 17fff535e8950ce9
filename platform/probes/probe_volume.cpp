// GetVolumePathNameA and GetDriveTypeA on drive roots, folders and files: prints each answer, the
// last error and what the buffer holds. D: is expected to be a CD-ROM drive holding the folder Setup\Disk1
// and the file Setup\setup.msi (run-probes.sh sets that up).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

static void volume(const char* path, DWORD size)
{
    char buffer[64];
    std::memset(buffer, 'X', sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    SetLastError(0);
    const BOOL ok = GetVolumePathNameA(path, size ? buffer : nullptr, size);
    const DWORD error = GetLastError();
    buffer[size < sizeof buffer ? size : sizeof buffer - 1] = '\0';  // show only what the call may write
    std::printf("GetVolumePathNameA(%s%s%s, %lu) -> %d, last error %lu, buffer \"%s\"\n", path ? "\"" : "",
                path ? path : "NULL", path ? "\"" : "", size, ok, error, buffer);
}

static void drive(const char* path)
{
    std::printf("GetDriveTypeA(\"%s\") -> %u\n", path, GetDriveTypeA(path));
}

int main()
{
    const char* paths[] = {"C:\\",
                           "c:\\windows\\",
                           "C:\\windows\\system32\\no\\such\\",
                           "C:\\windows\\win.ini",
                           "C:",
                           "C:foo",
                           "relative\\folder",
                           "D:\\",
                           "d:\\Setup\\",
                           "D:\\Setup\\Disk1",
                           "D:\\Setup\\setup.msi",
                           "D:\\no\\such\\",
                           "D:/Setup/",
                           "Q:\\folder\\",
                           "\\\\server\\share\\dir\\",
                           ""};
    for (const char* p : paths) {
        volume(p, 64);
    }
    volume(nullptr, 64);
    for (DWORD size : {0u, 1u, 2u, 3u, 4u, 5u}) {
        volume("C:\\windows\\", size);
    }
    for (DWORD size : {3u, 4u}) {
        volume("C:", size);
    }
    for (const char* p :
         {"D:\\", "D:", "d:\\Setup\\", "D:\\Setup", "D:\\Setup\\setup.msi", "D:\\no\\such\\", "C:\\", "C:\\windows\\",
          "C:\\no\\such\\", "C:\\windows\\win.ini", "C:", "Q:\\", "\\\\server\\share\\"}) {
        drive(p);
    }
    return 0;
}
