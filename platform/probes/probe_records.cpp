// Record calls of msi.dll outside a custom action: prints each answer.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>

static void read(MSIHANDLE rec, UINT field, DWORD size, bool withBuffer, const char* what)
{
    char buf[64];
    DWORD sz = size;
    UINT r = MsiRecordReadStream(rec, field, withBuffer ? buf : nullptr, &sz);
    std::printf("  ReadStream(field %u, %s, size %lu) -> %u, size %lu\n", field, what, (unsigned long)size, r,
                (unsigned long)sz);
}

static void getString(MSIHANDLE rec, UINT field, DWORD size, bool withBuffer)
{
    char buf[64] = "XXXXXXXX";
    DWORD sz = size;
    UINT r = MsiRecordGetStringA(rec, field, withBuffer ? buf : nullptr, &sz);
    std::printf("  GetString(field %u, size %lu, buf %d) -> %u, size %lu, text \"%s\"\n", field, (unsigned long)size,
                withBuffer, r, (unsigned long)sz, withBuffer ? buf : "");
}

int main()
{
    MSIHANDLE rec = MsiCreateRecord(3);
    std::printf("SetInteger(1, MSI_NULL_INTEGER) -> %u\n", MsiRecordSetInteger(rec, 1, MSI_NULL_INTEGER));
    std::printf("  IsNull(1) -> %d, GetInteger(1) -> %d\n", MsiRecordIsNull(rec, 1), MsiRecordGetInteger(rec, 1));
    getString(rec, 1, 10, true);

    const char* texts[] = {"-", "", "-0", "-2147483648", "2147483647", "00000000000042", "4294967338", "-2147483649"};
    for (const char* t : texts) {
        MsiRecordSetStringA(rec, 2, t);
        std::printf("GetInteger(\"%s\") -> %d\n", t, MsiRecordGetInteger(rec, 2));
    }

    std::printf("Beyond count:\n");
    getString(rec, 7, 0, true);
    getString(rec, 7, 5, true);
    std::printf("  GetInteger(7) -> %d\n", MsiRecordGetInteger(rec, 7));
    DWORD sz = 10;
    char buf[16];
    std::printf("  ReadStream(7) -> %u\n", MsiRecordReadStream(rec, 7, buf, &sz));

    // A stream from this program's own source file.
    FILE* f = std::fopen("probe_stream.txt", "wb");
    std::fputs("abcdefghijklmnopqrstuvwxyz", f);
    std::fclose(f);
    std::printf("SetStream(3, file) -> %u\n", MsiRecordSetStreamA(rec, 3, "probe_stream.txt"));
    std::printf("SetStream(1, missing in missing folder) -> %u\n",
                MsiRecordSetStreamA(rec, 1, "C:\\nowhere\\missing.txt"));
    std::printf("SetStream(1, missing) -> %u\n", MsiRecordSetStreamA(rec, 1, "missing.txt"));
    std::printf("SetStream(1, NULL) on a null field -> %u\n", MsiRecordSetStreamA(rec, 1, nullptr));
    // A stream field read as a string: the library's length query (an empty buffer of size 0),
    // then a buffer of size 2, and the query without a buffer.
    {
        char empty[1] = "";
        DWORD zero = 0;
        UINT r = MsiRecordGetStringA(rec, 3, empty, &zero);
        std::printf("  GetString(stream field, \"\", size 0) -> %u, size %lu\n", r, (unsigned long)zero);
    }
    getString(rec, 3, 2, true);
    getString(rec, 3, 0, false);
    getString(rec, 3, 10, true);
    std::printf("  IsNull(3) -> %d, GetInteger(3) -> %d\n", MsiRecordIsNull(rec, 3), MsiRecordGetInteger(rec, 3));
    read(rec, 3, 10, true, "buf");
    read(rec, 3, 0, false, "nullptr");
    read(rec, 3, 10, true, "buf");
    read(rec, 3, 10, true, "buf");
    read(rec, 3, 10, true, "buf");
    std::printf("SetStream(3, NULL) on a stream -> %u\n", MsiRecordSetStreamA(rec, 3, nullptr));
    read(rec, 3, 0, false, "nullptr");
    read(rec, 3, 30, true, "buf");
    read(rec, 3, 0, true, "buf");
    std::printf("  ReadStream size NULL -> %u\n", MsiRecordReadStream(rec, 3, buf, nullptr));
    MsiRecordSetStringA(rec, 2, "text");
    sz = 10;
    std::printf("ReadStream(string field) -> %u\n", MsiRecordReadStream(rec, 2, buf, &sz));
    sz = 10;
    std::printf("ReadStream(field 0, null) -> %u\n", MsiRecordReadStream(rec, 0, buf, &sz));
    UINT r1 = MsiRecordSetInteger(rec, 0, 5);
    getString(rec, 0, 10, true);
    UINT r2 = MsiRecordSetStringA(rec, 0, "[1]");
    std::printf("SetInteger(field 0, 5) -> %u; SetString(field 0, \"[1]\") -> %u\n", r1, r2);
    getString(rec, 0, 10, true);
    r1 = MsiRecordSetStringA(rec, 2, nullptr);
    std::printf("SetString(2, NULL) -> %u, IsNull -> %d\n", r1, MsiRecordIsNull(rec, 2));

    SetLastError(0);
    MSIHANDLE big = MsiCreateRecord(65536);
    std::printf("CreateRecord(65536) -> %lu, last error %lu\n", (unsigned long)big, GetLastError());
    MSIHANDLE top = MsiCreateRecord(65535);
    std::printf("CreateRecord(65535) -> nonzero %d, count %u\n", top != 0, MsiRecordGetFieldCount(top));
    MsiCloseHandle(top);

    r1 = MsiCloseHandle(rec);
    r2 = MsiCloseHandle(rec);
    std::printf("Close -> %u, again -> %u\n", r1, r2);
    std::printf("Closed: IsNull %d, GetInteger %d, count %d, ClearData %u, SetString %u\n", MsiRecordIsNull(rec, 1),
                MsiRecordGetInteger(rec, 1), (int)MsiRecordGetFieldCount(rec), MsiRecordClearData(rec),
                MsiRecordSetStringA(rec, 1, "x"));
    sz = 10;
    std::printf("Closed: GetString %u\n", MsiRecordGetStringA(rec, 1, buf, &sz));
    std::printf("Unknown handle 12345: close %u\n", MsiCloseHandle(12345));
    std::printf("GetLastErrorRecord -> %lu\n", (unsigned long)MsiGetLastErrorRecord());
    std::printf("ProcessMessage(0, INFO, 0) -> %d\n", MsiProcessMessage(0, INSTALLMESSAGE_INFO, 0));
    return 0;
}
