#include "WarnForOriginalDisk.h"

#include <QelCustInst/qel.h>

namespace {

// The package's Error-table row that asks for the original disk.
constexpr int originalDiskMessage = 26002;

// UILevel: 2 none, 3 basic, 4 reduced, 5 full. A dialog of a custom action belongs to the reduced
// and full levels only; basic shows the installer's own progress and errors and nothing else.
// Higher bits, should the installer ever add any, are flags beside the level.
constexpr int reducedUiLevel = 4;
constexpr int uiLevelMask = 0x0F;

void warnForOriginalDisk(KestMsiHandle& session)
{
    const bool fromCdRom = qel::property(session, "PROMPT_FOR_CD1") == "1";
    if (!fromCdRom || (qel::intProperty(session, "UILevel", 0) & uiLevelMask) < reducedUiLevel) {
        return;
    }
    // A refused message is raised, and the frame fails the action: the user never saw the prompt.
    // Cancel ends the installation as cancelled (1602); any other answer (OK, or 0 when nobody was
    // asked) lets it go on.
    qel::cancelIfAsked(qel::message(session, INSTALLMESSAGE_WARNING, qel::record(originalDiskMessage), MB_OKCANCEL));
}

}  // namespace

UINT WINAPI qelWarnForOriginalDisk(MSIHANDLE session)
{
    return qel::runAction(session, "qelWarnForOriginalDisk", &warnForOriginalDisk);
}
