// The bool property's number reading: a fuzzed property text through cacheValue, against the rule
// that the value is true exactly when the leading decimal number, wrapped to 32 bits, is not zero;
// with the installer refusing the reads now and then, which must leave the cached value alone.
#include "FuzzCheck.h"
#include "Simulation.h"
#include "errors/EKestWinError.h"
#include "msi/KestMsiBoolProperty.h"
#include "msi/KestMsiHandle.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <typeinfo>

namespace {

// Leading blanks (as the C locale has them), one sign, then digits; a number wraps to 32 bits, and
// wrapping or negating never turns a nonzero value into zero or back, so only the digits matter.
bool startsWithNonZero(const std::string& text)
{
    std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos) {
        return false;
    }
    if (text[at] == '+' || text[at] == '-') {
        ++at;
    }
    std::uint64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = (value * 10 + static_cast<std::uint64_t>(text[at] - '0')) & 0xFFFFFFFFu;
    }
    return value != 0;
}

constexpr const char* propertyName = "PROMPT_FOR_CD1";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    sim::reset();
    const MSIHANDLE session = sim::openSession();
    const std::string text = input.ConsumeRandomLengthString(64);
    sim::setProperty(session, propertyName, text);
    sim::setDoubledMoreDataLength(input.ConsumeBool());

    // The first call only measures, and its answer is not looked at: when it fails the text must
    // still fit the one byte the second call is given. A refused second call always fails.
    bool expectFailure = false;
    switch (input.ConsumeIntegralInRange(0, 2)) {
    case 1:
        sim::failCall("MsiGetPropertyA", 1, ERROR_INVALID_HANDLE);
        expectFailure = !text.empty();
        break;
    case 2:
        sim::failCall("MsiGetPropertyA", 2, input.PickValueInArray<int>({ERROR_MORE_DATA, ERROR_INVALID_HANDLE, 1627}));
        expectFailure = true;
        break;
    default:
        break;
    }

    {
        const KestMsiHandle installation(session, true);
        KestMsiBoolProperty property(installation, propertyName);
        const bool before = input.ConsumeBool();
        property.setValue(before);
        try {
            property.cacheValue();
            fuzz::expect(!expectFailure, "cacheValue succeeded over a refused read");
            fuzz::expectEqual(property.getValue(), startsWithNonZero(fuzz::cutAtNul(text)),
                              "cacheValue of \"" + fuzz::visible(text) + "\"");
        } catch (const EKestException& error) {
            fuzz::expect(expectFailure, "cacheValue failed over a readable property");
            fuzz::expect(typeid(error) == typeid(EKestWinError), "a refused read leaves read() as an EKestWinError");
            fuzz::expectEqual(error.getHistory().size(), std::size_t{1}, "history entries of a refused read");
            fuzz::expectEqual(property.getValue(), before, "a failed cacheValue changes the cached value");
        }

        const bool value = input.ConsumeBool();
        property.setValue(value);
        property.write();
        fuzz::expectEqual(sim::property(session, propertyName), std::string(value ? "1" : "0"), "write() sends");
        std::ostringstream dump;
        property.dump(dump);
        const std::string last = value ? "PropertyValue = true\n" : "PropertyValue = false\n";
        fuzz::expect(dump.str().ends_with("PropertyName = PROMPT_FOR_CD1\n" + last), "dump's last lines");
    }
    fuzz::expectNothingLeft(session);
    return 0;
}
