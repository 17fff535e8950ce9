// msi.dll of the host platform model: what a session answers about itself: formatted text,
// conditions, run modes, the language, feature and component states.
#include "SimModel.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <optional>

using namespace sim;
using namespace sim::detail;

namespace {

// ---- Formatted text ----------------------------------------------------------------------------

// A property as formatted text resolves it: in a scheduled action only its data and the product
// code.
std::string formattedProperty(const Session& session, const std::string& name)
{
    if (session.context != Script::immediate && name != "CustomActionData" && name != "ProductCode") {
        return "";
    }
    auto it = session.properties.find(name);
    return it == session.properties.end() ? std::string() : it->second;
}

bool allDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What the references of a piece of text met, for the braces of the group that holds them.
struct Met {
    bool own = false;         // text or a reference of the group's own (not of a group inside it)
    bool failed = false;      // a reference that resolved to nothing
    bool found = false;       // a field or a property that resolved to a value
    bool kept = false;        // an escape or [~]: the braces stay unless a value was found
    bool unresolved = false;  // a reference left as written (no session): the braces stay
    bool nested = false;      // a group inside that gave text
};

// MsiFormatRecord's text: references in brackets resolved from the inside out, groups in braces
// kept, dropped or removed by what their references met, as the documentation describes and as
// the installer answers (probed under Wine; the examples of SessionStateTest).
//
// - Brackets pair as they nest; a text with more opening brackets than closing ones (the bracket
//   that begins an escape "[\" not counted) is left as written. Otherwise an unpaired bracket is
//   a character.
// - [n] is field n, its text formatted in turn, where numbers name properties; [0] the template as
//   written; a null field or one beyond the count is nothing. [\c] is c ([\] nothing), [~] a NUL,
//   [%VAR] an environment variable, [#file], [!file] and [$component] paths; [name] a property.
//   Without a session only fields are resolved: every other reference stays as written.
// - A group in braces is removed when one of its references resolved to nothing. A group of the
//   text itself loses its braces when a field or property was found in it and nothing stayed as
//   written; one of only text (or escapes) keeps them, and an empty one is removed. A group inside
//   another keeps its braces; a group that holds only groups is removed, and one that holds a group
//   and text of its own keeps its braces. After such a group every group keeps its braces and its
//   text, empty or not, until one that holds only groups ("{{a}b} {[1]} {[NOSUCH]}" gives
//   "{{a}b} {value} {}").
class Formatter {
public:
    Formatter(const Session* session, const Record& record, bool inField)
        : session(session), record(record), inField(inField)
    {
    }

    std::string format(const std::string& input)
    {
        text = input;
        std::size_t opening = 0;
        std::size_t closing = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            opening += text[i] == '[' && (i + 1 == text.size() || text[i + 1] != '\\') ? 1 : 0;
            closing += text[i] == ']' ? 1 : 0;
        }
        if (opening > closing) {
            return text;
        }
        pair();
        Met met;
        return evaluate(0, text.size(), 1, met);
    }

private:
    static constexpr std::size_t none = std::string::npos;

    // The end of the escape "[\c...]" at `at` (one past its ']'), or none.
    std::size_t escapeEnd(std::size_t at) const
    {
        if (at + 2 >= text.size() || text[at] != '[' || text[at + 1] != '\\') {
            return none;
        }
        if (text[at + 2] == ']') {
            return at + 3;
        }
        const std::size_t close = text.find(']', at + 3);
        return close == none ? none : close + 1;
    }

