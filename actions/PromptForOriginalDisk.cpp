#include "actions/ActionFrame.h"
#include "actions/QelCustInst.h"
#include "messages/KestMsiMessageProcessor.h"

namespace {

// The package's Error-table row that asks for the original disk.
constexpr unsigned int originalDiskMessage = 26002;

void promptForOriginalDisk(KestMsiHandle& session)
{
    // Never initialized: the processor touches no file, it only talks to the installer.
    KestMsiMessageProcessor processor;
    processor.dialogBox(session, INSTALLMESSAGE_INFO, originalDiskMessage);  // the answer does not matter
}

}  // namespace

UINT WINAPI qelPromptForOriginalDisk(MSIHANDLE session)
{
    return qel::runAction(session, "qelPromptForOriginalDisk", &promptForOriginalDisk);
}
