// What a session answers about itself: formatted text, conditions, run modes, its language,
// feature and component states, actions run by name, and the answers to progress messages.
#include "backend/SharedTest.h"

#include <ostream>
#include <string>
#include <vector>

namespace {

using SessionStateTest = SharedTest;

// MsiFormatRecordA of a record whose field 0 is `format` (null when it is nullptr).
std::string format(MSIHANDLE install, const char* format, const std::vector<std::string>& fields)
{
    const MSIHANDLE record = SharedTest::record(fields);
    MsiRecordSetStringA(record, 0, format);
    char text[512] = "";
    DWORD size = sizeof text;
    const UINT result = MsiFormatRecordA(install, record, text, &size);
    MsiCloseHandle(record);
    EXPECT_EQ(result, ERROR_SUCCESS) << (format ? format : "<null>");
    return std::string(text, size < sizeof text ? size : 0);
}

struct States {
    INSTALLSTATE installed;
    INSTALLSTATE action;
    bool operator==(const States&) const = default;
};

std::ostream& operator<<(std::ostream& out, const States& states)
{
    return out << "installed " << states.installed << ", action " << states.action;
}

States unusedStates()
{
    return {INSTALLSTATE(99), INSTALLSTATE(99)};
}

}  // namespace

TEST_F(SessionStateTest, FormattedTextResolvesPropertiesFieldsEscapesAndBlocks)
{
    const MSIHANDLE session = Backend::session();
    Backend::setProperty("Nested", "[ProductLine]");
    Backend::setProperty("dummya", "found by name");
    Backend::setProperty("PropC", "ProductLine");
    const std::string installDir = Backend::installDirTarget();
    // Fields 1 to 12 of the nested references: 1=2, 2=hey, 3=1, 4=2, 12=big.
    const std::vector<std::string> nested{"2", "hey", "1", "2", "", "", "", "", "", "", "", "big"};
    struct Case {
        bool withSession;  // false: hInstall 0, which resolves fields only
        const char* format;
        std::vector<std::string> fields;
        std::string expected;
    };
    const Case cases[] = {
        // Properties, fields, and the text of a field formatted in turn.
        {true, "[INSTALLDIR]x", {}, installDir + "x"},
        {true, "[ProductLine]", {}, "Demo Product"},
        {true, "[productline]|[NOSUCH]|", {}, "||"},  // names are case-sensitive; unknown ones are empty
        {true, "[Nested]", {}, "[ProductLine]"},      // a property's value is not formatted again
        {true, "[1] and [2]", {"one", "#2"}, "one and 2"},
        {true, "[1][2][3]", {"one", "#2"}, "one2"},   // a field beyond the count is empty
        {true, "[01]|[0]", {"one"}, "one|[01]|[0]"},  // field 0 is the format as it stands
        {true, "[1]", {"[INSTALLDIR]"}, installDir},  // a field's text is formatted
        {true, "[1]", {"[\\[]x[\\]]"}, "[x]"},
        {true, "[1]", {"[2]", "x"}, ""},  // in a field's text a number names a property
        {true, "[1]", {"a[~]b"}, "a"},    // and a NUL ends it
        {false, "[1]", {"[2]", "x"}, "[2]"},
        {false, "[1]", {"{{a}}"}, ""},
        {false, "[ProductLine]|[1]", {"one"}, "[ProductLine]|one"},
        {true, nullptr, {"one", "#2", ""}, "1: one 2: 2 3:  "},  // no format: every field
        // Without a session every reference but a field's stays as written.
        {false, "[\\x]", {}, "[\\x]"},
        {false, "[\\[]Bracket Text[\\]]", {}, "[\\[]Bracket Text[\\]]"},
        {false, "[~]", {}, "[~]"},
        {false, "[%FOO]", {}, "[%FOO]"},
        // Brackets are resolved from the inside out; a text with a bracket never closed stays as it
        // is, while one closing more than it opens resolves what pairs.
        {false, "[[1]] [2]", nested, "hey hey"},
        {false, "[[3][1]] [2]", nested, "big hey"},
        {false, "[a[1]b", nested, "[a[1]b"},
        {false, "[a[1]b]", nested, "[a2b]"},
        {true, "[[1]] [2]", nested, "hey hey"},
        {true, "[[3][1]] [2]", nested, "big hey"},
        {true, "[a[1]b", nested, "[a[1]b"},
        {true, "[dummy[1]]", {"a"}, "found by name"},
        {true, "[[PropC]]", {}, "Demo Product"},
        {true, "[Pro[\\d]uctLine]", {}, "Demo Product"},
        {true, "[1] [", {"one"}, "[1] ["},
        {true, "x]|[]|[1", {}, "x]||[1"},
        // Escapes: [\c] is c, whatever follows it up to the bracket; [\] nothing.
        {true, "[\\[]x[\\]]|[\\x]", {}, "[x]|x"},
        {true, "[\\3asdf]", {}, "3"},
        {true, "[[]", {}, "[[]"},
        {true, "[\\[a]", {}, "["},
        {true, "[\\]x", {}, "x"},
        {true, "[~]", {}, std::string(1, '\0')},
        {true, "[%QEL_NO_SUCH_VARIABLE]|{[%QEL_NO_SUCH_VARIABLE]}x", {}, "|x"},
        // Groups in braces: removed when a reference in them resolved to nothing, without their
        // braces when one was found, kept when they hold text alone; groups nest.
        {true, "{[1]}|{x[1]y}|{x[NOSUCH]y}|{abc}", {"one"}, "one|xoney||{abc}"},
        {true, "{}|{{a b}}|{{def}{jk}}", {}, "||"},
        {false, "{}|{{a b}}|{{def}{jk}}", {}, "||"},
        {true, "{{[1]}", {"hoo"}, "{{hoo}"},
        {true, "{{[1][2]}[3]} {[1][2]}", {"1", "2", "3"}, "{{12}3} {12}"},
        {false, "{{[1][2]}[3]} {[1][2]}", {"1", "2", "3"}, "{{12}3} {12}"},
        {false, "{[1][2][3][dummy]} [2]", nested, "{2hey1[dummy]} hey"},
        {true, "{[1][2][3][dummy]} [2]", nested, " hey"},
        {false, "{a[2]b}", {"one"}, ""},  // a field beyond the count resolves to nothing
        {true, "{[1]{}}|{a{{c}}e}|{a{b}c}|{[1]{[2]}}", {"one", "two"}, "one|{ae}|{a{b}c}|{one{two}}"},
        {true, "{a[1]b}{c}|{[1][\\x]}|{[\\x]}", {"one"}, "aoneb{c}|onex|{x}"},
        // After such a group every group keeps its braces, until one that holds only groups.
        {true, "{a{b}c} {} {[5]} {[1]{}} {a{{c}}e} {[1]}", {"one"}, "{a{b}c} {} {} {one{}} {ae} one"},
        {true, "{[1][2]} {a{b}c} {[1]} {a{[1]}c} {[2]}", {"one", "two"}, "onetwo {a{b}c} {one} {a{one}c} {two}"},
        {false, "{{a}b} {[1]}", {"one"}, "{{a}b} {one}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(format(c.withSession ? session : 0, c.format, c.fields), c.expected)
            << (c.format ? c.format : "<null>") << (c.withSession ? "" : " without a session");
    }
    // The text comes back as every text of the installer does (ContractTest checks that protocol,
    // qel::format goes through it); the handles are this call's own.
    char text[16];
    DWORD size = sizeof text;
    EXPECT_EQ(MsiFormatRecordA(session, 0, text, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiFormatRecordA(session, session, text, &size), ERROR_INVALID_HANDLE) << "a session is no record";
    // Asked without a buffer, the length.
    const MSIHANDLE record = SharedTest::record({"hello"});
    MsiRecordSetStringA(record, 0, "say [1]");
    size = 0;
    EXPECT_EQ(MsiFormatRecordA(session, record, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 9u);
    MsiCloseHandle(record);
}

TEST_F(SessionStateTest, ConditionsEvaluateLikeTheInstallers)
{
    const MSIHANDLE session = Backend::session();
    for (const auto& [name, value] :
         {std::pair<const char*, const char*>{"FIVE", "5"}, {"TEN", "10"}, {"Word", "Hello"}, {"ZERO", "0"}}) {
        Backend::setProperty(name, value);
    }
    struct Case {
        const char* condition;
        MSICONDITION expected;
    };
    constexpr MSICONDITION T = MSICONDITION_TRUE, F = MSICONDITION_FALSE, E = MSICONDITION_ERROR;
    const Case cases[] = {
        {"", MSICONDITION_NONE},
        {"   ", MSICONDITION_NONE},
        // Values alone: a property or text is true when not empty, an integer when not 0.
        {"1", T},
        {"0", F},
        {"-1", T},
        {"ProductLine", T},
        {"NOSUCH", F},
        {"ZERO", T},
        {"Installed", F},
        {"not NOSUCH", T},
        // Texts compare as texts, integers (and properties holding one) as integers; a text that
        // is no integer meets an integer only in <>.
        {"ProductLine = \"Demo Product\"", T},
        {"ProductLine=\"Demo Product\"", T},
        {"ProductLine = \"demo product\"", F},
        {"ProductLine ~= \"demo product\"", T},
        {"ProductLine <> \"x\"", T},
        {"NOSUCH = \"\"", T},
        {"NOSUCH <> \"\"", F},
        {"FIVE = 5", T},
        {"FIVE = \"5\"", T},
        {"FIVE < TEN", T},
        {"FIVE > TEN", F},
        {"FIVE <= 5", T},
        {"FIVE >= 6", F},
        {"\"10\" < \"9\"", T},
        {"10 < 9", F},
        {"Word = 0", F},
        {"NOSUCH = 0", F},
        {"Word >< \"ell\"", T},
        {"Word << \"He\"", T},
        {"Word >> \"lo\"", T},
        // NOT binds tighter than AND, AND than OR, then XOR, EQV, IMP.
        {"FIVE AND TEN", T},
        {"FIVE AND NOSUCH", F},
        {"NOSUCH OR FIVE", T},
        {"NOT (FIVE OR TEN)", F},
        {"(FIVE = 5) AND (TEN = 10)", T},
        {"1 OR 0 AND 0", T},
        {"(1 OR 0) AND 0", F},
        {"FIVE XOR ZERO", F},
        {"FIVE EQV TEN", T},
        {"FIVE IMP ZERO", T},
        // Feature and component states: & and $ the action, ! and ? the installed state.
        {"&Main = 3", T},
        {"!Main = 2", T},
        {"$Folder = 3", T},
        {"?Folder = 2", T},
        // What is malformed.
        {"and", E},
        {"1 =", E},
        {"= 1", E},
        {"(1", E},
        {"1)", E},
        {"NOT", E},
        {"1 2", E},
        {"\"unterminated", E},
        {"FIVE == 5", E},
        {"0x10 = 16", E},
        {"@", E},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MsiEvaluateConditionA(session, c.condition), c.expected) << c.condition;
    }
    EXPECT_EQ(MsiEvaluateConditionA(session, nullptr), MSICONDITION_NONE);
    EXPECT_EQ(MsiEvaluateConditionA(0, "1"), MSICONDITION_ERROR);
}

TEST_F(SessionStateTest, RunModesAndLanguageOfAnImmediateSession)
{
    const MSIHANDLE session = Backend::session();
    const std::pair<MSIRUNMODE, BOOL> modes[] = {
        {MSIRUNMODE_ADMIN, FALSE},       {MSIRUNMODE_MAINTENANCE, FALSE}, {MSIRUNMODE_ROLLBACKENABLED, TRUE},
        {MSIRUNMODE_REBOOTATEND, FALSE}, {MSIRUNMODE_SCHEDULED, FALSE},   {MSIRUNMODE_ROLLBACK, FALSE},
        {MSIRUNMODE_COMMIT, FALSE},
    };
    for (const auto& [mode, expected] : modes) {
        EXPECT_EQ(MsiGetMode(session, mode), expected) << mode;
    }
    EXPECT_EQ(MsiGetMode(0, MSIRUNMODE_ROLLBACKENABLED), FALSE);
    EXPECT_EQ(MsiGetLanguage(session), 1033);
    EXPECT_EQ(MsiGetLanguage(0), static_cast<LANGID>(ERROR_INVALID_HANDLE));
}

TEST_F(SessionStateTest, FeatureAndComponentStatesAreReadAndRequested)
{
    const MSIHANDLE session = Backend::session();
    auto feature = [&] {
        States states = unusedStates();
        EXPECT_EQ(MsiGetFeatureStateA(session, "Main", &states.installed, &states.action), ERROR_SUCCESS);
        return states;
    };
    auto component = [&] {
        States states = unusedStates();
        EXPECT_EQ(MsiGetComponentStateA(session, "Folder", &states.installed, &states.action), ERROR_SUCCESS);
        return states;
    };
    // As costing left them: to be installed locally.
    EXPECT_EQ(feature(), (States{INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}));
    EXPECT_EQ(component(), (States{INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}));

    // A feature's request reaches its components; one to remove that is absent has nothing to do.
    EXPECT_EQ(MsiSetFeatureStateA(session, "Main", INSTALLSTATE_ABSENT), ERROR_SUCCESS);
    EXPECT_EQ(feature(), (States{INSTALLSTATE_ABSENT, INSTALLSTATE_ABSENT}));
    EXPECT_EQ(component(), (States{INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN}));
    EXPECT_EQ(MsiEvaluateConditionA(session, "&Main = 2"), MSICONDITION_TRUE);
    EXPECT_EQ(MsiSetFeatureStateA(session, "Main", INSTALLSTATE_LOCAL), ERROR_SUCCESS);
    EXPECT_EQ(component(), (States{INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}));
    // A component's request is its own.
    EXPECT_EQ(MsiSetComponentStateA(session, "Folder", INSTALLSTATE_ABSENT), ERROR_SUCCESS);
    EXPECT_EQ(component(), (States{INSTALLSTATE_ABSENT, INSTALLSTATE_ABSENT}));
    EXPECT_EQ(feature(), (States{INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}));
    EXPECT_EQ(MsiEvaluateConditionA(session, "$Folder = 2"), MSICONDITION_TRUE);

    States states = unusedStates();
    EXPECT_EQ(MsiGetFeatureStateA(session, "Main", nullptr, nullptr), ERROR_SUCCESS);
    // (Unknown names: SessionCallsTest.)
    EXPECT_EQ(MsiGetFeatureStateA(session, nullptr, &states.installed, &states.action), ERROR_UNKNOWN_FEATURE);
    EXPECT_EQ(MsiGetComponentStateA(session, nullptr, &states.installed, &states.action), ERROR_UNKNOWN_COMPONENT);
    EXPECT_EQ(states, unusedStates()) << "a refused call writes no state";
    EXPECT_EQ(MsiGetFeatureStateA(0, "Main", &states.installed, &states.action), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiSetFeatureStateA(0, "Main", INSTALLSTATE_LOCAL), ERROR_INVALID_HANDLE);
}

TEST_F(SessionStateTest, ActionsRunByName)
{
    const MSIHANDLE session = Backend::session();
    struct Case {
        const char* action;
        UINT expected;
    };
    // (SessionCallsTest runs one and asks for an unknown one by name.)
    for (const Case& c : {Case{"", ERROR_FUNCTION_NOT_CALLED},
                          // A deferred action is only written into the script: its DLL is not needed yet.
                          Case{"DeferredWithoutCode", ERROR_SUCCESS}}) {
        EXPECT_EQ(MsiDoActionA(session, c.action), c.expected) << c.action;
    }
    EXPECT_EQ(MsiDoActionA(session, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiDoActionA(0, "SetByAction"), ERROR_INVALID_HANDLE);
}

TEST_F(SessionStateTest, ActionAndProgressMessagesOfEachFormAreTaken)
{
    const MSIHANDLE session = Backend::session();
    struct Message {
        INSTALLMESSAGE type;
        std::vector<std::string> fields;
    };
    const Message messages[] = {
        {INSTALLMESSAGE_ACTIONSTART, {"QelAction", "Doing things", "Thing [1]"}},
        {INSTALLMESSAGE_ACTIONDATA, {"first"}},
        {INSTALLMESSAGE_PROGRESS, {"#0", "#1000", "#0", "#0"}},  // reset
        {INSTALLMESSAGE_PROGRESS, {"#1", "#10", "#1"}},          // ticks for each ACTIONDATA
        {INSTALLMESSAGE_PROGRESS, {"#2", "#10"}},                // report
        {INSTALLMESSAGE_PROGRESS, {"#3", "#500"}},               // add to the total
    };
    for (const Message& message : messages) {
        const MSIHANDLE record = SharedTest::record(message.fields);
        EXPECT_EQ(MsiProcessMessage(session, message.type, record), 0) << message.fields[0];
        MsiCloseHandle(record);
    }
}