    // Pairs each bracket and brace with its closing one, in one pass: a closing character pairs
    // with the innermost open one of its kind, and is text inside the other kind.
    void pair()
    {
        partner.assign(text.size(), none);
        std::vector<std::size_t> open;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (const std::size_t end = escapeEnd(i); end != none) {
                i = end - 1;
            } else if (c == '[' || c == '{') {
                open.push_back(i);
            } else if ((c == ']' || c == '}') && !open.empty() && text[open.back()] == (c == ']' ? '[' : '{')) {
                partner[open.back()] = i;
                partner[i] = open.back();
                open.pop_back();
            }
        }
    }

    // Formats text[from, to), whose groups lie at `depth` (1: groups of the text itself).
    std::string evaluate(std::size_t from, std::size_t to, int depth, Met& met)
    {
        std::string out;
        for (std::size_t i = from; i < to;) {
            const char c = text[i];
            if (const std::size_t end = c == '[' ? escapeEnd(i) : none; end != none && end <= to) {
                met.own = true;
                if (!session) {
                    met.unresolved = true;
                    out.append(text, i, end - i);
                } else {
                    met.kept = true;
                    if (text[i + 2] != ']') {
                        out += text[i + 2];
                    }
                }
                i = end;
            } else if (c == '[' && partner[i] != none) {
                Met inner;
                const std::string name = evaluate(i + 1, partner[i], 1, inner);
                out += resolve(name, met);
                i = partner[i] + 1;
            } else if (c == '{' && partner[i] != none) {
                Met inner;
                const std::string content = evaluate(i + 1, partner[i], depth + 1, inner);
                out += group(content, inner, depth, met);
                i = partner[i] + 1;
            } else if (c == '{') {
                // A group never closed: its brace is text, what follows it lies inside it.
                Met inner;
                out += '{' + evaluate(i + 1, to, depth + 1, inner);
                met.own = true;
                i = to;
            } else {
                met.own = true;
                out += c;
                ++i;
            }
        }
        return out;
    }

    std::string group(const std::string& content, const Met& inner, int depth, Met& met)
    {
        const std::string braced = '{' + content + '}';
        std::string result;
        if (bracesStay) {
            // Every group keeps its braces and its text, until one that holds only groups.
            if (inner.nested && !inner.own) {
                bracesStay = false;
            } else {
                result = braced;
            }
        } else if (inner.failed) {
            met.failed = true;
        } else if (inner.nested) {
            result = inner.own ? braced : std::string();
            bracesStay = inner.own;
        } else if (depth > 1 || inner.unresolved || !inner.found) {
            result = content.empty() ? std::string() : braced;
        } else {
            result = content;
        }
        met.nested = met.nested || (depth > 1 && !result.empty());
        return result;
    }

    std::string resolve(const std::string& name, Met& met) const
    {
        met.own = true;
        if (!inField && allDigits(name)) {
            return field(name, met);
        }
        if (!session) {
            met.unresolved = true;
            return '[' + name + ']';
        }
        if (name == "~") {
            met.kept = true;
            return std::string(1, '\0');
        }
        std::string value;
        if (!name.empty() && !std::strchr("~%#!$", name[0])) {
            value = formattedProperty(*session, name);
        }
        // Files, components and the environment are not modelled: they resolve to nothing.
        (value.empty() ? met.failed : met.found) = true;
        return value;
    }

    std::string field(const std::string& number, Met& met) const
    {
        const unsigned long index = number.size() < 10 ? std::stoul(number) : ULONG_MAX;
        if (index == 0) {
            met.found = true;
            return fieldText(record.fields[0]);  // the template as written (probed)
        }
        if (index > record.count() || std::holds_alternative<Null>(record.fields[index])) {
            met.failed = true;
            return "";
        }
        met.found = true;
        // A field's text is formatted on its own, and ends at a NUL that [~] put in it (probed).
        const std::string value = Formatter(session, record, true).format(fieldText(record.fields[index]));
        return value.substr(0, value.find('\0'));
    }

    const Session* session;
    const Record& record;
    const bool inField;
    std::string text;
    std::vector<std::size_t> partner;  // of each paired bracket and brace, the index of its pair
    bool bracesStay = false;           // every group keeps its braces, after one that kept them for a group in it
};

// ---- Conditions --------------------------------------------------------------------------------

struct ConditionError {};

// A value of a condition: what it compares as and what it is alone.
struct Value {
    std::optional<int> number;  // an integer literal, a state, or a property that holds an integer
    std::string text;           // a property's or a literal's text
    bool truth;
};

class ConditionParser {
public:
    ConditionParser(const Session& session, const char* text) : session(session), at(text) {}

