// Marks a package as uncompressed with long file names (summary word count 0), so that the
// installer takes each file from the folder tree beside the package. wixl always writes a
// compressed package. Run under Wine, through the installer's own summary-information calls:
//
//   mark_uncompressed PACKAGE
//
// Exits 0 when the package was changed, 1 with the failing call on stderr otherwise.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>

namespace {

constexpr UINT wordCountProperty = 15;  // PID_WORDCOUNT

int failed(const char* call, UINT result)
{
    std::fprintf(stderr, "mark_uncompressed: %s answered %u\n", call, result);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mark_uncompressed PACKAGE\n");
        return 2;
    }
    MSIHANDLE database = 0;
    UINT result = MsiOpenDatabaseA(argv[1], MSIDBOPEN_TRANSACT, &database);
    if (result != ERROR_SUCCESS) {
        return failed("MsiOpenDatabase", result);
    }
    // The summary is written into the database, which keeps it only once committed.
    const char* call = "MsiGetSummaryInformation";
    MSIHANDLE summary = 0;
    result = MsiGetSummaryInformationA(database, nullptr, 1, &summary);
    if (result == ERROR_SUCCESS) {
        call = "MsiSummaryInfoSetProperty";
        result = MsiSummaryInfoSetPropertyA(summary, wordCountProperty, VT_I4, 0, nullptr, nullptr);
    }
    if (result == ERROR_SUCCESS) {
        call = "MsiSummaryInfoPersist";
        result = MsiSummaryInfoPersist(summary);
    }
    if (result == ERROR_SUCCESS) {
        call = "MsiDatabaseCommit";
        result = MsiDatabaseCommit(database);
    }
    MsiCloseHandle(summary);
    MsiCloseHandle(database);
    return result == ERROR_SUCCESS ? 0 : failed(call, result);
}
