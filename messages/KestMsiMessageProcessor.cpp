#include "messages/KestMsiMessageProcessor.h"

#include "errors/Raise.h"

using namespace persisting;

namespace {
constexpr const char* fileName = "KestMsiMessageProcessor";
}  // namespace

KestMsiMessageProcessor::KestMsiMessageProcessor() : failureResult(-1) {}

KestMsiMessageProcessor::~KestMsiMessageProcessor() = default;

int KestMsiMessageProcessor::dialogBox(KestMsiHandle& installation, INSTALLMESSAGE type, const EKestMsiError& error)
{
    if (error.hasErrorRecord()) {
        // The error stays an owner of its record: the record sent joins that group, so the
        // installer record is closed once, by whichever owner goes last.
        const KestMsiRecord record = KestMsiRecord::joining(error.getErrorRecord());
        return dialogBox(installation, type, record);
    }
    KestMsiRecord record(3);
    record.setIntegerField(1, error.getErrorCode());
    record.setStringField(2, error.getCaption());
    record.setStringField(3, error.getMessage());
    return dialogBox(installation, type, record);
}

int KestMsiMessageProcessor::dialogBox(KestMsiHandle& installation, INSTALLMESSAGE type, const KestMsiRecord& record)
{
    static constexpr PersistingRule rule("KestMsiMessageProcessor::dialogBox(KestMsiHandle&, INSTALLMESSAGE, const KestMsiRecord&)", fileName, none, none, checked(), noCatchAll);
    return persist(rule, [&] {
        const int result = MsiProcessMessage(installation.getMsiHandle(), type, record.getHandle().getMsiHandle());
        if (result == failureResult) {
            raiseException(rule, failedCall("MsiProcessMessage"));
        }
        return result;
    });
}

int KestMsiMessageProcessor::dialogBox(KestMsiHandle& installation, INSTALLMESSAGE type, unsigned int messageNumber)
{
    static constexpr PersistingRule rule("KestMsiMessageProcessor::dialogBox(KestMsiHandle&, INSTALLMESSAGE, const unsigned int", fileName, none, none, checkedEndsIt(), unknownExceptionWasTrapped);
    return persist(
        rule,
        [&] {
            KestMsiRecord record(1);  // field 0, the format, stays null
            record.setIntegerField(1, static_cast<int>(messageNumber));
            // A refused message answers failureResult, which is also what this method answers.
            return MsiProcessMessage(installation.getMsiHandle(), type, record.getHandle().getMsiHandle());
        },
        [&] { return failureResult; });  // the record could not be built: nothing was sent
}