    bool parse()
    {
        const bool result = implication();
        skipSpace();
        if (*at != '\0') {
            throw ConditionError{};
        }
        return result;
    }

private:
    // Lowest to highest precedence: IMP, EQV, XOR, OR, AND, NOT.
    bool implication()
    {
        bool left = equivalence();
        while (keyword("IMP")) {
            const bool right = equivalence();
            left = !left || right;
        }
        return left;
    }
    bool equivalence()
    {
        bool left = exclusive();
        while (keyword("EQV")) {
            left = left == exclusive();
        }
        return left;
    }
    bool exclusive()
    {
        bool left = disjunction();
        while (keyword("XOR")) {
            left = left != disjunction();
        }
        return left;
    }
    bool disjunction()
    {
        bool left = conjunction();
        while (keyword("OR")) {
            const bool right = conjunction();
            left = left || right;
        }
        return left;
    }
    bool conjunction()
    {
        bool left = negation();
        while (keyword("AND")) {
            const bool right = negation();
            left = left && right;
        }
        return left;
    }
    bool negation()
    {
        if (keyword("NOT")) {
            return !negation();
        }
        skipSpace();
        if (*at == '(') {
            ++at;
            const bool inner = implication();
            skipSpace();
            if (*at != ')') {
                throw ConditionError{};
            }
            ++at;
            return inner;
        }
        const Value left = value();
        skipSpace();
        const std::optional<std::string> op = comparison();
        if (!op) {
            return left.truth;
        }
        return compare(left, *op, value());
    }

    std::optional<std::string> comparison()
    {
        static const char* const operators[] = {"<>", "<=", ">=", "><", "<<", ">>", "=", "<", ">"};
        const char* start = at;
        std::string op;
        if (*at == '~') {
            op = "~";
            ++at;
        }
        for (const char* candidate : operators) {
            const std::size_t length = std::strlen(candidate);
            if (std::strncmp(at, candidate, length) == 0) {
                at += length;
                return op + candidate;
            }
        }
        at = start;
        if (!op.empty()) {
            throw ConditionError{};
        }
        return std::nullopt;
    }

    static bool compare(const Value& left, const std::string& op, const Value& right)
    {
        const bool noCase = op[0] == '~';
        const std::string o = noCase ? op.substr(1) : op;
        std::optional<int> a = left.number;
        std::optional<int> b = right.number;
        // A text meets an integer as an integer when it is one.
        if (a && !b) {
            b = toNumber(right.text);
        } else if (b && !a) {
            a = toNumber(left.text);
        }
        if (left.number || right.number) {
            if (!a || !b) {
                return o == "<>";
            }
            if (o == "><") {
                return (*a & *b) != 0;
            }
            if (o == "<<") {
                return ((*a >> 16) & 0xFFFF) == *b;
            }
            if (o == ">>") {
                return (*a & 0xFFFF) == *b;
            }
            return ordered(o, *a < *b ? -1 : (*a > *b ? 1 : 0));
        }
        std::string x = left.text;
        std::string y = right.text;
        if (noCase) {
            for (std::string* s : {&x, &y}) {
                for (char& c : *s) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
            }
        }
        if (o == "><") {
            return x.find(y) != std::string::npos;
        }
        if (o == "<<") {
            return x.compare(0, y.size(), y) == 0 && x.size() >= y.size();
        }
        if (o == ">>") {
            return x.size() >= y.size() && x.compare(x.size() - y.size(), y.size(), y) == 0;
        }
        const int order = x.compare(y);
        return ordered(o, order < 0 ? -1 : (order > 0 ? 1 : 0));
    }

    static bool ordered(const std::string& op, int order)
    {
        if (op == "=") {
            return order == 0;
        }
        if (op == "<>") {
            return order != 0;
        }
        if (op == "<") {
            return order < 0;
        }
        if (op == ">") {
            return order > 0;
        }
        if (op == "<=") {
            return order <= 0;
        }
        return order >= 0;  // ">="
    }

    static std::optional<int> toNumber(const std::string& text)
    {
        const int value = parseInteger(text);
        return value == nullInteger ? std::nullopt : std::optional<int>(value);
    }

