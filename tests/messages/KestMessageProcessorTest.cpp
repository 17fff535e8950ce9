#include "messages/KestMessageProcessor.h"
#include "SimTest.h"
#include "Thrown.h"
#include "errors/EKestWinError.h"
#include "errors/PersistingRule.h"
#include "text/Unicode.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace persisting;

namespace {

// A processor whose state the tests can read.
class Processor : public KestMessageProcessor {
public:
    bool isLogging() const { return logActive; }
    const KestCString& name() const { return logFileName; }
    const std::ostream* stream() const { return logStream; }
    bool ownsItsStream() const { return ownsStream; }
};

constexpr const char* initializeContext = "KestMessageProcessor::initialize(const KestCString)";

HWND owner()
{
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(0x1234));
}

// Two library methods that pass an exception on, as callers of the processor would.
constexpr PersistingRule innerCaller{
    "Setup::removeLog", "Setup", none, none, unchecked(), "Unknown exception was trapped"};
constexpr PersistingRule outerCaller{
    "Setup::finish", "Setup", none, checked(), unchecked(pesistingText), "Unknown exception was trapped"};

}  // namespace

class MessageProcessorTest : public SimTest {
protected:
    static std::string path(const std::string& name) { return sim::tempPath() + name; }
    static bool exists(const std::string& name) { return std::filesystem::exists(path(name)); }
    static std::string contents(const std::string& name)
    {
        std::ifstream file(path(name), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static void write(const std::string& name, const std::string& text)
    {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    // The history of a file the processor could not open: the comment, then the file as the
    // system names it and the reason.
    static std::vector<std::string> refused(const std::string& comment, const std::string& name,
                                            const std::string& reason)
    {
        char folder[MAX_PATH] = {};
        GetTempPathA(sizeof folder, folder);
        return {comment, "File: " + std::string(folder) + name + ". " + reason};
    }
};

// ---- Log cycles -------------------------------------------------------------------------------

TEST_F(MessageProcessorTest, ThePersistenceFileIsNamedAfterTheLogUpToItsFirstDot)
{
    Processor processor;
    EXPECT_EQ(processor.getPersistanceFileName("setup.log"), "setup.mpp");
    EXPECT_EQ(processor.getPersistanceFileName("inst.2004.log"), "inst.mpp");
    EXPECT_EQ(processor.getPersistanceFileName("a.b.c"), "a.mpp");
    EXPECT_EQ(processor.getPersistanceFileName("setuplog"), ".mpp");
    EXPECT_EQ(processor.getPersistanceFileName(".log"), ".mpp");

    processor.initialize("inst.2004.log");
    EXPECT_TRUE(exists("inst.mpp"));
    EXPECT_TRUE(exists("inst.2004.log"));
}

TEST_F(MessageProcessorTest, UninitializeEndsTheCycleAndSwitchesLoggingOff)
{
    {
        Processor processor;
        processor.initialize("setup.log");
        processor.logMessage("kept\n");

        EXPECT_TRUE(processor.uninitialize());
        EXPECT_EQ(contents("setup.log"), "kept\n") << "the cycle's text is on disk when it ends";
        EXPECT_FALSE(exists("setup.mpp"));
        EXPECT_FALSE(processor.isLogging());

        // Switched off: nothing is written, everything still answers true, boxes still show.
        EXPECT_TRUE(processor.writeLog("%s", "skipped\n"));
        EXPECT_TRUE(processor.logMessage("skipped\n"));
        EXPECT_TRUE(processor.logMessage(EKestException("Setup::run", "Setup", 7, "skipped")));
        EXPECT_EQ(processor.messageBox(owner(), "Setup", MB_OK, "shown"), IDOK);
        EXPECT_EQ(sim::messageBoxes().size(), 1u);

        // A second one finds no persistence file.
        const auto thrown = thrownBy([&] { processor.uninitialize(); });
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->type, typeid(EKestWinError));
        EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(thrown->error.getMessage(), "The system cannot find the file specified.\r\n");
        EXPECT_EQ(thrown->contexts(), std::vector<std::string>{"KestMessageProcessor::uninitialize"});
        EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: DeleteFile()"});
        EXPECT_EQ(thrown->error.getFirstHistoryEntry().getFileName(), "KestMessageProcessor");
        EXPECT_FALSE(processor.isLogging());
    }
    EXPECT_EQ(contents("setup.log"), "kept\n");
}

TEST_F(MessageProcessorTest, AFailedUninitializeLeavesLoggingOnAndThePersistenceFileInPlace)
{
    Processor processor;
    processor.initialize("setup.log");
    sim::failCall("GetTempPathW", 1, 0, ERROR_ACCESS_DENIED);

    const auto thrown = thrownBy([&] { processor.uninitialize(); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestWinError));
    EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: GetTempPath()"});
    EXPECT_TRUE(processor.isLogging());
    EXPECT_TRUE(exists("setup.mpp"));
}

TEST_F(MessageProcessorTest, ANewCycleOnTheSameLogIsNotOverwrittenByTheOldStream)
{
    {
        Processor processor;
        processor.initialize("setup.log");
        processor.logMessage("a line of the finished cycle\n");
        processor.uninitialize();

        processor.initialize("setup.log");  // starts the next cycle on the same file
        EXPECT_EQ(contents("setup.log"), "");
        processor.logMessage("new\n");
    }
    EXPECT_EQ(contents("setup.log"), "new\n");
}

// A cycle that ends between a processor's two looks at the marker (its create refused because the
// marker is there, then the marker gone when it looks for it) leaves the processor to start the
// next cycle, not to fail.
TEST_F(MessageProcessorTest, ACycleEndingBetweenTheTwoLooksIsFollowedByANewOne)
{
    write("setup.log", "the ending cycle's text\n");
    write("setup.mpp", "");
    sim::beforeCall("FindFirstFileW", 1, [] { std::filesystem::remove(path("setup.mpp")); });
    {
        Processor processor;
        processor.initialize("setup.log");
        EXPECT_TRUE(processor.isLogging());
        processor.logMessage("next\n");
    }
    EXPECT_EQ(contents("setup.log"), "next\n");
    EXPECT_TRUE(exists("setup.mpp"));
}

// A starter that stalls while it holds the persistence file: joiners wait for it by the clock, and
// only the first wait of this process is paid in full; a new cycle's starter is waited for again.
// A starter that comes to empty the log after joiners may have stopped waiting leaves it whole.
TEST_F(MessageProcessorTest, AStalledStarterCostsOneWaitAndALateOneEmptiesNothing)
{
    const qel::WideText markerPath = qel::toWide(path("setup.mpp"));
    auto holdMarker = [&] {
        return CreateFileW(markerPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    struct Wait {
        const char* what;
        bool newMarker;    // the stalled one let go and a new starter holding its own
        bool waitsInFull;  // for the whole bound, by the clock
    };
    sim::setInstantSleeps(true);
    HANDLE held = holdMarker();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (const Wait w : {Wait{"the first joiner", false, true}, Wait{"the next joiner", false, false},
                         Wait{"a joiner of a new stalled starter", true, true}}) {
        if (w.newMarker) {
            CloseHandle(held);
            std::filesystem::remove(path("setup.mpp"));
            held = holdMarker();
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        const std::size_t sleeps = sim::calls("Sleep");
        const DWORD before = GetTickCount();
        Processor processor;
        processor.initialize("setup.log");
        EXPECT_TRUE(processor.isLogging()) << w.what;
        EXPECT_EQ(GetTickCount() - before >= 5000, w.waitsInFull) << w.what;
        EXPECT_EQ(sim::calls("Sleep") - sleeps > 0, w.waitsInFull) << w.what;
    }
    CloseHandle(held);
    std::filesystem::remove(path("setup.mpp"));

    struct Start {
        const char* what;
        DWORD stall;  // between taking the persistence file and emptying the log
        std::string log;
    };
    for (const Start& s : {Start{"in time", 0, "mine\n"}, Start{"late", 2500, "earlier\na joiner's\nmine\n"}}) {
        write("setup.log", "earlier\n");
        std::filesystem::remove(path("setup.mpp"));
        // The starter's second look at the clock comes right before it empties the log.
        sim::beforeCall("GetTickCount", 2, [&] {
            Sleep(s.stall);
            if (s.stall >= 2500) {
                std::ofstream(path("setup.log"), std::ios::app) << "a joiner's\n";
            }
        });
        {
            Processor processor;
            processor.initialize("setup.log");
            processor.logMessage("mine\n");
        }
        EXPECT_EQ(contents("setup.log"), s.log) << s.what;
    }
}

TEST_F(MessageProcessorTest, ProcessorsAliveAtOnceKeepEveryByteOfEachOther)
{
    struct Case {
        int processors;
        std::size_t textLength;  // past the stream's buffer for the long texts
    };
    for (const Case c : {Case{2, 12}, Case{3, 12}, Case{2, 20000}, Case{3, 20000}, Case{3, 70000}}) {
        sim::reset();
        write("setup.log", "left from an earlier cycle\n");
        std::vector<std::string> texts;
        std::size_t total = 0;
        {
            std::vector<std::unique_ptr<Processor>> processors;
            for (int p = 0; p < c.processors; ++p) {
                processors.push_back(std::make_unique<Processor>());
                processors.back()->initialize("setup.log");
            }
            for (int round = 0; round < 3; ++round) {
                for (int p = 0; p < c.processors; ++p) {
                    std::string text = "<" + std::to_string(p) + "." + std::to_string(round) + ">";
                    text += std::string(c.textLength - text.size() - 1, static_cast<char>('a' + p)) + "\n";
                    processors[static_cast<std::size_t>(p)]->logMessage("%s", text.c_str());
                    total += text.size();
                    texts.push_back(std::move(text));
                }
            }
            while (!processors.empty()) {
                processors.pop_back();  // the first to start is the last to end
            }
        }
        const std::string log = contents("setup.log");
        EXPECT_EQ(log.size(), total) << c.processors << " processors, texts of " << c.textLength;
        for (const std::string& text : texts) {
            EXPECT_NE(log.find(text), std::string::npos) << text.substr(0, 8) << " of " << c.textLength;
        }
    }
}

// Processes that start a log cycle at the same instant, forked from here and let go at once: one
// of them empties the log, before any of them writes, and every line of each is there in the end.
// Each writes a first text long enough to reach the file at once, then short ones.
TEST_F(MessageProcessorTest, ProcessesStartingACycleAtOnceKeepEveryLine)
{
    // Under valgrind (the memcheck run says so) each round takes seconds: a few check the memory.
    const int rounds = std::getenv("QEL_UNDER_VALGRIND") ? 3 : 40;
    constexpr int processes = 3, lines = 5;
    auto text = [](int process, int line) {
        return "<" + std::to_string(process) + "." + std::to_string(line) + ">" +
               std::string(line == 0 ? 1500 : 20, static_cast<char>('a' + process)) + "\n";
    };
    for (int round = 0; round < rounds; ++round) {
        write("setup.log", "left from an earlier cycle\n");
        std::filesystem::remove(path("setup.mpp"));
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        std::vector<pid_t> children;
        for (int process = 0; process < processes; ++process) {
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::close(gate[1]);
                char go = 0;
                int status = ::read(gate[0], &go, 1) == 0 ? 0 : 2;  // 0 once the parent closed the gate
                try {
                    Processor processor;
                    processor.initialize("setup.log");
                    for (int line = 0; line < lines; ++line) {
                        processor.logMessage("%s", text(process, line).c_str());
                    }
                } catch (...) {
                    status = 1;
                }
                ::_exit(status);  // no test teardown, no model going with its folder
            }
            children.push_back(child);
        }
        ::close(gate[0]);
        ::close(gate[1]);
        for (const pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        const std::string log = contents("setup.log");
        EXPECT_EQ(log.find("earlier"), std::string::npos) << "round " << round << ": the log was not emptied";
        for (int process = 0; process < processes; ++process) {
            for (int line = 0; line < lines; ++line) {
                EXPECT_NE(log.find(text(process, line)), std::string::npos)
                    << "round " << round << ": line " << line << " of process " << process << " lost";
            }
        }
        if (HasFailure()) {
            break;
        }
    }
}

// ---- Streams ----------------------------------------------------------------------------------

TEST_F(MessageProcessorTest, ACallersStreamIsWrittenAndLeftToTheCaller)
{
    std::ostringstream caller;
    {
        Processor processor;
        processor.initialize(caller);
        EXPECT_TRUE(processor.isLogging());
        EXPECT_FALSE(processor.ownsItsStream());
        processor.logMessage("to the caller\n");
    }
    caller << "still usable";
    EXPECT_EQ(caller.str(), "to the caller\nstill usable");
    EXPECT_EQ(sim::calls("GetTempPathW"), 0u) << "no file is touched";
    EXPECT_TRUE(std::filesystem::is_empty(sim::tempPath()));
}

// A caller's stream takes the log as its write() would take it: a buffer that refuses leaves the
// stream bad, for the caller to see, and throws only as the stream's exception mask says (through
// the persisting rule, as the library's own exception); once the caller has cleared the state,
// the stream takes the log again.
TEST_F(MessageProcessorTest, ACallersStreamFailsAsItsOwnWriteWouldFailIt)
{
    class Refusing : public std::stringbuf {
    public:
        bool refuses = false;

    protected:
        std::streamsize xsputn(const char* text, std::streamsize count) override
        {
            return refuses ? 0 : std::stringbuf::xsputn(text, count);
        }
        int sync() override { return refuses ? -1 : 0; }
    };
    struct Case {
        const char* what;
        std::ios::iostate mask;
        bool unitBuffered;
        bool raises;
    };
    const Case cases[] = {
        {"a refused write", std::ios::goodbit, false, false},
        {"a refused flush of a unit-buffered stream", std::ios::goodbit, true, false},
        {"a refused write, badbit in the mask", std::ios::badbit, false, true},
        {"a refused flush, badbit in the mask", std::ios::badbit, true, true},
    };
    for (const Case& c : cases) {
        Refusing buffer;
        std::ostream caller(&buffer);
        caller.exceptions(c.mask);
        if (c.unitBuffered) {
            caller.setf(std::ios::unitbuf);
            buffer.sputn("x", 1);  // the write goes through; only its flush is refused
        }
        Processor processor;
        processor.initialize(caller);
        buffer.refuses = true;
        const auto thrown = thrownBy([&] { EXPECT_TRUE(processor.logMessage("lost\n")) << c.what; });
        EXPECT_EQ(thrown.has_value(), c.raises) << c.what;
        EXPECT_TRUE(caller.bad()) << c.what << ": the caller sees the failure";

        buffer.refuses = false;
        caller.clear();
        processor.logMessage("taken\n");
        EXPECT_NE(buffer.str().find("taken\n"), std::string::npos) << c.what << ": a cleared stream takes the log";
        EXPECT_TRUE(caller.good()) << c.what;
    }
}

TEST_F(MessageProcessorTest, InitializingAgainClosesTheOwnedStreamAtOnce)
{
    std::ostringstream caller;
    Processor processor;
    processor.initialize("one.log");
    processor.logMessage("one\n");
    processor.initialize("two.log");
    EXPECT_EQ(contents("one.log"), "one\n") << "closed when replaced, not when the processor goes";
    EXPECT_EQ(processor.name(), "two.log");

    processor.logMessage("two\n");
    processor.initialize(caller);
    EXPECT_EQ(contents("two.log"), "two\n");
    EXPECT_EQ(processor.stream(), &caller);
    EXPECT_EQ(processor.name(), "two.log") << "a caller's stream leaves the log name";

    processor.logMessage("three\n");
    EXPECT_EQ(caller.str(), "three\n");
}

// logStream reads as the stream the log goes to: over the processor's own file a stream made when
// read, whose text lands in order with the processor's own; a caller's stream put in its place
// takes the log while the file stays the processor's.
TEST_F(MessageProcessorTest, TheLogStreamReadsAsTheStreamTheLogGoesTo)
{
    class Deriving : public KestMessageProcessor {
    public:
        void note(const char* text) { *logStream << text << 42 << '\n'; }
        std::ostream* stream() const { return logStream; }
        bool owns() const { return ownsStream; }
        void redirect(std::ostream* stream) { logStream = stream; }
    };
    std::ostringstream caller;
    {
        Deriving processor;
        EXPECT_EQ(processor.stream(), nullptr) << "no log yet";
        processor.initialize("setup.log");
        processor.logMessage("first\n");
        processor.note("noted ");
        processor.logMessage("second\n");
        std::ostream* const own = processor.stream();
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(processor.stream(), own) << "made once";

        processor.initialize(*own);  // handed back: still its own
        EXPECT_TRUE(processor.owns());
        processor.redirect(&caller);
        processor.logMessage("to the caller\n");
        processor.redirect(nullptr);
        EXPECT_EQ(processor.stream(), own) << "back to its own file";
        own->flush();
        EXPECT_EQ(contents("setup.log"), "first\nnoted 42\nsecond\n") << "flushed through the stream";
        processor.logMessage("third\n");
    }
    EXPECT_EQ(contents("setup.log"), "first\nnoted 42\nsecond\nthird\n");
    EXPECT_EQ(caller.str(), "to the caller\n");
}

// A derived class may give the processor a stream of its own making to own, as the processor owns
// one it opened: the destructor deletes it. One only lent to it (ownsStream false) stays the lender's.
TEST_F(MessageProcessorTest, AStreamGivenToOwnIsDeletedWithTheProcessor)
{
    struct Watched : std::ostringstream {
        explicit Watched(bool& deleted) : deleted(deleted) {}
        ~Watched() override { deleted = true; }
        bool& deleted;
    };
    class Deriving : public KestMessageProcessor {
    public:
        void take(std::ostream* stream, bool owned)
        {
            logStream = stream;
            ownsStream = owned;
        }
    };
    for (const bool owned : {true, false}) {
        bool deleted = false;
        auto* stream = new Watched(deleted);
        {
            Deriving processor;
            processor.take(stream, owned);
        }
        EXPECT_EQ(deleted, owned);
        if (!owned) {
            delete stream;
        }
    }
}

// ---- Failed initialize ------------------------------------------------------------------------

TEST_F(MessageProcessorTest, AFailedInitializeChangesNothing)
{
    Processor processor;
    processor.initialize("first.log");
    const std::ostream* firstStream = processor.stream();

    auto expectUnchanged = [&] {
        EXPECT_TRUE(processor.isLogging());
        EXPECT_EQ(processor.name(), "first.log");
        EXPECT_EQ(processor.stream(), firstStream);
        EXPECT_TRUE(processor.ownsItsStream());
    };

    sim::failCall("GetTempPathW", 1, 0, ERROR_ACCESS_DENIED);
    auto thrown = thrownBy([&] { processor.initialize("second.log"); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestException)) << "the win error leaves as its base class";
    EXPECT_EQ(thrown->error.getErrorCode(), static_cast<int>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(thrown->error.getMessage(), "Access is denied.\r\n");
    EXPECT_EQ(thrown->contexts(), std::vector<std::string>{initializeContext});
    EXPECT_EQ(thrown->comments(), std::vector<std::string>{"Function Failed: GetTempPath()"});
    EXPECT_FALSE(exists("second.mpp"));
    expectUnchanged();

    // The persistence file cannot be made in a folder that is not there.
    thrown = thrownBy([&] { processor.initialize("missing/second.log"); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestException));
    EXPECT_EQ(thrown->error.getErrorCode(), 0);
    EXPECT_EQ(thrown->comments(), refused("Unable to create persitentcy file", "missing/second.mpp",
                                          "Error 3: The system cannot find the path specified."));
    EXPECT_EQ(thrown->contexts(), std::vector<std::string>(2, initializeContext));
    expectUnchanged();

    // A folder in the log's place: the persistence file is made and stays, so the next try appends.
    std::filesystem::create_directory(path("blocked.log"));
    thrown = thrownBy([&] { processor.initialize("blocked.log"); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->comments(),
              refused("Unable to create new log file", "blocked.log", "Error 5: Access is denied."));
    EXPECT_TRUE(exists("blocked.mpp"));
    expectUnchanged();

    thrown = thrownBy([&] { processor.initialize("blocked.log"); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->comments(), refused("Unable to open the log file to append information", "blocked.log",
                                          "Error 5: Access is denied."));
    expectUnchanged();

    processor.logMessage("still here\n");
    processor.initialize("first.log");  // closes the first stream, appends after it
    EXPECT_EQ(contents("first.log"), "still here\n");
}

TEST_F(MessageProcessorTest, ATemporaryPathLongerThanTheFirstBufferIsFetchedWhole)
{
    std::string folder = sim::tempPath();
    while (folder.size() <= 2100) {
        folder += std::string(200, 'd') + "/";
    }
    sim::setTempPath(folder);
    ASSERT_GT(sim::tempPath().size(), 2048u);
    {
        Processor processor;
        processor.initialize("setup.log");
        processor.logMessage("deep\n");
        EXPECT_TRUE(std::filesystem::exists(sim::tempPath() + "setup.mpp"));
        EXPECT_TRUE(processor.uninitialize());
        EXPECT_FALSE(std::filesystem::exists(sim::tempPath() + "setup.mpp"));
    }
    EXPECT_EQ(contents("setup.log"), "deep\n");
}

// ---- Reports and boxes ------------------------------------------------------------------------

TEST_F(MessageProcessorTest, AnExceptionIsReportedWithItsWholeHistoryRaisePointFirst)
{
    std::ostringstream log;
    Processor processor;
    processor.initialize(log);

    EXPECT_TRUE(processor.logMessage(EKestException("Setup::copy", "Setup", 42, "Unable to copy")));
    EXPECT_EQ(log.str(), "Error: 0. Program Exception. Unknown exception.\n"
                         "HISTORY:\n"
                         "\tT: Setup::copy, F: Setup, L: 42, C: Unable to copy\n");

    // The win error of a second uninitialize, passed on through two more methods.
    log.str("");
    auto passed =
        thrownBy([&] { persist(outerCaller, [&] { persist(innerCaller, [&] { processor.uninitialize(); }); }); });
    ASSERT_TRUE(passed);
    ASSERT_EQ(passed->error.getHistory().size(), 3u);
    processor.logMessage(passed->error);

    const auto& history = passed->error.getHistory();
    EXPECT_EQ(log.str(), "Error: 2. Program Exception. The system cannot find the file specified.\r\n.\n"
                         "HISTORY:\n"
                         "\tT: KestMessageProcessor::uninitialize, F: KestMessageProcessor, L: " +
                             std::to_string(history[0].getLine()) +
                             ", C: Function Failed: DeleteFile()\n"
                             "\tT: Setup::removeLog, F: Setup, L: " +
                             std::to_string(history[1].getLine()) +
                             ", C: Persisting exception\n"
                             "\tT: Setup::finish, F: Setup, L: " +
                             std::to_string(history[2].getLine()) + ", C: Pesisting exception\n");
}

TEST_F(MessageProcessorTest, AnExceptionBoxShowsCodeAndMessageUnderTheCaptionAfterTheReport)
{
    std::ostringstream log;
    Processor processor;
    processor.initialize(log);
    sim::scriptMessageBoxAnswers({IDRETRY});

    EKestException error("Setup::copy", "Setup", 42, "Unable to copy");
    error.setErrorCode(1603);
    error.setMessage("Disk 100% full");
    EXPECT_EQ(processor.messageBox(owner(), MB_RETRYCANCEL, error), IDRETRY);

    ASSERT_EQ(sim::messageBoxes().size(), 1u);
    const auto& box = sim::messageBoxes()[0];
    EXPECT_EQ(box.owner, owner());
    EXPECT_EQ(box.caption, "Program Exception");
    EXPECT_EQ(box.text, "Error: 1603. Disk 100% full");
    EXPECT_EQ(box.type, MB_RETRYCANCEL);
    EXPECT_EQ(log.str(), "Error: 1603. Program Exception. Disk 100% full.\n"
                         "HISTORY:\n"
                         "\tT: Setup::copy, F: Setup, L: 42, C: Unable to copy\n"
                         "MSGBOX >>> Error: 1603. Disk 100% full. RESULT = 4.\n");

    error.setCaption("Setup Error");
    processor.messageBox(owner(), MB_OK, error);
    EXPECT_EQ(sim::messageBoxes().back().caption, "Setup Error");
}

TEST_F(MessageProcessorTest, ABoxIsShownAndItsAnswerReturnedWhetherOrNotItIsLogged)
{
    Processor idle;
    sim::scriptMessageBoxAnswers({IDNO});
    EXPECT_EQ(idle.messageBox(owner(), "Setup", MB_YESNO, "Remove %s?", "C:\\Demo"), IDNO);
    EXPECT_EQ(idle.messageBox(owner(), MB_OK, EKestException("Setup::copy", "Setup", 42, "x")), IDOK);
    ASSERT_EQ(sim::messageBoxes().size(), 2u);
    EXPECT_EQ(sim::messageBoxes()[0].text, "Remove C:\\Demo?");
    EXPECT_EQ(sim::messageBoxes()[0].caption, "Setup");

    // A box that could not be shown answers 0, which is returned and logged like any answer.
    std::ostringstream log;
    Processor logging;
    logging.initialize(log);
    sim::failCall("MessageBoxA", 1, 0);
    EXPECT_EQ(logging.messageBox(owner(), "Setup", MB_OK, "%d%% done", 50), 0);
    EXPECT_EQ(log.str(), "MSGBOX >>> 50% done. RESULT = 0.\n");
}

TEST_F(MessageProcessorTest, FormattedTextReachesTheLogUnchanged)
{
    std::ostringstream log;
    Processor processor;
    processor.initialize(log);

    EXPECT_TRUE(processor.logMessage("100%% of %s", "50% %s %n"));
    EXPECT_EQ(log.str(), "100% of 50% %s %n") << "no line end is added, no text is read as a format";
}

TEST_F(MessageProcessorTest, AnExceptionBoxGoesThroughTheOverridesOfASubclass)
{
    struct Counting : Processor {
        int reports = 0;
        bool logMessage(const EKestException& error) override
        {
            ++reports;
            return Processor::logMessage(error);
        }
        using Processor::logMessage;
    };
    Counting processor;
    processor.messageBox(owner(), MB_OK, EKestException("Setup::copy", "Setup", 42, "x"));
    EXPECT_EQ(processor.reports, 1);
}
