// The message processor over fuzzed texts and exceptions: every log write, exception report and
// message box of a run, against the log's line layouts and the boxes' texts built by hand. The
// fuzzed texts only ever travel as arguments, never as formats.
#include "FuzzCheck.h"
#include "FuzzFields.h"
#include "Simulation.h"
#include "errors/EKestException.h"
#include "errors/EKestMsiError.h"
#include "errors/EKestWinError.h"
#include "messages/KestMessageProcessor.h"
#include "text/Unicode.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::string context, fileName, comment;
    int line;
};

std::string text(FuzzedDataProvider& input)
{
    return input.ConsumeRandomLengthString(40);
}

// An exception of one of the three classes the library raises, with fuzzed texts and history;
// `history` gets the entries it must report.
std::unique_ptr<EKestException> consumeException(FuzzedDataProvider& input, std::vector<Entry>& history)
{
    const Entry raise{text(input), text(input), text(input), input.ConsumeIntegral<int>()};
    history.push_back(raise);
    std::unique_ptr<EKestException> error;
    switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
        error = std::make_unique<EKestException>(raise.context, raise.fileName, raise.line, raise.comment);
        break;
    case 1:
        error = std::make_unique<EKestWinError>(input.ConsumeIntegral<int>(), raise.context, raise.fileName, raise.line,
                                                raise.comment);
        break;
    default: {
        const int code = input.ConsumeIntegralInRange(1000, 1999);
        if (input.ConsumeBool()) {
            sim::setPendingErrorRecord(fuzz::consumeFields(input, 3));
        }
        error = std::make_unique<EKestMsiError>(code, raise.context, raise.fileName, raise.line, raise.comment);
        break;
    }
    }
    if (input.ConsumeBool()) {
        const int code = input.ConsumeIntegral<int>();
        error->setErrorCode(code);
        fuzz::expectEqual(error->getErrorCode(), code, "getErrorCode after setErrorCode");
    }
    if (input.ConsumeBool()) {
        const std::string message = text(input);
        error->setMessage(message);
        fuzz::expectEqual(fuzz::cutAtNul(error->getMessage()), fuzz::cutAtNul(message), "getMessage after setMessage");
    }
    if (input.ConsumeBool()) {
        const std::string caption = text(input);
        error->setCaption(caption);
        fuzz::expectEqual(fuzz::cutAtNul(error->getCaption()), fuzz::cutAtNul(caption), "getCaption after setCaption");
    }
    for (int more = input.ConsumeIntegralInRange(0, 3); more > 0; --more) {
        const Entry entry{text(input), text(input), text(input), input.ConsumeIntegral<int>()};
        error->addHistoryEntry(entry.context, entry.fileName, entry.line, entry.comment);
        history.push_back(entry);
    }
    return error;
}

std::string report(const EKestException& error, const std::vector<Entry>& history)
{
    using fuzz::cutAtNul;
    std::string lines = "Error: " + std::to_string(error.getErrorCode()) + ". " + cutAtNul(error.getCaption()) + ". " +
                        cutAtNul(error.getMessage()) + ".\nHISTORY:\n";
    for (const Entry& entry : history) {
        lines += "\tT: " + cutAtNul(entry.context) + ", F: " + cutAtNul(entry.fileName) +
                 ", L: " + std::to_string(entry.line) + ", C: " + cutAtNul(entry.comment) + "\n";
    }
    return lines;
}

struct Box {
    std::string text, caption;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    sim::reset();
    std::vector<int> answers;
    for (int answer = input.ConsumeIntegralInRange(0, 3); answer > 0; --answer) {
        answers.push_back(input.ConsumeIntegral<int>());
    }
    sim::scriptMessageBoxAnswers(answers);

    std::vector<Entry> history;
    std::unique_ptr<EKestException> error = consumeException(input, history);
    const std::string errorReport = report(*error, history);
    const HWND owner = input.ConsumeBool() ? nullptr : reinterpret_cast<HWND>(std::uintptr_t{0x10010});
    const UINT type = input.ConsumeIntegral<UINT>();

    std::ostringstream log;
    std::string expectedLog;
    std::vector<Box> expectedBoxes;
    std::size_t boxes = 0;
    auto nextAnswer = [&] { return boxes < answers.size() ? answers[boxes++] : (++boxes, IDOK); };
    {
        KestMessageProcessor processor;
        processor.initialize(log);
        for (int step = input.ConsumeIntegralInRange(1, 6); step > 0; --step) {
            const std::string t = text(input);
            const std::string shown = fuzz::cutAtNul(t);
            switch (input.ConsumeIntegralInRange(0, 4)) {
            case 0:
                fuzz::expect(processor.logMessage(*error), "logMessage answers true");
                expectedLog += errorReport;
                break;
            case 1:
                fuzz::expect(processor.writeLog("%s", t.c_str()), "writeLog answers true");
                expectedLog += shown;
                break;
            case 2: {
                const int number = input.ConsumeIntegral<int>();
                fuzz::expect(processor.logMessage("%s: %d%%\n", t.c_str(), number), "logMessage answers true");
                expectedLog += shown + ": " + std::to_string(number) + "%\n";
                break;
            }
            case 3: {
                const KestCString caption = text(input);
                const int answer = nextAnswer();
                fuzz::expectEqual(processor.messageBox(owner, caption, type, "%s", t.c_str()), answer,
                                  "messageBox answers what the box answered");
                expectedBoxes.push_back({shown, fuzz::cutAtNul(caption)});
                expectedLog += "MSGBOX >>> " + shown + ". RESULT = " + std::to_string(answer) + ".\n";
                break;
            }
            default: {
                const int answer = nextAnswer();
                fuzz::expectEqual(processor.messageBox(owner, type, *error), answer,
                                  "messageBox with an exception answers what the box answered");
                const std::string boxText =
                    "Error: " + std::to_string(error->getErrorCode()) + ". " + fuzz::cutAtNul(error->getMessage());
                expectedBoxes.push_back({boxText, fuzz::cutAtNul(error->getCaption())});
                expectedLog += errorReport + "MSGBOX >>> " + boxText + ". RESULT = " + std::to_string(answer) + ".\n";
                break;
            }
            }
        }
    }
    fuzz::expectEqual(log.str(), expectedLog, "the log");
    const auto& shownBoxes = sim::messageBoxes();
    fuzz::expectEqual(shownBoxes.size(), expectedBoxes.size(), "message boxes shown");
    for (std::size_t i = 0; i < shownBoxes.size(); ++i) {
        // The model shows what MessageBoxA was given in Unicode, as UTF-8: the code page's text converted.
        fuzz::expectEqual(shownBoxes[i].text, qel::fromAnsi(expectedBoxes[i].text), "box text");
        fuzz::expectEqual(shownBoxes[i].caption, qel::fromAnsi(expectedBoxes[i].caption), "box caption");
        fuzz::expect(shownBoxes[i].owner == owner && shownBoxes[i].type == type, "box owner and type passed unchanged");
    }
    error.reset();  // with the installer's error record it may own
    fuzz::expectNothingLeft(0);
    return 0;
}
