// Records of fuzzed fields: their description (dump) against the dump rules read off the fields the
// installer holds, their streams, text and integer round trips, and the installer message
// processor's three dialogBox forms carrying them to the installer.
#include "FuzzCheck.h"
#include "FuzzFields.h"
#include "Simulation.h"
#include "errors/EKestMsiError.h"
#include "messages/KestMsiMessageProcessor.h"
#include "msi/KestMsiHandle.h"
#include "msi/KestMsiRecord.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

// What dump writes after the base's lines. A stream field has no text: the description ends
// before it, and `throws` tells that stringField raised there.
std::string expectedDescription(const std::vector<sim::Field>& fields, bool& throws)
{
    throws = false;
    bool empty = true;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        empty = empty && std::holds_alternative<sim::Null>(fields[i]);
    }
    if (empty) {
        return "RECORD EMPTY\n";
    }
    // The format is read as text, whatever the field holds.
    std::string format;
    if (const int* number = std::get_if<int>(&fields[0])) {
        format = std::to_string(*number);
    } else if (const std::string* text = std::get_if<std::string>(&fields[0])) {
        format = fuzz::cutAtNul(*text);
    }
    std::string text = "RecordFormat = " + format + "\n";
    for (std::size_t i = 1; i < fields.size(); ++i) {
        std::string value;
        if (std::holds_alternative<sim::Null>(fields[i])) {
            value = "NULL";
        } else if (const int* number = std::get_if<int>(&fields[i])) {
            value = std::to_string(*number);
        } else if (const std::string* field = std::get_if<std::string>(&fields[i])) {
            const auto number = fuzz::plainInteger(*field);
            value = number ? std::to_string(*number) : fuzz::cutAtNul(*field);
        } else {
            throws = true;
            break;
        }
        text += "FieldNumber " + std::to_string(i) + " FieldValue = " + value + "\n";
    }
    return text;
}

void checkDump(MSIHANDLE handle, const KestMsiRecord& record)
{
    const std::vector<sim::Field> fields = sim::recordFields(handle);
    bool throws = false;
    const std::string expected = expectedDescription(fields, throws);
    std::ostringstream dump;
    try {
        record.dump(dump);
        fuzz::expect(!throws, "dump read a stream field as text: " + fuzz::describe(fields));
    } catch (const EKestException& error) {
        fuzz::expect(throws, "dump failed on " + fuzz::describe(fields));
        fuzz::expect(typeid(error) == typeid(EKestException), "a stream field's text leaves as an EKestException");
        fuzz::expectEqual(error.getHistory().size(), std::size_t{2}, "history of a stream field's text");
    }
    const std::string base = "ObjectHandle  = " + std::to_string(handle) + "\n";
    const std::size_t own = dump.str().find(base);
    fuzz::expect(own != std::string::npos, "dump's base lines");
    fuzz::expectEqual(dump.str().substr(own + base.size()), expected, "dump of " + fuzz::describe(fields));
}

// Every data field's stream, appended after bytes already there.
void checkStreams(const std::vector<sim::Field>& fields, const KestMsiRecord& record, FuzzedDataProvider& input)
{
    for (unsigned int i = 1; i < fields.size(); ++i) {
        const std::vector<char> before = input.ConsumeBytes<char>(2);
        std::vector<char> bytes = before;
        try {
            const bool found = record.getStreamField(i, bytes);
            const sim::Stream* stream = std::get_if<sim::Stream>(&fields[i]);
            fuzz::expectEqual(found, stream != nullptr, "getStreamField of field " + std::to_string(i));
            std::vector<char> expected = before;
            if (stream) {
                expected.insert(expected.end(), stream->bytes.begin(), stream->bytes.end());
            }
            fuzz::expect(bytes == expected, "getStreamField appends the stream after what was there");
        } catch (const EKestException& error) {
            fuzz::expect(std::holds_alternative<sim::Null>(fields[i]), "getStreamField failed on a field holding data");
            fuzz::expect(typeid(error) == typeid(EKestWinError), "a null field's stream leaves as an EKestWinError");
            fuzz::expect(bytes == before, "a failed getStreamField appends nothing");
        }
    }
}

