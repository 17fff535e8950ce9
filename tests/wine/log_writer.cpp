// Checks, under Wine, that processes sharing one log keep every byte of each other's text:
//
//   log_writer write NAME TAG COUNT OTHER lead|follow
//       writes COUNT texts of TAG letters to the log NAME (in the temporary folder) in turns with
//       the process of the tag OTHER; the lead starts the log cycle, the follower joins it
//   log_writer check NAME TAGS COUNT   the log holds every text of every TAG, each "\n" as CR LF;
//                                      then the cycle ends
//   log_writer race NAME ROUNDS COUNT
//       ROUNDS times, on a log left from an earlier cycle, two processes start the cycle at the same
//       instant and write COUNT lines each; the log must hold every line and nothing earlier
//
// Texts alternate between short ones and ones longer than any stream buffer. Turns are named
// events: both processes hold the log open at once, their writes never overlap. Exits 0 when all
// is well, 1 otherwise (the reason on stderr), 2 for bad arguments.
#include "messages/KestMessageProcessor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

std::size_t textLength(int index)
{
    return index % 2 == 0 ? 3 + static_cast<std::size_t>(index % 7) : 5000 + 37 * static_cast<std::size_t>(index);
}

std::string temporaryFolder()
{
    char folder[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    return length > 0 && length < sizeof folder ? std::string(folder, length) : std::string();
}

// The named event that gives the turn to the process of this tag.
HANDLE turnEvent(char tag)
{
    const std::string name = std::string("qel-log-writer-turn-") + tag;
    return CreateEventA(nullptr, FALSE, FALSE, name.c_str());
}

int writeInTurns(const char* name, char tag, int count, char other, bool lead)
{
    const HANDLE mine = turnEvent(tag);
    const HANDLE theirs = turnEvent(other);
    if (!mine || !theirs) {
        std::fprintf(stderr, "log_writer: no turn events (%lu)\n", GetLastError());
        return 1;
    }
    auto processor = std::make_unique<KestMessageProcessor>();
    // Step 0 opens the log, steps 1 to count write the texts, the last step closes the log.
    for (int step = 0; step <= count + 1; ++step) {
        if ((step > 0 || !lead) && WaitForSingleObject(mine, 60000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "log_writer: %c waited in vain for its turn at step %d\n", tag, step);
            return 1;
        }
        if (step == 0) {
            if (lead) {  // a cycle left open by an earlier run ends first: the lead starts a new one
                DeleteFileA((temporaryFolder() + processor->getPersistanceFileName(name)).c_str());
            }
            processor->initialize(name);
        } else if (step <= count) {
            const std::string text = std::string(textLength(step - 1), tag) + "\n";
            processor->logMessage("%s", text.c_str());
        } else {
            processor.reset();
        }
        SetEvent(theirs);
    }
    CloseHandle(mine);
    CloseHandle(theirs);
    return 0;
}

int check(const char* name, const char* tags, int count)
{
    std::ifstream file(temporaryFolder() + name, std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::size_t letters = 0;
    for (int i = 0; i < count; ++i) {
        letters += textLength(i);
    }
    const std::size_t lines = std::strlen(tags) * static_cast<std::size_t>(count);
    int faults = 0;
    for (const char* tag = tags; *tag; ++tag) {
        const std::size_t found = static_cast<std::size_t>(std::count(log.begin(), log.end(), *tag));
        if (found != letters) {
            std::fprintf(stderr, "log_writer: %zu of %zu bytes of '%c' in the log\n", found, letters, *tag);
            ++faults;
        }
    }
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const bool pairStart = log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n';
        if (pairStart) {
            ++pairs;
            ++i;
        } else if (log[i] == '\r' || log[i] == '\n') {
            std::fprintf(stderr, "log_writer: a lone %s at byte %zu\n", log[i] == '\r' ? "CR" : "LF", i);
            ++faults;
            break;
        }
    }
    if (pairs != lines) {
        std::fprintf(stderr, "log_writer: %zu CR LF pairs, expected %zu\n", pairs, lines);
        ++faults;
    }
    const std::size_t expected = std::strlen(tags) * letters + 2 * lines;
    if (log.size() != expected) {
        std::fprintf(stderr, "log_writer: the log holds %zu bytes, expected %zu\n", log.size(), expected);
        ++faults;
    }
    std::printf("log_writer: %zu bytes, %zu lines from %zu processes\n", log.size(), pairs, std::strlen(tags));
    KestMessageProcessor cycle;  // the writers' cycle ends here
    cycle.initialize(name);
    cycle.uninitialize();
    return faults == 0 ? 0 : 1;
}

// One line of a racer: its tag and number, then a run of its letter.
std::string raceLine(char tag, int line)
{
    const std::string head = std::string("<") + tag + "." + std::to_string(line) + ">";
    return head + std::string(line == 0 ? 1500 : 20, tag) + "\n";
}

// A racer: says it is ready, waits for the start, then starts or joins the log cycle and writes.
// Its writes (the long first line, and the rest when the processor goes) hold the writers' turn:
// under Wine two processes appending to one file at the same instant may write over each other
// (Windows appends through FILE_APPEND_DATA at the end, whatever other writers do), and it is
// the start of the cycle that is raced here, not the appends.
int race(const char* name, char tag, int count, const char* prefix)
{
    const std::string events = prefix;
    const HANDLE readyEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, (events + tag).c_str());
    const HANDLE startEvent = OpenEventA(SYNCHRONIZE, FALSE, (events + "start").c_str());
    const HANDLE turn = OpenMutexA(SYNCHRONIZE, FALSE, (events + "turn").c_str());
    if (!readyEvent || !startEvent || !turn || !SetEvent(readyEvent) ||
        WaitForSingleObject(startEvent, 60000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "log_writer: racer %c got no start (%lu)\n", tag, GetLastError());
        return 1;
    }
    auto processor = std::make_unique<KestMessageProcessor>();
    processor->initialize(name);
    for (int line = 0; line <= count; ++line) {
        if (WaitForSingleObject(turn, 60000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "log_writer: racer %c got no turn\n", tag);
            return 1;
        }
        if (line < count) {
            processor->logMessage("%s", raceLine(tag, line).c_str());
        } else {
            processor.reset();
        }
        ReleaseMutex(turn);
    }
    CloseHandle(readyEvent);
    CloseHandle(startEvent);
    CloseHandle(turn);
    return 0;
}

