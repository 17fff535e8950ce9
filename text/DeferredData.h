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
// `name=value` entries joined by ';', in which '%', ';' and '=' are written as %25, %3B and %3D.
// Every other byte stays as it is: no UTF-8 character but those three uses their bytes. A NUL,
// which no installer text carries, is refused. Each entry has one spelling: a text with any other
// escape (%00, %41, %3b) is refused, so that no value can hide a NUL or a separator from a check.
// Values are found by name in logarithmic time. A text that is not of this form fails to decode, with the place it
// fails at (and never its content, which may be secret).
#pragma once

#include "../text/Text.h"
#include "../text/TextArg.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>
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

    // Adds an entry after the others; a name may come several times (a list). A name or value that
    // holds a NUL raises an EKestInvalidParameter.
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
    void appendEntry(Entry entry);
    // The places in `list` of the entries of that name, in order; none when there are none.
    const std::vector<std::size_t>* entriesNamed(const TextArg& name) const;

    std::vector<Entry> list;
    std::map<std::string, std::vector<std::size_t>, std::less<>> index;
};

}  // namespace qel
