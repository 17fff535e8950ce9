#include "msi/KestMsiHandle.h"
#include "SimTest.h"

#include <memory>

class HandleTest : public SimTest {
protected:
    bool isOpen(MSIHANDLE handle) const { return sim::handleInfo(handle)->open; }
    int closeCalls(MSIHANDLE handle) const { return sim::handleInfo(handle)->closeCalls; }
};

TEST_F(HandleTest, AGroupIsClosedExactlyOnceByItsLastMember)
{
    const MSIHANDLE record = sim::makeRecord({sim::Null{}});
    auto first = std::make_unique<KestMsiHandle>(record, false);
    auto second = std::make_unique<KestMsiHandle>(*first);
    auto third = std::make_unique<KestMsiHandle>(*second);
    EXPECT_EQ(third->getHandleCount(), 3);

    first.reset();
    third.reset();
    EXPECT_TRUE(isOpen(record));
    EXPECT_EQ(second->getHandleCount(), 1);

    second.reset();
    EXPECT_FALSE(isOpen(record));
    EXPECT_EQ(closeCalls(record), 1);
    EXPECT_EQ(sim::badCloses(), 0u);
}

TEST_F(HandleTest, ABorrowedGroupNeverClosesItsHandle)
{
    const MSIHANDLE session = sim::openSession();
    {
        const KestMsiHandle wrapped(session, true);
        KestMsiHandle copy(wrapped);
        KestMsiHandle assigned;
        assigned = copy;
        EXPECT_TRUE(assigned.isBorrowed());
        EXPECT_EQ(wrapped.getHandleCount(), 3);
    }
    EXPECT_TRUE(isOpen(session));
    EXPECT_EQ(closeCalls(session), 0);
}

TEST_F(HandleTest, AssignmentWithinAGroupLeavesTheCounterAlone)
{
    const MSIHANDLE record = sim::makeRecord({sim::Null{}});
    KestMsiHandle first(record, false);
    KestMsiHandle second(first);

    auto& self = first;
    first = self;
    EXPECT_EQ(first.getMsiHandle(), record);
    EXPECT_EQ(first.getHandleCount(), 2);
    EXPECT_FALSE(first.isBorrowed());

    second = first;
    EXPECT_EQ(first.getHandleCount(), 2);
    EXPECT_TRUE(isOpen(record));
}

TEST_F(HandleTest, AssignmentAcrossGroupsReleasesTheOldGroupFirst)
{
    const MSIHANDLE oldRecord = sim::makeRecord({sim::Null{}});
    const MSIHANDLE newRecord = sim::makeRecord({sim::Null{}});
    KestMsiHandle target(oldRecord, false);
    const KestMsiHandle source(newRecord, false);

    target = source;
    EXPECT_FALSE(isOpen(oldRecord)) << "the target was the old group's last member";
    EXPECT_EQ(target.getMsiHandle(), newRecord);
    EXPECT_EQ(source.getHandleCount(), 2);
    EXPECT_FALSE(target.isBorrowed());
}

TEST_F(HandleTest, AnEmptyHandleEndsWithAHarmlessCloseOfZero)
{
    {
        const KestMsiHandle empty;
        EXPECT_EQ(empty.getMsiHandle(), 0u);
        EXPECT_EQ(empty.getHandleCount(), 1);
    }
    EXPECT_EQ(sim::calls("MsiCloseHandle"), 1u);
    EXPECT_EQ(sim::badCloses(), 0u);
}