void checkRoundTrips(KestMsiRecord& record, unsigned int count, FuzzedDataProvider& input)
{
    const unsigned int field = input.ConsumeIntegralInRange(1u, count + 1);
    const std::string text = input.ConsumeRandomLengthString(32);
    const int number = input.ConsumeIntegral<int>();
    try {
        record.setStringField(field, text);
        fuzz::expect(field <= count, "setStringField beyond the field count succeeded");
        fuzz::expectEqual(std::string(record.stringField(field)), fuzz::cutAtNul(text),
                          "stringField after setStringField");
        record.setIntegerField(field, number);
        if (number == INT_MIN) {
            fuzz::expect(!record.isIntegerField(field) && record.isNullField(field),
                         "MSI_NULL_INTEGER nulls the field");
        } else {
            fuzz::expectEqual(record.integerField(field), number, "integerField after setIntegerField");
        }
    } catch (const EKestException& error) {
        fuzz::expect(field > count || number == INT_MIN, "a round trip failed inside the record");
        if (field > count) {
            fuzz::expect(typeid(error) == typeid(EKestWinError), "setStringField beyond the count: EKestWinError");
            fuzz::expectEqual(error.getErrorCode(), ERROR_INVALID_PARAMETER, "setStringField beyond the count");
        }
    }
}

// The three forms of dialogBox, with the installer answering as the input says.
void checkDialogBoxes(const KestMsiRecord& record, MSIHANDLE handle, FuzzedDataProvider& input)
{
    KestMsiHandle installation(sim::openSession(), true);
    KestMsiMessageProcessor processor;
    const int answer = input.PickValueInArray<int>({IDOK, 0, -1, IDCANCEL, input.ConsumeIntegral<int>()});
    sim::setProcessMessageResult(answer);
    const auto type = static_cast<INSTALLMESSAGE>(input.PickValueInArray<unsigned>(
        {INSTALLMESSAGE_INFO, INSTALLMESSAGE_ERROR, INSTALLMESSAGE_WARNING, INSTALLMESSAGE_USER}));

    const std::vector<sim::Field> fields = sim::recordFields(handle);
    try {
        fuzz::expectEqual(processor.dialogBox(installation, type, record), answer, "dialogBox with a record answers");
        fuzz::expect(answer != -1, "a refused record message was not raised");
    } catch (const EKestException& error) {
        fuzz::expect(answer == -1, "dialogBox with a record failed over an accepted message");
        fuzz::expect(typeid(error) == typeid(EKestException), "a refused record message leaves as an EKestException");
        fuzz::expectEqual(error.getHistory().size(), std::size_t{1}, "history of a refused record message");
    }
    fuzz::expectFields(sim::messages().back().fields, fields, "the record as sent");
    fuzz::expectFields(sim::recordFields(handle), fields, "the record after sending it");

    const unsigned int number = input.ConsumeIntegral<unsigned int>();
    fuzz::expectEqual(processor.dialogBox(installation, type, number), answer, "dialogBox with a number answers");
    const std::vector<sim::Field> numbered{
        sim::Null{}, number == MSI_NULL_INTEGER ? sim::Field(sim::Null{}) : sim::Field(static_cast<int>(number))};
    fuzz::expectFields(sim::messages().back().fields, numbered, "the message number as sent");

    // An installer error: its own error record when the installer left one (codes 1000 to 1999),
    // else its code, caption and message.
    const int code = input.ConsumeIntegralInRange(900, 2100);
    const bool pending = code >= 1000 && code <= 1999 && input.ConsumeBool();
    // As the installer holds them: an empty text is a null field.
    const std::vector<sim::Field> errorFields =
        pending ? sim::recordFields(sim::setPendingErrorRecord(fuzz::consumeFields(input, 4)))
                : std::vector<sim::Field>{};
    const EKestMsiError error(code, "fuzz", "RecordFuzz", 1, "Function Failed: MsiDoAction()");
    try {
        fuzz::expectEqual(processor.dialogBox(installation, type, error), answer, "dialogBox with an error answers");
    } catch (const EKestException& raised) {
        fuzz::expect(answer == -1, "dialogBox with an error failed over an accepted message");
    }
    const std::vector<sim::Field> expected =
        pending ? sim::recordFields(error.getErrorRecord().getMsiHandle())
                : std::vector<sim::Field>{sim::Null{}, code, fuzz::textField(error.getCaption()),
                                          fuzz::textField(error.getMessage())};
    if (pending) {
        fuzz::expectFields(expected, errorFields, "the installer's error record kept as it was");
    }
    fuzz::expectFields(sim::messages().back().fields, expected, "the error as sent");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    sim::reset();
    sim::setDoubledMoreDataLength(input.ConsumeBool());
    const std::vector<sim::Field> fields = fuzz::consumeFields(input, 6);
    const MSIHANDLE handle = sim::makeRecord(fields);
    {
        KestMsiRecord record(KestMsiHandle(handle, true));
        fuzz::expectEqual(record.fieldCount(), static_cast<unsigned>(fields.size() - 1), "fieldCount");
        checkDump(handle, record);
        checkStreams(sim::recordFields(handle), record, input);
        checkDialogBoxes(record, handle, input);
        checkRoundTrips(record, record.fieldCount(), input);
    }
    fuzz::expect(!sim::handleInfo(handle)->open, "the record's handle stays open after the record went");
    fuzz::expectNothingLeft(0);
    return 0;
}