    Value value()
    {
        skipSpace();
        const char c = *at;
        if (c == '"') {
            const char* close = std::strchr(at + 1, '"');
            if (!close) {
                throw ConditionError{};
            }
            std::string text(at + 1, close);
            at = close + 1;
            const bool truth = !text.empty();
            return {std::nullopt, std::move(text), truth};
        }
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '-' && std::isdigit(static_cast<unsigned char>(at[1])))) {
            const char* start = at++;
            while (std::isdigit(static_cast<unsigned char>(*at))) {
                ++at;
            }
            const std::optional<int> number = toNumber(std::string(start, at));
            if (!number || isNameCharacter(*at)) {
                throw ConditionError{};
            }
            return {number, std::string(start, at), *number != 0};
        }
        if (c == '&' || c == '!' || c == '$' || c == '?' || c == '%') {
            ++at;
            const std::string name = word();
            if (name.empty()) {
                throw ConditionError{};
            }
            return symbolValue(c, name);
        }
        const std::string name = word();
        if (name.empty() || isOperatorWord(name)) {
            throw ConditionError{};
        }
        std::string text = readableProperty(session, name);
        const std::optional<int> number = toNumber(text);
        const bool truth = !text.empty();
        return {number, std::move(text), truth};
    }

    Value symbolValue(char symbol, const std::string& name) const
    {
        std::optional<InstallStates> states;
        if (symbol == '&' || symbol == '!') {
            if (auto it = session.features.find(name); it != session.features.end()) {
                states = it->second.states;
            }
        } else if (symbol == '$' || symbol == '?') {
            if (auto it = session.components.find(name); it != session.components.end()) {
                states = it->second;
            }
        }
        if (!states) {
            return {std::nullopt, "", false};  // no such feature or component; no environment
        }
        const int state = (symbol == '&' || symbol == '$') ? states->action : states->installed;
        return {state, std::to_string(state), state != 0};
    }

    static bool isNameCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'; }

    static bool isOperatorWord(const std::string& word)
    {
        for (const char* keyword : {"NOT", "AND", "OR", "XOR", "EQV", "IMP"}) {
            if (equalsNoCase(word, keyword)) {
                return true;
            }
        }
        return false;
    }

    static bool equalsNoCase(const std::string& word, const char* keyword)
    {
        return word.size() == std::strlen(keyword) && std::equal(word.begin(), word.end(), keyword, [](char a, char b) {
                   return std::toupper(static_cast<unsigned char>(a)) == b;
               });
    }

    std::string word()
    {
        skipSpace();
        const char* start = at;
        if (std::isalpha(static_cast<unsigned char>(*at)) || *at == '_') {
            while (isNameCharacter(*at)) {
                ++at;
            }
        }
        return std::string(start, at);
    }

    bool keyword(const char* which)
    {
        skipSpace();
        const char* start = at;
        const std::string found = word();
        if (equalsNoCase(found, which)) {
            return true;
        }
        at = start;
        return false;
    }

    void skipSpace()
    {
        while (*at == ' ' || *at == '\t') {
            ++at;
        }
    }

    const Session& session;
    const char* at;
};

// ---- States ------------------------------------------------------------------------------------

// The states of a feature or component of an installation session, or the installer's answer
// when there are none: ERROR_INVALID_HANDLE, ERROR_UNKNOWN_FEATURE or ERROR_UNKNOWN_COMPONENT.
UINT statesOf(MSIHANDLE install, LPCSTR name, bool feature, Session*& session, InstallStates*& states)
{
    session = installSessionOf(install);
    if (!session) {
        return ERROR_INVALID_HANDLE;
    }
    const UINT unknown = feature ? ERROR_UNKNOWN_FEATURE : ERROR_UNKNOWN_COMPONENT;
    if (!name) {
        return unknown;
    }
    if (feature) {
        auto it = session->features.find(name);
        states = it == session->features.end() ? nullptr : &it->second.states;
    } else {
        auto it = session->components.find(name);
        states = it == session->components.end() ? nullptr : &it->second;
    }
    return states ? ERROR_SUCCESS : unknown;
}

