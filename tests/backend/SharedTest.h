// Base fixture of the shared tests: every case starts on a fresh backend and must end with every
// installer handle closed.
#pragma once

#include "backend/Backend.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

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

    // A new record of these fields: "#N" the integer N, "" a null, any other the text.
    static MSIHANDLE record(const std::vector<std::string>& fields)
    {
        const MSIHANDLE made = MsiCreateRecord(static_cast<UINT>(fields.size()));
        UINT field = 0;
        for (const std::string& text : fields) {
            ++field;
            if (text.size() > 1 && text[0] == '#') {
                MsiRecordSetInteger(made, field, std::stoi(text.substr(1)));
            } else {
                MsiRecordSetStringA(made, field, text.c_str());
            }
        }
        return made;
    }

    // Fields 1 to the count of a record as their texts, joined by '|' ("" for a null).
    static std::string rowText(MSIHANDLE record)
    {
        std::string row;
        const UINT count = MsiRecordGetFieldCount(record);
        for (UINT field = 1; field <= count && count != static_cast<UINT>(-1); ++field) {
            char text[512] = "";
            DWORD size = sizeof text;
            MsiRecordGetStringA(record, field, text, &size);
            row += (field > 1 ? "|" : "") + std::string(text, size < sizeof text ? size : 0);
        }
        return row;
    }
};

// A documented behaviour and a platform that departs from it meet in three ways:
//
// - expectDocumented checks an answer: the documented one where the platform keeps to the
//   behaviour, any other where it is known to depart (it is then reported, one line). A listed
//   departure that the platform no longer makes fails the case, so the list stays true.
// - keepsTo guards a call that crashes where the platform departs: false there (reported), the
//   call is left out. Only a departure marked as crashing may be left out so.
// - QEL_SKIP_WHERE_PLATFORM_DEPARTS skips a library case that rests on the behaviour; the
//   behaviour itself is checked with expectDocumented in a contract case.

inline void reportDeparture(const Documented& behaviour, const char* note = "")
{
    std::cout << "[ DEPARTS ] " << behaviour.text << note << '\n';
}

template <class Actual, class Expected>
void expectDocumented(const Actual& actual, const Expected& documented, const Documented& behaviour)
{
    if (!Backend::departs(behaviour)) {
        EXPECT_EQ(actual, documented) << behaviour.text;
        return;
    }
    EXPECT_NE(actual, documented) << "the platform now keeps to: " << behaviour.text
                                  << "\n(remove it from the departures of the platform's backend)";
    if (!(actual == documented)) {
        reportDeparture(behaviour);
    }
}

inline bool keepsTo(const Documented& behaviour)
{
    if (!Backend::departs(behaviour)) {
        return true;
    }
    EXPECT_TRUE(behaviour.departureCrashes)
        << "a departure that does not crash is checked with expectDocumented: " << behaviour.text;
    reportDeparture(behaviour, " (not called: it crashes there)");
    return false;
}

#define QEL_SKIP_WHERE_PLATFORM_DEPARTS(behaviour)                                                                     \
    if (Backend::departs(behaviour)) {                                                                                 \
        GTEST_SKIP() << "the platform departs from: " << (behaviour).text;                                             \
    }
