#include "WarnForOriginalDisk.h"

#include "NumberProperty.h"
#include "QelCustInst/actions/ActionFrame.h"
#include "QelCustInst/messages/KestMsiMessageProcessor.h"
#include "QelCustInst/msi/KestMsiBoolProperty.h"
#include "QelCustInst/msi/KestMsiRecord.h"

#include <cstdint>

namespace {

// The package's Error-table row that asks for the original disk.
constexpr int originalDiskMessage = 26002;

// UILevel: 2 none, 3 basic, 4 reduced, 5 full. A dialog of a custom action belongs to the reduced
// and full levels only; basic shows the installer's own progress and errors and nothing else.
// Higher bits, should the installer ever add any, are flags beside the level.
constexpr std::int32_t reducedUiLevel = 4;
constexpr std::int32_t uiLevelMask = 0x0F;

bool showsDialogs(KestMsiHandle& session)
{
    NumberProperty uiLevel(session, "UILevel");
    uiLevel.cacheValue();
    return (uiLevel.getValue() & uiLevelMask) >= reducedUiLevel;
}

UINT warnForOriginalDisk(KestMsiHandle& session)
{
    KestMsiBoolProperty runningFromCd(session, "PROMPT_FOR_CD1");
    runningFromCd.cacheValue();
    if (!runningFromCd.getValue() || !showsDialogs(session)) {
        return ERROR_SUCCESS;
    }
    // Field 0 stays null: the installer formats the message from its Error table.
    KestMsiRecord message(1);
    message.setIntegerField(1, originalDiskMessage);
    KestMsiMessageProcessor processor;
    const auto warning = static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_WARNING | MB_OKCANCEL);
    // A refused message is raised, and the frame fails the action: the user never saw the prompt.
    // Any other answer (OK, or 0 when nobody was asked) lets the installation go on.
    if (processor.dialogBox(session, warning, message) == IDCANCEL) {
        return ERROR_INSTALL_USEREXIT;
    }
    return ERROR_SUCCESS;
}

}  // namespace

UINT WINAPI qelWarnForOriginalDisk(MSIHANDLE session)
{
    return qel::runAction(session, "qelWarnForOriginalDisk", &warnForOriginalDisk);
}
