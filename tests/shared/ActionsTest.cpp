#include "actions/QelCustInst.h"
#include "backend/SharedTest.h"

using ActionsTest = SharedTest;

TEST_F(ActionsTest, BothActionsCompleteOnARealSessionAndLeaveItOpen)
{
    Backend::setProperty("PROMPT_FOR_CD1", "untouched");
    EXPECT_EQ(qelAreWeRunningFromCD(Backend::session()), 0u);
    EXPECT_EQ(Backend::property("PROMPT_FOR_CD1"), "0") << "the package lies on a fixed drive";

    EXPECT_EQ(qelPromptForOriginalDisk(Backend::session()), 0u);
    EXPECT_EQ(qelAreWeRunningFromCD(Backend::session()), 0u) << "the session is still usable";
}
