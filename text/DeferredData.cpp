#include "text/DeferredData.h"

#include "errors/Raise.h"

#include <cstdio>
#include <string>
#include <utility>

using namespace persisting;

namespace qel {
namespace {

constexpr const char* fileName = "DeferredData";
constexpr char separator = ';';
constexpr char assignment = '=';
constexpr char escape = '%';
constexpr const char* hexDigits = "0123456789ABCDEF";

bool escaped(char c)
{
    return c == escape || c == separator || c == assignment;
}

void append(std::string& text, const std::string& part)
{
    for (const char c : part) {
        if (escaped(c)) {
            const auto byte = static_cast<unsigned char>(c);
            text += escape;
            text += hexDigits[byte >> 4];
            text += hexDigits[byte & 0x0F];
        } else {
            text += c;
        }
    }
}

// The byte an escape at text[at] stands for; -1 for any text but one of the escapes encode()
// writes (%25, %3B, %3D): a NUL or another byte escaped, or small letters, would let two texts
// mean the same entries, and an escaped NUL would end the value early for a C caller.
int escapedByte(const std::string& text, std::size_t at)
{
    if (text.size() - at < 3) {
        return -1;
    }
    for (const char c : {escape, separator, assignment}) {
        const auto byte = static_cast<unsigned char>(c);
        if (text[at + 1] == hexDigits[byte >> 4] && text[at + 2] == hexDigits[byte & 0x0F]) {
            return byte;
        }
    }
    return -1;
}

// "The deferred data is malformed at byte N: <what>", N counted from 1.
KestCString malformed(std::size_t at, const char* what)
{
    char where[64];
    std::snprintf(where, sizeof where, "The deferred data is malformed at byte %zu: ", at + 1);
    return KestCString(where) + what;
}

}  // namespace

DeferredData& DeferredData::add(const TextArg& name, const TextArg& value)
{
    static constexpr PersistingRule rule("qel::DeferredData::add", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&]() -> DeferredData& {
        Entry entry{Text(name.utf8()), Text(value.utf8())};
        if (entry.name.find('\0') != std::string::npos || entry.value.find('\0') != std::string::npos) {
            raiseInvalidParameter(rule, "A deferred name or value holds a NUL, which an installer text cannot carry");
        }
        appendEntry(std::move(entry));
        return *this;
    });
}

void DeferredData::appendEntry(Entry entry)
{
    list.push_back(std::move(entry));
    index[list.back().name].push_back(list.size() - 1);
}

const std::vector<std::size_t>* DeferredData::entriesNamed(const TextArg& name) const
{
    const auto found = index.find(name.utf8());
    return found == index.end() ? nullptr : &found->second;
}

bool DeferredData::has(const TextArg& name) const
{
    return entriesNamed(name) != nullptr;
}

Text DeferredData::value(const TextArg& name) const
{
    static constexpr PersistingRule rule("qel::DeferredData::value", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const std::vector<std::size_t>* const named = entriesNamed(name);
        if (named == nullptr) {
            raiseInvalidParameter(
                rule, KestCString("The deferred data holds no value named \"" + name.utf8() + "\"").c_str());
        }
        return list[named->front()].value;
    });
}

std::vector<Text> DeferredData::values(const TextArg& name) const
{
    std::vector<Text> found;
    if (const std::vector<std::size_t>* const named = entriesNamed(name)) {
        for (const std::size_t at : *named) {
            found.push_back(list[at].value);
        }
    }
    return found;
}

Text DeferredData::encode() const
{
    Text text;
    for (const Entry& entry : list) {
        if (&entry != &list.front()) {
            text += separator;
        }
        append(text, entry.name);
        text += assignment;
        append(text, entry.value);
    }
    return text;
}

DeferredData DeferredData::decode(const TextArg& encoded)
{
    static constexpr PersistingRule rule("qel::DeferredData::decode", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const std::string text = encoded.utf8();
        DeferredData data;
        if (text.empty()) {
            return data;
        }
        Entry entry;
        std::string* part = &entry.name;  // what the bytes read go to: the name, then the value
        for (std::size_t at = 0; at <= text.size(); ++at) {
            const char c = at < text.size() ? text[at] : separator;  // the end closes the last entry
            if (c == '\0') {
                raiseInvalidParameter(rule, malformed(at, "a NUL").c_str());
            }
            if (c == separator) {
                if (part != &entry.value) {
                    raiseInvalidParameter(rule, malformed(at, "an entry without '='").c_str());
                }
                data.appendEntry(std::move(entry));
                entry = Entry{};
                part = &entry.name;
            } else if (c == assignment) {
                if (part == &entry.value) {
                    raiseInvalidParameter(rule, malformed(at, "a second '=' in an entry").c_str());
                }
                part = &entry.value;
            } else if (c == escape) {
                const int byte = escapedByte(text, at);
                if (byte < 0) {
                    raiseInvalidParameter(rule, malformed(at, "a '%' that is not %25, %3B or %3D").c_str());
                }
                *part += static_cast<char>(byte);
                at += 2;
            } else {
                *part += c;
            }
        }
        return data;
    });
}

}  // namespace qel
