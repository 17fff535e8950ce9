// The message processor that hands its messages to the running installation instead of showing
// them itself: each message travels as an installer record through MsiProcessMessage.
#pragma once

#include "../errors/EKestMsiError.h"
#include "../messages/KestMessageProcessor.h"
#include "../msi/KestMsiHandle.h"
#include "../msi/KestMsiRecord.h"
#include "QelCustInst/QelPlatform.h"

class KestMsiMessageProcessor : public KestMessageProcessor {
public:
    KestMsiMessageProcessor();
    ~KestMsiMessageProcessor() override;

    // Sends the error: the installer's own error record when the error holds one, else a record of
    // its code (field 1), caption (2) and message (3). Failures of the installer reach the caller.
    virtual int dialogBox(KestMsiHandle& installation, INSTALLMESSAGE type, const EKestMsiError& error);
    // Sends the record as it is. A refused message is raised as an EKestException.
    virtual int dialogBox(KestMsiHandle& installation, INSTALLMESSAGE type, const KestMsiRecord& record);
    // Sends a one-field record holding the message number, for the installer to format from the
    // package's Error table. A refused message, or a record that could not be built, answers -1;
    // only an exception from outside the library's family leaves, as an EKestException.
    virtual int dialogBox(KestMsiHandle& installation, INSTALLMESSAGE type, unsigned int messageNumber);

private:
    // The MsiProcessMessage answer that means failure; every other answer is the caller's.
    int failureResult;
};
