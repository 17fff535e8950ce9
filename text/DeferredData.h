// Several named values in one text: what an immediate action hands its deferred action, which
// reads nothing of the installation but the one property CustomActionData.
//
//     qel::DeferredData data;
//     data.add("file", path).add("setting", "Port=8080");
//     qel::schedule(session, "qelWriteSettings", data);          // msi/Deferred.h
//     ...
//     const qel::DeferredData data = qel::deferredData(session);   // in qelWriteSettings
//     const std::string path = data.value("file");
//
// Names and values are UTF-8 (a KestCString given is converted from the ANSI code page), and any
// name and value round-trip, empty ones and those holding the separators included: the text is
// `name=value` entries joined by ';', in which '%', ';', '=' and NUL are written as %25, %3B, %3D
// and %00. Every other byte stays as it is: the bytes escaped are all below 0x40, and no UTF-8
// character but those four uses them. A text that is not of this form fails to decode, with the place it fails
// at (and never its content, which may be secret).
#pragma once

#include "../text/Text.h"
#include "../text/TextArg.h"

#include <vector>

namespace qel {

class DeferredData {
public:
    struct Entry {
        Text name;
        Text value;
        bool operator==(const Entry&) const = default;
    };

    DeferredData() = default;

    // Adds an entry after the others; a name may come several times (a list).
    DeferredData& add(const TextArg& name, const TextArg& value);

    bool has(const TextArg& name) const;
    // The value of the first entry of that name; raises an EKestInvalidParameter naming it when
    // there is none.
    Text value(const TextArg& name) const;
    // The values of every entry of that name, in order.
    std::vector<Text> values(const TextArg& name) const;
    const std::vector<Entry>& entries() const { return list; }

    // The one text, for CustomActionData.
    Text encode() const;
    // The entries of a text that encode() made; raises an EKestInvalidParameter for any other.
    static DeferredData decode(const TextArg& text);

    bool operator==(const DeferredData&) const = default;

private:
    std::vector<Entry> list;
};

}  // namespace qel