template <class Char>
UINT getStates(const char* function, MSIHANDLE install, const Char* nameText, INSTALLSTATE* installed,
               INSTALLSTATE* action, bool feature)
{
    return modelled<UINT>(function, [&]() -> UINT {
        const std::optional<std::string> name = textOf(nameText);
        Session* session = nullptr;
        InstallStates* states = nullptr;
        if (const UINT error = statesOf(install, orNull(name), feature, session, states)) {
            return error;
        }
        if (installed) {
            *installed = states->installed;
        }
        if (action) {
            *action = states->action;
        }
        return ERROR_SUCCESS;
    });
}

// A request for a feature (ABSENT, LOCAL, SOURCE or ADVERTISED), which its components follow, or
// for a component (ABSENT, LOCAL or SOURCE).
template <class Char>
UINT setState(const char* function, MSIHANDLE install, const Char* nameText, INSTALLSTATE state, bool feature)
{
    return modelled<UINT>(function, [&]() -> UINT {
        const std::optional<std::string> name = textOf(nameText);
        Session* session = nullptr;
        InstallStates* states = nullptr;
        if (const UINT error = statesOf(install, orNull(name), feature, session, states)) {
            return error;
        }
        if (state != INSTALLSTATE_ABSENT && state != INSTALLSTATE_LOCAL && state != INSTALLSTATE_SOURCE &&
            (!feature || state != INSTALLSTATE_ADVERTISED)) {
            return ERROR_FUNCTION_FAILED;
        }
        states->action = state;
        if (feature) {
            // A component to remove that is absent already has nothing to do.
            for (const std::string& component : session->features.at(*name).components) {
                InstallStates& its = session->components[component];
                its.action =
                    state == INSTALLSTATE_ABSENT && its.installed == INSTALLSTATE_ABSENT ? INSTALLSTATE_UNKNOWN : state;
            }
        }
        return ERROR_SUCCESS;
    });
}

}  // namespace

namespace sim::detail {

std::string formatText(const Session* session, const Record& record)
{
    const std::string format = fieldText(record.fields[0]);
    if (format.empty()) {
        // Without a format: every field, "1: value 2: value ".
        std::string listed;
        for (UINT field = 1; field <= record.count(); ++field) {
            listed += std::to_string(field) + ": " + fieldText(record.fields[field]) + " ";
        }
        return listed;
    }
    return Formatter(session, record, false).format(format);
}

MSICONDITION evaluateCondition(const Session& session, const std::string& condition)
{
    if (condition.find_first_not_of(" \t") == std::string::npos) {
        return MSICONDITION_NONE;
    }
    try {
        return ConditionParser(session, condition.c_str()).parse() ? MSICONDITION_TRUE : MSICONDITION_FALSE;
    } catch (const ConditionError&) {
        return MSICONDITION_ERROR;
    }
}

}  // namespace sim::detail

namespace {

template <class Char>
UINT formatRecord(const char* function, MSIHANDLE install, MSIHANDLE record, Char* resultBuf, LPDWORD resultBufSize)
{
    return modelled<UINT>(function, [&]() -> UINT {
        const Session* session = anySessionOf(install);
        const Record* rec = openRecordOf(record);
        if ((install != 0 && !session) || !rec) {
            return ERROR_INVALID_HANDLE;
        }
        const bool doubled = model().doubledMoreDataLength;
        const UINT result = copyText(formatText(session, *rec), resultBuf, resultBufSize, doubled);
        if (!resultBuf && resultBufSize && doubled && std::is_same_v<Char, char>) {
            // A length query without a buffer answers twice the length too, in a custom action.
            *resultBufSize *= 2;
        }
        return result;
    });
}

template <class Char>
MSICONDITION condition(const char* function, MSIHANDLE install, const Char* conditionText)
{
    return modelled<MSICONDITION>(function, [&]() -> MSICONDITION {
        const Session* session = installSessionOf(install);
        if (!session) {
            return MSICONDITION_ERROR;
        }
        return conditionText ? evaluateCondition(*session, *textOf(conditionText)) : MSICONDITION_NONE;
    });
}

}  // namespace

UINT WINAPI MsiFormatRecordA(MSIHANDLE install, MSIHANDLE record, LPSTR resultBuf, LPDWORD resultBufSize)
{
    return formatRecord("MsiFormatRecordA", install, record, resultBuf, resultBufSize);
}

