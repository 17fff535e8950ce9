// The exported actions in fuzzed installer states: INSTALLDIR's paths (or no INSTALLDIR), the
// drives, the property's old text, the code page, a pending installer error record and one refused
// platform call. Each run must answer 0 with its effect done, or 1603 with PROMPT_FOR_CD1 untouched
// and a report naming the action in the installer's log, and leave nothing of the platform behind.
#include "FuzzCheck.h"
#include "FuzzFields.h"
#include "Simulation.h"
#include "actions/QelCustInst.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

// The calls a fault may hit. Closing and freeing are left alone: refusing them leaves handles and
// buffers the model then counts as leaked.
constexpr std::array<const char*, 13> faultable{
    "GetVolumePathNameA", "MsiGetTargetPathA",   "MsiGetSourcePathA", "GetDriveTypeA",       "MsiSetPropertyA",
    "MsiCreateRecord",    "MsiRecordSetStringA", "MsiProcessMessage", "MsiRecordSetInteger", "MsiGetLastErrorRecord",
    "FormatMessageA",     "GetLastError",        "IsDBCSLeadByte"};

struct Fault {
    std::string function;
    int nth;
    std::int64_t result;
};

// The calls that build a message and carry it to the installer: refusing one leaves the message
// unsent. Any other refusal must leave the prompt's message, or a failed action's report, whole.
bool onTheMessagePath(const std::optional<Fault>& fault)
{
    return fault && (fault->function == "MsiCreateRecord" || fault->function == "MsiRecordSetStringA" ||
                     fault->function == "MsiRecordSetInteger" || fault->function == "MsiProcessMessage");
}

std::optional<Fault> armFault(FuzzedDataProvider& input)
{
    if (!input.ConsumeBool()) {
        return std::nullopt;
    }
    Fault fault{faultable[input.ConsumeIntegralInRange<std::size_t>(0, faultable.size() - 1)],
                input.ConsumeIntegralInRange(1, 3),
                input.PickValueInArray<std::int64_t>({0, 1, DRIVE_CDROM, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER,
                                                      ERROR_MORE_DATA, ERROR_DIRECTORY, 1627, -1,
                                                      input.ConsumeIntegral<std::int32_t>()})};
    // Plausible failures only: a handle, buffer or path call fails with 0 alone, and an installer call
    // that answers success has done its work. Answers that are data may be anything.
    const std::string& function = fault.function;
    if (function == "MsiCreateRecord" || function == "MsiGetLastErrorRecord" || function == "FormatMessageA" ||
        function == "GetVolumePathNameA") {
        fault.result = 0;
    } else if (function.starts_with("Msi") && function != "MsiProcessMessage" && fault.result == 0) {
        fault.result = ERROR_FUNCTION_FAILED;
    }
    fuzz::setting() += "  fault: call " + std::to_string(fault.nth) + " of " + fault.function + " answers " +
                       std::to_string(fault.result) + "\n";
    sim::failCall(fault.function, fault.nth, fault.result, input.ConsumeIntegral<DWORD>());
    return fault;
}

