// The GoogleTest fixture for tests of custom actions on the platform model.
//
// Each case starts from a fresh model (sim::reset(): no handles, no faults, default tables, an
// empty temporary folder) and an open installer session, `session`, as the installer passes it to
// a custom action. The case builds its world with the steering functions of Simulation.h, calls
// the action, and reads back what the action did:
//
//     class MyActionTest : public qel::testing::SessionTest {};
//
//     TEST_F(MyActionTest, SetsTheProperty)
//     {
//         sim::setProperty(session, "INPUT", "1");
//         EXPECT_EQ(myAction(session), 0u);
//         EXPECT_EQ(sim::property(session, "OUTPUT"), "done");
//     }
//
// A case of an action of one's own package loads that package into the session rather than
// restating it: sim::loadPackage(session, "X.msi") gives it the package's tables, properties,
// directories, features and components, and sim::bindAction(session, "myEntry", &myEntry) the
// code of the DLL actions that call that entry (Simulation.h says how costing is modelled).
//
// After the case the fixture fails it when the action left something behind (sim::leftovers()): a
// record, database, view or search handle it opened and never closed (the error record the
// installer keeps for MsiGetLastErrorRecord is not the action's and does not count), a system
// message buffer it never freed, a handle closed twice or one the model never handed out, or the
// session closed, which belongs to the installer. A case that runs a table of rows starts each
// with startRow(name): at the row's end its leftovers are checked, and a failure names the row and
// points at the line that started it:
//
//     for (const Case& c : cases) {
//         const auto row = startRow(c.name);  // a fresh world; checked when the row ends
//         ...
//     }
//
// Rows started by resetModel(name) instead are checked by the resetModel() that starts the next
// (or by the fixture after the last); the failure names the row that left the things behind and
// points at the resetModel() that started it, whatever trace the next row has set.
//
// An exception of the library (EKestException) that ends a case shows its report, history and all,
// after GoogleTest's "Unknown C++ exception thrown in the test body".
#pragma once

#include "QelCustInst/Simulation.h"

#include <gtest/gtest.h>

#include <source_location>
#include <string>
#include <string_view>

namespace qel::testing {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the case's world over: a fresh model and a new session in `session`. For cases that
    // run an action several times from scratch, such as one row of a table each. What the runs
    // since the last start left behind is checked first, and blamed on the row that start began.
    void resetModel(std::source_location where = std::source_location::current());
    void resetModel(std::string_view row, std::source_location where = std::source_location::current());

    // One row of a table case: starts the world over as resetModel(row) does, traces the row's
    // failures with its name, and checks what the row left behind when it goes.
    class Row {
    public:
        Row(const Row&) = delete;
        Row& operator=(const Row&) = delete;
        ~Row();

    private:
        friend class SessionTest;
        Row(SessionTest& fixture, std::string_view name, std::source_location where);

        SessionTest& fixture;
        ::testing::ScopedTrace trace;
    };
    [[nodiscard]] Row startRow(std::string_view name, std::source_location where = std::source_location::current());

    MSIHANDLE session = 0;

private:
    // Checks what the runs since the current row began left behind, blaming that row.
    void checkRow(const char* when, const char* file, int line);

    std::string rowName;            // empty: the case itself, or a row started without a name
    std::source_location rowStart;  // where the current row began
    bool inRow = false;
};

}  // namespace qel::testing
