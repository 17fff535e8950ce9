// Installer record fields for the fuzz targets: drawn from the input, shown in reports, and read
// back by the rules every reader of a field follows.
#pragma once

#include "FuzzCheck.h"
#include "Simulation.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fuzz {

// A null, integer, text or (outside field 0) stream field.
inline sim::Field consumeField(FuzzedDataProvider& input, bool streamAllowed)
{
    switch (input.ConsumeIntegralInRange(0, streamAllowed ? 3 : 2)) {
    case 0:
        return sim::Null{};
    case 1:
        return input.ConsumeIntegral<int>();
    case 2: {
        // ASCII: the model keeps texts in UTF-8 and the records' ANSI calls give them in the code
        // page, and ASCII reads the same in both. These targets are about the records' protocol;
        // the code pages have their own cases (TextConversionTest).
        std::string text = input.ConsumeRandomLengthString(32);
        for (char& c : text) {
            c = static_cast<char>(c & 0x7F);
        }
        return text;
    }
    default:
        return sim::Stream{input.ConsumeBytes<char>(input.ConsumeIntegralInRange<std::size_t>(0, 200))};
    }
}

// Field 0 (a format: null or text), then up to maxCount data fields.
inline std::vector<sim::Field> consumeFields(FuzzedDataProvider& input, int maxCount)
{
    std::vector<sim::Field> fields{consumeField(input, false)};
    for (int count = input.ConsumeIntegralInRange(0, maxCount); count > 0; --count) {
        fields.push_back(consumeField(input, true));
    }
    return fields;
}

inline std::string describe(const std::vector<sim::Field>& fields)
{
    std::string shown;
    for (const sim::Field& field : fields) {
        if (std::holds_alternative<sim::Null>(field)) {
            shown += "[null]";
        } else if (const int* number = std::get_if<int>(&field)) {
            shown += "[" + std::to_string(*number) + "]";
        } else if (const std::string* text = std::get_if<std::string>(&field)) {
            shown += "[\"" + visible(*text) + "\"]";
        } else {
            shown += "[stream of " + std::to_string(std::get<sim::Stream>(field).bytes.size()) + " bytes]";
        }
    }
    return shown;
}

inline void expectFields(const std::vector<sim::Field>& actual, const std::vector<sim::Field>& expected,
                         std::string_view what)
{
    if (actual != expected) {
        fail(what, "  actual:   " + describe(actual) + "\n  expected: " + describe(expected));
    }
}

// The installer's reading of a text as an integer: an optional "-" and decimal digits only, of
// whose value it keeps the low 32 bits ("4294967297" reads as 1); MSI_NULL_INTEGER itself means
// "no integer".
inline std::optional<int> plainInteger(const std::string& text)
{
    const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (digits == text.size() || text.find_first_not_of("0123456789", digits) != std::string::npos) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::size_t at = digits; at < text.size(); ++at) {
        value = value * 10u + static_cast<std::uint32_t>(text[at] - '0');
    }
    const auto kept = static_cast<std::int32_t>(digits == 1 ? 0u - value : value);
    return kept == INT_MIN ? std::nullopt : std::optional<int>(kept);
}

// A text field as the installer keeps it: the empty text is a null field.
inline sim::Field textField(const std::string& text)
{
    const std::string kept = cutAtNul(text);
    return kept.empty() ? sim::Field(sim::Null{}) : sim::Field(kept);
}

}  // namespace fuzz