bool fired(const std::optional<Fault>& fault, const char* function)
{
    return fault && fault->function == function && sim::calls(function) >= static_cast<std::size_t>(fault->nth);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    sim::reset();
    fuzz::setting().clear();
    sim::setCodePage(input.ConsumeBool() ? 932 : 1252);
    sim::setDoubledMoreDataLength(input.ConsumeBool());
    const MSIHANDLE session = sim::openSession();

    const bool installDir = input.ConsumeBool();
    std::string source;
    if (installDir) {
        // Paths in ASCII: the model keeps texts in UTF-8, and a byte that is no UTF-8 reads as '?'
        // through the ANSI calls, which sends the action to the wide ones this target's faults do
        // not follow. Paths in other scripts have their own cases (the sweep's Cyrillic worlds).
        const auto path = [&] {
            std::string made = input.ConsumeRandomLengthString(64);
            for (char& c : made) {
                c = static_cast<char>(c & 0x7F);
            }
            return made;
        };
        const std::string target = path();
        source = path();
        sim::setDirectory(session, "INSTALLDIR", target, source);
    }
    for (int drive = input.ConsumeIntegralInRange(0, 2); drive > 0; --drive) {
        sim::setDrive(input.PickValueInArray<std::string>({"D:\\", "E:\\", "\\\\server\\share\\", "c:\\"}),
                      input.ConsumeIntegralInRange<UINT>(DRIVE_UNKNOWN, DRIVE_RAMDISK));
    }
    sim::setProperty(session, "PROMPT_FOR_CD1", input.ConsumeRandomLengthString(8));
    const std::string before = sim::property(session, "PROMPT_FOR_CD1");
    const MSIHANDLE pending = input.ConsumeBool() ? sim::setPendingErrorRecord(fuzz::consumeFields(input, 3)) : 0;
    const bool runningFromCd = input.ConsumeBool();
    fuzz::setting() += std::string("  action: ") +
                       (runningFromCd ? "qelAreWeRunningFromCD" : "qelPromptForOriginalDisk") +
                       (installDir ? ", source \"" + fuzz::visible(source) + "\"" : ", no INSTALLDIR") +
                       (pending ? ", an installer error record pending\n" : "\n");
    const std::optional<Fault> fault = armFault(input);

    const UINT result = runningFromCd ? qelAreWeRunningFromCD(session) : qelPromptForOriginalDisk(session);
    const auto& messages = sim::messages();

    if (runningFromCd) {
        fuzz::expect(result == ERROR_SUCCESS || result == ERROR_INSTALL_FAILURE, "the action answers 0 or 1603");
        const std::string after = sim::property(session, "PROMPT_FOR_CD1");
        if (!fault) {
            fuzz::expectEqual(result, installDir ? UINT{ERROR_SUCCESS} : UINT{ERROR_INSTALL_FAILURE},
                              "the action's answer without a fault");
        }
        if (result == ERROR_SUCCESS) {
            fuzz::expect(messages.empty(), "a succeeding action reports nothing");
            // The drive type the action was given: the refused answer, or the model's answer for
            // the root the action asked about.
            fuzz::expectEqual(sim::driveTypeQueries().size(), std::size_t{1}, "drive type queries");
            const std::string root = sim::driveTypeQueries().front();  // a copy: asking again adds to the list
            // A fault on a later call of GetDriveTypeA is still armed: asking again would meet it.
            const bool armed = fault && fault->function == "GetDriveTypeA";
            if (!armed || fault->nth == 1) {
                const UINT driveType = armed ? static_cast<UINT>(fault->result) : GetDriveTypeA(root.c_str());
                fuzz::expectEqual(after, std::string(driveType == DRIVE_CDROM ? "1" : "0"),
                                  "PROMPT_FOR_CD1 for the source \"" + fuzz::visible(source) + "\"");
            }
        } else {
            fuzz::expectEqual(after, before, "a failed action leaves PROMPT_FOR_CD1");
            if (!onTheMessagePath(fault)) {
                fuzz::expectEqual(messages.size(), std::size_t{1}, "a failed action reports once");
            }
            fuzz::expect(messages.size() <= 1, "a failed action reports at most once");
            if (!messages.empty() && !onTheMessagePath(fault)) {
                const sim::Message& report = messages.front();
                fuzz::expect(report.type == INSTALLMESSAGE_INFO && report.fields.size() == 2 &&
                                 report.fields[0] == sim::Field(std::string("[1]")),
                             "the report travels as field 1 under the template [1]: " + fuzz::describe(report.fields));
                const std::string* text = std::get_if<std::string>(&report.fields[1]);
                fuzz::expect(text && text->starts_with("qelAreWeRunningFromCD: "),
                             "the report names the action: " + fuzz::describe(report.fields));
            }
        }
    } else {
        fuzz::expectEqual(result, UINT{ERROR_SUCCESS}, "the prompt answers 0 whatever the installer does");
        fuzz::expectEqual(sim::property(session, "PROMPT_FOR_CD1"), before, "the prompt leaves PROMPT_FOR_CD1");
        if (!onTheMessagePath(fault)) {
            fuzz::expectEqual(messages.size(), std::size_t{1}, "the prompt sends its message");
        }
        fuzz::expect(messages.size() <= 1, "the prompt sends at most one message");
        if (!messages.empty() && !onTheMessagePath(fault)) {
            fuzz::expect(messages.front().type == INSTALLMESSAGE_INFO, "the prompt is informational");
            fuzz::expectFields(messages.front().fields, {sim::Null{}, 26002}, "the prompt's record");
        }
    }

    // A pending error record the library never took stays the installer's.
    const std::size_t taken = sim::calls("MsiGetLastErrorRecord") - (fired(fault, "MsiGetLastErrorRecord") ? 1 : 0);
    if (pending != 0 && taken == 0) {
        fuzz::expect(sim::handleInfo(pending)->open, "an error record never handed over was closed");
        MsiCloseHandle(pending);
    }
    fuzz::expectNothingLeft(session);
    return 0;
}