// Starts this program again as the racer of `tag`; the process handle, or nullptr.
HANDLE startRacer(const char* name, char tag, int count, const std::string& prefix)
{
    char self[MAX_PATH + 1] = {};
    if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) {
        return nullptr;
    }
    std::string command =
        std::string("\"") + self + "\" racer " + name + " " + tag + " " + std::to_string(count) + " " + prefix;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

int raceRounds(const char* name, int rounds, int count)
{
    const std::string log = temporaryFolder() + name;
    const std::string tags = "AB";
    const std::string prefix = "qel-log-race-" + std::to_string(GetCurrentProcessId()) + "-";
    const HANDLE start = CreateEventA(nullptr, TRUE, FALSE, (prefix + "start").c_str());
    const HANDLE turn = CreateMutexA(nullptr, FALSE, (prefix + "turn").c_str());
    HANDLE ready[2] = {CreateEventA(nullptr, TRUE, FALSE, (prefix + "A").c_str()),
                       CreateEventA(nullptr, TRUE, FALSE, (prefix + "B").c_str())};
    if (!start || !turn || !ready[0] || !ready[1]) {
        std::fprintf(stderr, "log_writer: no race events (%lu)\n", GetLastError());
        return 1;
    }
    KestMessageProcessor owner;
    const std::string marker = temporaryFolder() + owner.getPersistanceFileName(name);
    int faults = 0;
    for (int round = 0; round < rounds && faults == 0; ++round) {
        DeleteFileA(marker.c_str());
        std::ofstream(log, std::ios::binary) << "left from an earlier cycle\n";
        ResetEvent(start);
        HANDLE racers[2] = {};
        for (int r = 0; r < 2; ++r) {
            ResetEvent(ready[r]);
            racers[r] = startRacer(name, tags[static_cast<std::size_t>(r)], count, prefix);
        }
        if (!racers[0] || !racers[1] || WaitForMultipleObjects(2, ready, TRUE, 60000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "log_writer: round %d: the racers did not get ready (%lu)\n", round, GetLastError());
            return 1;
        }
        SetEvent(start);
        WaitForMultipleObjects(2, racers, TRUE, 60000);
        for (HANDLE racer : racers) {
            DWORD code = 1;
            GetExitCodeProcess(racer, &code);
            faults += code == 0 ? 0 : 1;
            CloseHandle(racer);
        }
        std::ifstream file(log, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (text.find("earlier") != std::string::npos) {
            std::fprintf(stderr, "log_writer: round %d: the log of the earlier cycle was not emptied\n", round);
            ++faults;
        }
        for (const char tag : tags) {
            for (int line = 0; line < count; ++line) {
                std::string expected = raceLine(tag, line);
                expected.insert(expected.size() - 1, "\r");
                if (text.find(expected) == std::string::npos) {
                    std::fprintf(stderr, "log_writer: round %d: line %d of %c lost\n", round, line, tag);
                    ++faults;
                }
            }
        }
    }
    DeleteFileA(marker.c_str());
    if (faults == 0) {
        std::printf("log_writer: %d rounds of two processes starting one log at once, every line kept\n", rounds);
    }
    return faults == 0 ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr, "usage: log_writer write NAME TAG COUNT OTHER lead|follow | check NAME TAGS COUNT | "
                         "race NAME ROUNDS COUNT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return usage();
    }
    const std::string mode = argv[1];
    const int count = argc >= 5 ? std::atoi(argv[4]) : 0;
    try {
        if (mode == "write" && argc == 7 && std::strlen(argv[3]) == 1 && std::strlen(argv[5]) == 1 && count > 0 &&
            (std::strcmp(argv[6], "lead") == 0 || std::strcmp(argv[6], "follow") == 0)) {
            return writeInTurns(argv[2], argv[3][0], count, argv[5][0], std::strcmp(argv[6], "lead") == 0);
        }
        if (mode == "check" && argc == 5 && count > 0) {
            return check(argv[2], argv[3], count);
        }
        if (mode == "race" && argc == 5 && count > 0 && std::atoi(argv[3]) > 0) {
            return raceRounds(argv[2], std::atoi(argv[3]), count);
        }
        if (mode == "racer" && argc == 6 && std::strlen(argv[3]) == 1 && count > 0) {
            return race(argv[2], argv[3][0], count, argv[5]);
        }
    } catch (const EKestException& error) {
        std::fprintf(stderr, "log_writer: %s: %s\n", mode.c_str(), error.getFirstHistoryEntry().getComment().c_str());
        return 1;
    }
    return usage();
}
