// A small program on the framework for checking, under Wine, that processes sharing one log keep
// every byte of each other's text. Run as:
//
//   log_writer write NAME TAG COUNT OTHER lead|follow
//       a processor of the log NAME in the temporary folder writes COUNT texts of TAG letters,
//       taking turns with the process of the tag OTHER: the lead starts the log cycle, the
//       follower joins it; then the two write in turn, and in the end each closes its log in turn
//   log_writer check NAME TAGS COUNT   the log holds every text of every TAG, each "\n" as CR LF
//   log_writer end NAME                the cycle ends
//
// Texts alternate between short ones and ones longer than any stream buffer, each a run of its
// letter ending in "\n". Turns are named events, so that both processes hold the log open at once
// while their writes never overlap. Exits 0 when all is well, 1 otherwise (the reason on stderr),
// 2 for bad arguments.
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

int endCycle(const char* name)
{
    KestMessageProcessor processor;
    processor.initialize(name);
    processor.uninitialize();
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
    std::size_t switches = 0;  // from one writer's letter to another's: how much they interleaved
    char last = 0;
    for (const char c : log) {
        if (c != '\r' && c != '\n') {
            switches += last != 0 && c != last ? 1 : 0;
            last = c;
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
    std::printf("log_writer: %zu bytes, %zu lines from %zu processes, %zu changes of writer\n", log.size(), pairs,
                std::strlen(tags), switches);
    return faults == 0 ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: log_writer write NAME TAG COUNT OTHER lead|follow | check NAME TAGS COUNT | end NAME\n");
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
        if (mode == "end" && argc == 3) {
            return endCycle(argv[2]);
        }
        if (mode == "write" && argc == 7 && std::strlen(argv[3]) == 1 && std::strlen(argv[5]) == 1 && count > 0 &&
            (std::strcmp(argv[6], "lead") == 0 || std::strcmp(argv[6], "follow") == 0)) {
            return writeInTurns(argv[2], argv[3][0], count, argv[5][0], std::strcmp(argv[6], "lead") == 0);
        }
        if (mode == "check" && argc == 5 && count > 0) {
            return check(argv[2], argv[3], count);
        }
    } catch (const EKestException& error) {
        std::fprintf(stderr, "log_writer: %s: %s\n", mode.c_str(), error.getFirstHistoryEntry().getComment().c_str());
        return 1;
    }
    return usage();
}
