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
// After the case the fixture fails it when the action left an installer handle open (a record it
// made and never closed; the error record the installer keeps for MsiGetLastErrorRecord is not
// the action's and does not count), closed a handle twice or closed one the model never handed
// out, or closed the session, which belongs to the installer.
#pragma once

#include "QelCustInst/Simulation.h"

#include <gtest/gtest.h>

namespace qel::testing {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the case's world over: a fresh model and a new session in `session`. For cases that
    // run an action several times from scratch.
    void resetModel();

    MSIHANDLE session = 0;
};

}  // namespace qel::testing
