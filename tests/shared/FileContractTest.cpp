// The file calls the message processor's log and persistence file rest on (CreateFileA, WriteFile,
// CloseHandle, FindFirstFileA, Sleep, GetTickCount), checked against the host's model and against the real system
// alike.
#include "backend/SharedTest.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>

namespace {

using FileContractTest = SharedTest;

enum class Before { nothing, file, folder };

std::string contents(const std::string& name)
{
    std::ifstream file(SharedTest::tempStreamPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// What was there before, as the processor meets it: nothing, a file holding "old", a folder.
void prepare(Before before, const std::string& name)
{
    if (before == Before::file) {
        std::ofstream(SharedTest::tempStreamPath(name), std::ios::binary) << "old";
    } else if (before == Before::folder) {
        std::filesystem::create_directory(SharedTest::tempStreamPath(name));
    }
}

}  // namespace

TEST_F(FileContractTest, CreationDispositionsOpenCreateAndEmptyAsDocumented)
{
    constexpr DWORD unchecked = 0xFFFFFFFF;
    struct Case {
        const char* what;
        Before before;
        DWORD disposition;
        DWORD access;
        bool opens;
        DWORD lastError;    // after the call; unchecked where Windows documents none
        const char* after;  // the file's bytes afterwards (nullptr: not a file)
    };
    const Case cases[] = {
        {"CREATE_NEW makes a file", Before::nothing, CREATE_NEW, GENERIC_WRITE, true, unchecked, ""},
        {"CREATE_NEW finds a file", Before::file, CREATE_NEW, GENERIC_WRITE, false, ERROR_FILE_EXISTS, "old"},
        {"CREATE_NEW finds a folder", Before::folder, CREATE_NEW, GENERIC_WRITE, false, ERROR_FILE_EXISTS, nullptr},
        {"CREATE_ALWAYS empties a file", Before::file, CREATE_ALWAYS, GENERIC_WRITE, true, ERROR_ALREADY_EXISTS, ""},
        {"CREATE_ALWAYS makes a file", Before::nothing, CREATE_ALWAYS, GENERIC_WRITE, true, 0, ""},
        {"CREATE_ALWAYS finds a folder", Before::folder, CREATE_ALWAYS, GENERIC_WRITE, false, ERROR_ACCESS_DENIED,
         nullptr},
        {"OPEN_ALWAYS keeps a file", Before::file, OPEN_ALWAYS, FILE_APPEND_DATA, true, ERROR_ALREADY_EXISTS, "old"},
        {"OPEN_ALWAYS makes a file", Before::nothing, OPEN_ALWAYS, FILE_APPEND_DATA, true, 0, ""},
        {"OPEN_EXISTING finds nothing", Before::nothing, OPEN_EXISTING, GENERIC_READ, false, ERROR_FILE_NOT_FOUND,
         nullptr},
        {"OPEN_EXISTING finds a folder", Before::folder, OPEN_EXISTING, GENERIC_READ, false, ERROR_ACCESS_DENIED,
         nullptr},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "case" + std::to_string(index++);
        prepare(c.before, name);
        SetLastError(0x1234);
        const HANDLE file = CreateFileA(tempFile(name).c_str(), c.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens) << c.what;
        if (c.lastError != unchecked) {
            EXPECT_EQ(error, c.lastError) << c.what;
        }
        if (file != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(file)) << c.what;
        }
        if (c.after) {
            EXPECT_EQ(contents(name), c.after) << c.what;
        }
    }

    // A folder that is not there.
    EXPECT_EQ(CreateFileA(tempFile("missing\\x").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// The persistence file's protocol: held unshared, a file cannot be opened again, however shared the
// second open is, until it is closed; nor can a file that is open be opened unshared.
TEST_F(FileContractTest, AFileHeldUnsharedCannotBeOpenedAgainUntilClosed)
{
    const std::string path = tempFile("setup.mpp");
    constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    auto openShared = [&] {
        return CreateFileA(path.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    };
    const HANDLE held =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    EXPECT_EQ(openShared(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS) << "existing comes before sharing";

    EXPECT_TRUE(CloseHandle(held));
    Sleep(1);
    const HANDLE shared = openShared();
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(shared));

    SetLastError(0);
    EXPECT_FALSE(CloseHandle(shared));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// The log's protocol: handles with the right to append and not to write put every write at the end
// of the file as it is then, bytes as given (no line end is translated).
TEST_F(FileContractTest, AppendingHandlesWriteAtTheEndWhateverTheOthersWrote)
{
    const std::string path = tempFile("setup.log");
    auto openAppending = [&] {
        return CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const HANDLE first = openAppending();
    const HANDLE second = openAppending();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    for (const auto& [file, text] : {std::pair{first, "one\n"}, std::pair{second, "two\r\n"}, std::pair{first, "3"}}) {
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, text, static_cast<DWORD>(std::string(text).size()), &written, nullptr));
        EXPECT_EQ(written, std::string(text).size());
    }
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(contents("setup.log"), "one\ntwo\r\n3");

    // A handle without the right to write writes nothing.
    const HANDLE reading = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reading, INVALID_HANDLE_VALUE);
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(reading, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(CloseHandle(reading));
    EXPECT_EQ(contents("setup.log"), "one\ntwo\r\n3");
}

// A file held open cannot be deleted unless every handle on it shares deletion; one that does lets
// it go once the last handle is closed.
TEST_F(FileContractTest, AFileHeldOpenIsDeletedOnlyWhereItsHandlesShareDeletion)
{
    // Shared for reading and writing, as the log is; then for deletion too.
    for (const bool deletes : {false, true}) {
        const std::string name = "held" + std::to_string(deletes);
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (deletes ? FILE_SHARE_DELETE : 0);
        prepare(Before::file, name);
        const HANDLE held = CreateFileA(tempFile(name).c_str(), FILE_APPEND_DATA, share, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << name;
        SetLastError(0);
        EXPECT_EQ(DeleteFileA(tempFile(name).c_str()) != FALSE, deletes) << name;
        if (!deletes) {
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        }
        EXPECT_TRUE(CloseHandle(held)) << name;
        EXPECT_EQ(std::filesystem::exists(tempStreamPath(name)), !deletes) << name;
    }
}

// A log cycle's joiner tells one persistence file from the next by the last write time FindFirstFile
// gives, and bounds its wait by the tick count: a file nobody writes keeps its time while it is
// held, a file made anew gets a later one, and Sleep moves the tick count on.
TEST_F(FileContractTest, FindsGiveTheTimeAFileWasMadeAndSleepsPassOnTheTickCount)
{
    auto made = [&](const std::string& name) {
        WIN32_FIND_DATAA data{};
        const HANDLE search = FindFirstFileA(tempFile(name).c_str(), &data);
        EXPECT_NE(search, INVALID_HANDLE_VALUE) << name;
        FindClose(search);
        return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
               data.ftLastWriteTime.dwLowDateTime;
    };
    const HANDLE held =
        CreateFileA(tempFile("marker").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const unsigned long long first = made("marker");
    EXPECT_NE(first, 0u);
    const DWORD before = GetTickCount();
    Sleep(50);
    EXPECT_GE(GetTickCount() - before, 30u) << "the tick count follows the clock, a tick at a time";
    EXPECT_EQ(made("marker"), first) << "held";
    EXPECT_TRUE(CloseHandle(held));
    EXPECT_TRUE(DeleteFileA(tempFile("marker").c_str()));
    prepare(Before::file, "marker");
    EXPECT_GT(made("marker"), first) << "made anew";
}

namespace {

// The file and folder calls of one form, A or W.
template <class Char>
struct FileCalls {
    const char* form;
    BOOL(WINAPI* copy)(const Char*, const Char*, BOOL);
    BOOL(WINAPI* move)(const Char*, const Char*, DWORD);
    BOOL(WINAPI* makeFolder)(const Char*, LPSECURITY_ATTRIBUTES);
    BOOL(WINAPI* removeFolder)(const Char*);
    BOOL(WINAPI* remove)(const Char*);
    DWORD(WINAPI* attributes)(const Char*);
};

// An ASCII path in the form's text.
template <class Char>
std::basic_string<Char> path(const std::string& ascii)
{
    return std::basic_string<Char>(ascii.begin(), ascii.end());
}

// Copies, moves, folders made and removed, attributes: each step's answer, and its error where it
// fails, as the documentation gives them, in either form.
template <class Char>
void expectFileCallsAnswerAsDocumented(const FileCalls<Char>& calls)
{
    SCOPED_TRACE(calls.form);
    const std::string prefix = std::string(calls.form) + "-";
    const auto file = path<Char>(SharedTest::tempFile(prefix + "file.txt"));
    const auto folder = path<Char>(SharedTest::tempFile(prefix + "folder"));
    const auto copy = path<Char>(SharedTest::tempFile(prefix + "folder\\copy.txt"));
    const auto nested = path<Char>(SharedTest::tempFile(prefix + "missing\\folder"));
    const auto badName = path<Char>(SharedTest::tempFile(prefix + "a?.txt"));
    std::ofstream(SharedTest::tempStreamPath(prefix + "file.txt"), std::ios::binary) << "text";
    struct Step {
        const char* what;
        std::function<BOOL()> call;
        DWORD error;  // 0: succeeds
    };
    const Step steps[] = {
        {"copy into a missing folder", [&] { return calls.copy(file.c_str(), copy.c_str(), TRUE); },
         ERROR_PATH_NOT_FOUND},
        {"make the folder", [&] { return calls.makeFolder(folder.c_str(), nullptr); }, 0},
        {"make it again", [&] { return calls.makeFolder(folder.c_str(), nullptr); }, ERROR_ALREADY_EXISTS},
        {"make one in a missing folder", [&] { return calls.makeFolder(nested.c_str(), nullptr); },
         ERROR_PATH_NOT_FOUND},
        {"copy", [&] { return calls.copy(file.c_str(), copy.c_str(), TRUE); }, 0},
        {"copy onto it", [&] { return calls.copy(file.c_str(), copy.c_str(), TRUE); }, ERROR_FILE_EXISTS},
        {"copy over it", [&] { return calls.copy(file.c_str(), copy.c_str(), FALSE); }, 0},
        {"remove the full folder", [&] { return calls.removeFolder(folder.c_str()); }, ERROR_DIR_NOT_EMPTY},
        {"remove a file as a folder", [&] { return calls.removeFolder(file.c_str()); }, ERROR_DIRECTORY},
        {"move onto the copy", [&] { return calls.move(file.c_str(), copy.c_str(), 0); }, ERROR_ALREADY_EXISTS},
        {"move over the copy", [&] { return calls.move(file.c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING); }, 0},
        {"move what is gone", [&] { return calls.move(file.c_str(), copy.c_str(), 0); }, ERROR_FILE_NOT_FOUND},
        {"a name with '?'", [&] { return calls.remove(badName.c_str()); }, ERROR_INVALID_NAME},
        {"delete the copy", [&] { return calls.remove(copy.c_str()); }, 0},
        {"remove the empty folder", [&] { return calls.removeFolder(folder.c_str()); }, 0},
        {"remove it again", [&] { return calls.removeFolder(folder.c_str()); }, ERROR_FILE_NOT_FOUND},
    };
    for (const Step& step : steps) {
        SetLastError(0);
        EXPECT_EQ(step.call() != FALSE, step.error == 0) << step.what;
        if (step.error != 0) {
            EXPECT_EQ(GetLastError(), step.error) << step.what;
        }
    }
    const std::pair<std::basic_string<Char>, DWORD> attributes[] = {
        {path<Char>(SharedTest::tempFile("")), FILE_ATTRIBUTE_DIRECTORY},
        {file, INVALID_FILE_ATTRIBUTES},
        {copy, INVALID_FILE_ATTRIBUTES},
    };
    for (const auto& [of, expected] : attributes) {
        EXPECT_EQ(calls.attributes(of.c_str()) & (expected | FILE_ATTRIBUTE_DIRECTORY), expected);
    }
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND) << "the copy's folder is gone";
}

}  // namespace

TEST_F(FileContractTest, TheFileAndFolderCallsAnswerAsDocumentedInEitherForm)
{
    expectFileCallsAnswerAsDocumented(FileCalls<char>{"A", &CopyFileA, &MoveFileExA, &CreateDirectoryA,
                                                      &RemoveDirectoryA, &DeleteFileA, &GetFileAttributesA});
    expectFileCallsAnswerAsDocumented(FileCalls<WCHAR>{"W", &CopyFileW, &MoveFileExW, &CreateDirectoryW,
                                                       &RemoveDirectoryW, &DeleteFileW, &GetFileAttributesW});
}
