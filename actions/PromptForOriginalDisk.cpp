#include "actions/ActionFrame.h"
#include "actions/QelCustInst.h"

namespace {

void promptForOriginalDisk(const KestMsiHandle&) {}

}  // namespace

UINT WINAPI qelPromptForOriginalDisk(MSIHANDLE session)
{
    return qel::runAction(session, "qelPromptForOriginalDisk", &promptForOriginalDisk);
}
