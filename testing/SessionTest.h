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
// session closed, which belongs to the installer. A case that runs a table of rows, each from
// resetModel(), has each row's leftovers checked by the resetModel() that starts the next. The
// failures point at the case, or at the resetModel() call.
//
// An exception of the library (EKestException) that ends a case shows its report, history and all,
// after GoogleTest's "Unknown C++ exception thrown in the test body".
#pragma once

#include "QelCustInst/Simulation.h"

#include <gtest/gtest.h>

#include <source_location>

namespace qel::testing {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the case's world over: a fresh model and a new session in `session`. For cases that
    // run an action several times from scratch, such as one row of a table each. What the runs
    // since the last start left behind is checked first.
    void resetModel(std::source_location where = std::source_location::current());

    MSIHANDLE session = 0;
};

}  // namespace qel::testing
