#include "text/DeferredData.h"

#include "errors/Raise.h"

#include <cstdio>
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
    return c == escape || c == separator || c == assignment || c == '\0';
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

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
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
    list.push_back(Entry{Text(name.utf8()), Text(value.utf8())});
    return *this;
}

bool DeferredData::has(const TextArg& name) const
{
    const std::string wanted = name.utf8();
    for (const Entry& entry : list) {
        if (entry.name == wanted) {
            return true;
        }
    }
    return false;
}

Text DeferredData::value(const TextArg& name) const
{
    static constexpr PersistingRule rule("qel::DeferredData::value", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const std::string wanted = name.utf8();
        for (const Entry& entry : list) {
            if (entry.name == wanted) {
                return entry.value;
            }
        }
        raiseInvalidParameter(rule, KestCString("The deferred data holds no value named \"" + wanted + "\"").c_str());
    });
}

std::vector<Text> DeferredData::values(const TextArg& name) const
{
    const std::string wanted = name.utf8();
    std::vector<Text> found;
    for (const Entry& entry : list) {
        if (entry.name == wanted) {
            found.push_back(entry.value);
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
            if (c == separator) {
                if (part != &entry.value) {
                    raiseInvalidParameter(rule, malformed(at, "an entry without '='").c_str());
                }
                data.list.push_back(std::move(entry));
                entry = Entry{};
                part = &entry.name;
            } else if (c == assignment) {
                if (part == &entry.value) {
                    raiseInvalidParameter(rule, malformed(at, "a second '=' in an entry").c_str());
                }
                part = &entry.value;
            } else if (c == escape) {
                const int high = at + 2 < text.size() ? hexValue(text[at + 1]) : -1;
                const int low = high >= 0 ? hexValue(text[at + 2]) : -1;
                if (low < 0) {
                    raiseInvalidParameter(rule, malformed(at, "a '%' without two hexadecimal digits").c_str());
                }
                *part += static_cast<char>(high * 16 + low);
                at += 2;
            } else {
                *part += c;
            }
        }
        return data;
    });
}

}  // namespace qel
