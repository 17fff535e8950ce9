#include "Thrown.h"
#include "backend/SharedTest.h"
#include "messages/KestMessageProcessor.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

class MessageFilesTest : public SharedTest {
protected:
    void SetUp() override
    {
        SharedTest::SetUp();
        folder = tempStreamPath("");
    }

    // Where the processor's files are expected: the temporary folder, as the test's streams name it.
    fs::path folder;

    fs::path path(const std::string& name) const { return folder / name; }
    bool exists(const std::string& name) const { return std::ifstream(path(name)).good(); }
    std::string contents(const std::string& name) const
    {
        std::ifstream file(path(name), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    // The bytes a library text stream leaves on disk for this text.
    static std::string written(const std::string& text)
    {
        std::string result;
        for (const char c : text) {
            result += c == '\n' ? Backend::lineEnd() : std::string(1, c);
        }
        return result;
    }
};

// In every temporary folder, by its full name: one named in Cyrillic, which code page 1252 cannot
// spell, and one whose ANSI text (best fit makes "Michał" "Michal") names another folder, which
// receives nothing. A file the processor cannot make is named in its report, with the reason.
TEST_F(MessageFilesTest, TheFirstProcessorStartsANewLogAndLaterOnesAppend)
{
    struct Case {
        const char* temp;  // nullptr: the case's own
        const char* lossyTwin;
    };
    const Case cases[] = {
        {nullptr, nullptr},
        {"users\\Пользователь\\Temp", nullptr},
        {"users\\Michał\\Temp", "users\\Michal\\Temp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.temp == nullptr ? "the case's own temporary folder" : c.temp);
        const fs::path twin = c.lossyTwin == nullptr ? fs::path() : Backend::makeFolder(c.lossyTwin);
        if (c.temp != nullptr) {
            folder = Backend::useTempFolder(c.temp);
        }
        std::ofstream(path("setup.log"), std::ios::binary) << "left from an earlier cycle\n";
        {
            KestMessageProcessor first;
            first.initialize("setup.log");
            EXPECT_TRUE(exists("setup.mpp"));
            EXPECT_EQ(contents("setup.mpp"), "");
            EXPECT_EQ(contents("setup.log"), "") << "a new cycle empties the log";
            first.logMessage("first %d\n", 1);
        }
        EXPECT_TRUE(exists("setup.mpp")) << "the persistence file outlives the processor";
        {
            KestMessageProcessor second;
            second.initialize("setup.log");
            second.logMessage("second %d\n", 2);
        }
        EXPECT_EQ(contents("setup.log"), written("first 1\nsecond 2\n"));

        // The persistence file alone decides: a missing log is created for appending.
        ASSERT_TRUE(fs::remove(path("setup.log")));
        {
            KestMessageProcessor third;
            third.initialize("setup.log");
            third.logMessage("third\n");
        }
        EXPECT_EQ(contents("setup.log"), written("third\n"));

        KestMessageProcessor last;
        last.initialize("setup.log");
        EXPECT_TRUE(last.uninitialize());
        EXPECT_FALSE(exists("setup.mpp")) << "the cycle's end removes the persistence file";
        EXPECT_EQ(contents("setup.log"), written("third\n"));
        if (c.lossyTwin != nullptr) {
            EXPECT_TRUE(fs::is_empty(twin));
        }

        const auto thrown = thrownBy([&] { last.initialize("missing\\setup.log"); });
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->type, typeid(EKestException));
        EXPECT_EQ(thrown->error.getErrorCode(), 0);
        std::string reason = Backend::systemText(ERROR_PATH_NOT_FOUND);
        reason.resize(reason.find_last_not_of("\r\n") + 1);
        EXPECT_EQ(thrown->comments(),
                  (std::vector<std::string>{"Unable to create persitentcy file",
                                            "File: " + tempFile("missing\\setup.mpp") + ". Error 3: " + reason}))
            << "the path as the ANSI code page renders it";
    }
}

// The log file holds every text as written, each "\n" as the platform's text files store it, also
// where a line end meets the end of a write buffer, around texts long enough to go out at once.
TEST_F(MessageFilesTest, EveryTextReachesTheLogWithThePlatformsLineEnds)
{
    std::string everySeventh;
    for (int i = 0; i < 10000; ++i) {
        everySeventh += i % 7 == 6 ? '\n' : static_cast<char>('a' + i % 26);
    }
    const std::string texts[] = {
        "no line end",
        "\n",
        "\n\n",
        "a\nb",
        "\r\n",
        std::string(4095, 'x') + "\n",
        std::string(4094, 'y') + "\n\n",
        std::string(4096, 'z'),
        std::string(1023, 'v'),
        std::string(1024, 'w') + "\n",
        everySeventh,
        "last\n",
    };
    std::string all;
    {
        KestMessageProcessor processor;
        processor.initialize("texts.log");
        for (const std::string& text : texts) {
            processor.logMessage("%s", text.c_str());
            all += text;
        }
    }
    EXPECT_EQ(contents("texts.log"), written(all));
}

TEST_F(MessageFilesTest, ReportsReachTheLogFileWithTheSystemsText)
{
    KestMessageProcessor processor;
    processor.initialize("report.log");
    EXPECT_TRUE(processor.logMessage(EKestException("Setup::copy", "Setup", 42, "Unable to copy")));
    EXPECT_TRUE(processor.uninitialize());

    // A second end finds no persistence file; the system's text ends in "\r\n" of its own.
    const auto thrown = thrownBy([&] { processor.uninitialize(); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestWinError));
    EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(thrown->error.getMessage(), Backend::systemText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: DeleteFile()"});

    {
        KestMessageProcessor next;
        next.initialize("report.log");
        next.logMessage(thrown->error);
    }
    EXPECT_EQ(contents("report.log"),
              written("Error: 2. Program Exception. " + Backend::systemText(ERROR_FILE_NOT_FOUND) +
                      ".\n"
                      "HISTORY:\n"
                      "\tT: KestMessageProcessor::uninitialize, F: KestMessageProcessor, L: " +
                      std::to_string(thrown->error.getFirstHistoryEntry().getLine()) +
                      ", C: Function Failed: DeleteFile()\n"))
        << "a new cycle starts the log again";
}
