#include "testing/SessionTest.h"

namespace qel::testing {

void SessionTest::SetUp()
{
    resetModel();
}

void SessionTest::resetModel()
{
    sim::reset();
    session = sim::openSession();
}

void SessionTest::TearDown()
{
    const auto info = sim::handleInfo(session);
    EXPECT_TRUE(info && info->open && info->closeCalls == 0) << "the session was closed: it is the installer's";
    EXPECT_EQ(sim::badCloses(), 0u) << "a handle was closed twice, or one the installer never handed out was closed";
    // An error record the action never took is still the installer's.
    if (const MSIHANDLE pending = MsiGetLastErrorRecord()) {
        MsiCloseHandle(pending);
    }
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u) << "record handles left open";
    EXPECT_EQ(sim::openHandles(sim::HandleKind::database) + sim::openHandles(sim::HandleKind::view), 0u)
        << "database or view handles left open";
}

}  // namespace qel::testing
