// Base fixture of the shared tests: every case starts on a fresh backend and must end with every
// installer handle closed.
#pragma once

#include "backend/Backend.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

class SharedTest : public ::testing::Test {
protected:
    void SetUp() override { Backend::beginTest(); }
    void TearDown() override { EXPECT_EQ(Backend::endTest(), 0ul) << "installer handles left open"; }

public:
    // The path of a file in the temporary folder, as the system's calls name it (the folder is
    // the case's own), and the path under which a file stream opens it.
    static std::string tempFile(const std::string& name)
    {
        char folder[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathA(sizeof folder, folder);
        return std::string(folder, length <= MAX_PATH ? length : 0) + name;
    }
    static std::string tempStreamPath(const std::string& name) { return qelStreamPath(tempFile(name).c_str()); }
};

// Skips the rest of a case where the platform departs from the documented behaviour named.
#define QEL_SKIP_WHERE_PLATFORM_DEPARTS(documented)                                                                    \
    if (Backend::departs(documented)) {                                                                                \
        GTEST_SKIP() << "the platform departs from: " << (documented);                                                 \
    }

// Checks a platform answer against the documented one. Where the platform departs from the
// documented behaviour named, its answer is reported rather than checked: the model follows the
// documentation.
//
// keepsTo answers whether the platform keeps to it, for a call that must be left out where it does
// not (one that crashes there, say); a departure is reported.
inline bool keepsTo(const char* behaviour)
{
    if (Backend::departs(behaviour)) {
        std::cout << "[ DEPARTS ] " << behaviour << '\n';
        return false;
    }
    return true;
}

template <class Actual, class Documented>
void expectDocumented(const Actual& actual, const Documented& documented, const char* behaviour)
{
    if (Backend::departs(behaviour)) {
        std::cout << (actual == documented ? "[ AGREES  ] " : "[ DEPARTS ] ") << behaviour << '\n';
        return;
    }
    EXPECT_EQ(actual, documented) << behaviour;
}