UINT WINAPI MsiFormatRecordW(MSIHANDLE install, MSIHANDLE record, LPWSTR resultBuf, LPDWORD resultBufSize)
{
    return formatRecord("MsiFormatRecordW", install, record, resultBuf, resultBufSize);
}

MSICONDITION WINAPI MsiEvaluateConditionA(MSIHANDLE install, LPCSTR conditionText)
{
    return condition("MsiEvaluateConditionA", install, conditionText);
}

MSICONDITION WINAPI MsiEvaluateConditionW(MSIHANDLE install, LPCWSTR conditionText)
{
    return condition("MsiEvaluateConditionW", install, conditionText);
}

BOOL WINAPI MsiGetMode(MSIHANDLE install, MSIRUNMODE runMode)
{
    return modelled<BOOL>("MsiGetMode", [&]() -> BOOL {
        const Session* session = anySessionOf(install);
        if (!session) {
            return FALSE;
        }
        switch (runMode) {
        case MSIRUNMODE_SCHEDULED:
            // Every action of the script, rollback and commit ones too: they are "called from
            // install script execution" as the documentation has it, and the installer (probed
            // under Wine) answers so, with ROLLBACK or COMMIT beside it.
            return session->context != Script::immediate ? TRUE : FALSE;
        case MSIRUNMODE_ROLLBACK:
            return session->context == Script::rollback ? TRUE : FALSE;
        case MSIRUNMODE_COMMIT:
            return session->context == Script::commit ? TRUE : FALSE;
        default:
            return session->context == Script::immediate && session->modes.count(runMode) != 0 ? TRUE : FALSE;
        }
    });
}

LANGID WINAPI MsiGetLanguage(MSIHANDLE install)
{
    return modelled<LANGID>("MsiGetLanguage", [&]() -> LANGID {
        const Session* session = anySessionOf(install);
        if (!session) {
            return static_cast<LANGID>(ERROR_INVALID_HANDLE);
        }
        if (session->context != Script::immediate) {
            return session->context == Script::commit ? 0 : session->language;
        }
        auto it = session->properties.find("ProductLanguage");
        const int language = it == session->properties.end() ? nullInteger : parseInteger(it->second);
        return language >= 0 && language <= 0xFFFF ? static_cast<LANGID>(language) : 0;
    });
}

UINT WINAPI MsiGetFeatureStateA(MSIHANDLE install, LPCSTR feature, INSTALLSTATE* installed, INSTALLSTATE* action)
{
    return getStates("MsiGetFeatureStateA", install, feature, installed, action, true);
}

UINT WINAPI MsiGetFeatureStateW(MSIHANDLE install, LPCWSTR feature, INSTALLSTATE* installed, INSTALLSTATE* action)
{
    return getStates("MsiGetFeatureStateW", install, feature, installed, action, true);
}

UINT WINAPI MsiGetComponentStateA(MSIHANDLE install, LPCSTR component, INSTALLSTATE* installed, INSTALLSTATE* action)
{
    return getStates("MsiGetComponentStateA", install, component, installed, action, false);
}

UINT WINAPI MsiGetComponentStateW(MSIHANDLE install, LPCWSTR component, INSTALLSTATE* installed, INSTALLSTATE* action)
{
    return getStates("MsiGetComponentStateW", install, component, installed, action, false);
}

UINT WINAPI MsiSetFeatureStateA(MSIHANDLE install, LPCSTR feature, INSTALLSTATE state)
{
    return setState("MsiSetFeatureStateA", install, feature, state, true);
}

UINT WINAPI MsiSetFeatureStateW(MSIHANDLE install, LPCWSTR feature, INSTALLSTATE state)
{
    return setState("MsiSetFeatureStateW", install, feature, state, true);
}

UINT WINAPI MsiSetComponentStateA(MSIHANDLE install, LPCSTR component, INSTALLSTATE state)
{
    return setState("MsiSetComponentStateA", install, component, state, false);
}

UINT WINAPI MsiSetComponentStateW(MSIHANDLE install, LPCWSTR component, INSTALLSTATE state)
{
    return setState("MsiSetComponentStateW", install, component, state, false);
}
