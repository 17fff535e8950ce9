// The frame every exported action runs in.
#pragma once

#include "../msi/KestMsiHandle.h"
#include "QelCustInst/QelPlatform.h"

namespace qel {

// What an action does with the installation it was called for.
using ActionSteps = void (*)(KestMsiHandle& session);

// Wraps the session handle as borrowed (the installer owns it), runs the steps and answers 0.
// An exception that ends the steps early never leaves the library: it is reported to the
// installer's log as an informational message (the action's name and the exception with its
// history) and the action answers ERROR_INSTALL_FAILURE, so the installation stops instead of
// going on with a property the action never set. When that report cannot be made (memory has run
// out) or the installer refuses it, a line of fixed text naming the action takes its place; the
// installer is asked twice at most. An exception from outside the library's family is reported
// in one such line, with its what() text when it is a std::exception.
UINT runAction(MSIHANDLE session, const char* actionName, ActionSteps steps) noexcept;

// Steps that choose the action's answer themselves, such as ERROR_INSTALL_USEREXIT (1602) when the
// user cancelled at a prompt of the action.
using AnsweringSteps = UINT (*)(KestMsiHandle& session);

// As above, but a run of the steps to their end answers what they returned.
UINT runAction(MSIHANDLE session, const char* actionName, AnsweringSteps steps) noexcept;

// A cancel is a cancel: the frame answers ERROR_INSTALL_USEREXIT (1602), never 1603, when the
// steps end on one, so the installer tells the user the installation was cancelled rather than
// that it failed. The steps end on a cancel by returning 1602 (the answering form), by throwing
// UserCancelled (cancelIfAsked does), or by a refused installer call that answered 1602 (an action
// run by MsiDoAction that the user cancelled, say): its report still goes to the log.
struct UserCancelled {};

// The user's answer to a message or a progress step, as it is; IDCANCEL throws UserCancelled.
//     qel::cancelIfAsked(qel::reportProgress(session, ticks));
int cancelIfAsked(int answer);

}  // namespace qel
