// The deferred data's text: fuzzed entries encode to a text without NUL that decodes to the same
// entries; a fuzzed text either decodes, to entries that encode and decode to themselves again, or
// is refused as an EKestInvalidParameter, and nothing else.
#include "FuzzCheck.h"
#include "errors/EKestInvalidParameter.h"
#include "text/DeferredData.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string shown(const qel::DeferredData& data)
{
    std::string text;
    for (const auto& entry : data.entries()) {
        text += "[" + fuzz::visible(entry.name) + "] = [" + fuzz::visible(entry.value) + "]\n";
    }
    return text;
}

void roundTrip(const qel::DeferredData& data)
{
    const std::string text = data.encode();
    fuzz::expect(static_cast<const std::string&>(text).find('\0') == std::string::npos, "the encoded text holds a NUL");
    fuzz::setting() += "encoded: \"" + fuzz::visible(text) + "\"\n";
    const qel::DeferredData decoded = qel::DeferredData::decode(text);
    if (!(decoded == data)) {
        fuzz::fail("the entries did not decode to themselves", shown(decoded));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider input(bytes, size);
    if (input.ConsumeBool()) {
        qel::DeferredData data;
        while (input.remaining_bytes() > 0) {
            // No installer text carries a NUL, and add() refuses one (DeferredDataTest checks that).
            const auto text = [&](std::size_t length) {
                std::string made = input.ConsumeRandomLengthString(length);
                std::erase(made, '\0');
                return made;
            };
            const std::string name = text(16);
            data.add(name, text(32));
        }
        fuzz::setting() = "entries:\n" + shown(data);
        roundTrip(data);
        return 0;
    }
    const std::string text = input.ConsumeRemainingBytesAsString();
    fuzz::setting() = "text: \"" + fuzz::visible(text) + "\"\n";
    qel::DeferredData decoded;
    try {
        decoded = qel::DeferredData::decode(text);
    } catch (const EKestInvalidParameter&) {
        return 0;  // a refused text: the only way decode may fail
    }
    roundTrip(decoded);
    return 0;
}
