// The one-line session calls and the views authors write, on the test package (backend/Backend.h):
// what each adds to the installer's own answer (SessionStateTest and ViewTest check those), that a
// refused call raises with a history entry naming what it was for, and that nothing stays open on
// any way out, a loop left early or by an exception included.
#include "backend/SharedTest.h"

#include "Thrown.h"
#include "errors/EKestInvalidParameter.h"
#include "errors/EKestWinError.h"
#include "msi/Database.h"
#include "msi/Session.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <typeindex>
#include <vector>

namespace {

using SessionCallsTest = SharedTest;
using Strings = std::vector<std::string>;

KestMsiHandle session()
{
    return KestMsiHandle(Backend::session(), true);
}

const std::type_index invalidParameter = typeid(EKestInvalidParameter);
// A refused installer call reaches the caller as the persisting rule passes it on: an EKestWinError
// carrying the installer's answer.
const std::type_index refusedCall = typeid(EKestWinError);

// The rows of a view as SharedTest::rowText has them.
template <class Rows>
Strings texts(Rows&& rows)
{
    Strings all;
    for (const KestMsiRecord& row : rows) {
        all.push_back(SharedTest::rowText(row.getHandle().getMsiHandle()));
    }
    return all;
}

}  // namespace

TEST_F(SessionCallsTest, PropertiesAreReadAsTextAndAsWholeNumbers)
{
    struct Case {
        const char* value;  // nullptr: not set
        std::optional<int> number;
    };
    const Case cases[] = {
        {"-7", -7},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {nullptr, std::nullopt},
        {"2147483648", std::nullopt},
        {"4x", std::nullopt},
        {" 4", std::nullopt},
        {"+4", std::nullopt},
        {"-", std::nullopt},
    };
    const KestMsiHandle installation = session();
    for (const Case& c : cases) {
        const std::string value = c.value != nullptr ? c.value : "";
        SCOPED_TRACE(c.value != nullptr ? c.value : "(not set)");
        Backend::setProperty("QEL_NUMBER", value);

        EXPECT_EQ(static_cast<const std::string&>(qel::property(installation, "QEL_NUMBER")), value);
        if (c.number) {
            EXPECT_EQ(qel::intProperty(installation, "QEL_NUMBER"), *c.number);
            EXPECT_EQ(qel::intProperty(installation, "QEL_NUMBER", 99), *c.number);
            continue;
        }
        for (const bool withDefault : {false, true}) {
            if (withDefault && c.value == nullptr) {
                EXPECT_EQ(qel::intProperty(installation, "QEL_NUMBER", 99), 99);
                continue;
            }
            const auto thrown = thrownBy([&] {
                withDefault ? qel::intProperty(installation, "QEL_NUMBER", 99)
                            : qel::intProperty(installation, "QEL_NUMBER");
            });
            ASSERT_TRUE(thrown);
            EXPECT_EQ(thrown->type, invalidParameter);
            EXPECT_EQ(thrown->contexts(), Strings{"qel::intProperty"});
            EXPECT_EQ(thrown->comments(), Strings{"Property \"QEL_NUMBER\" holds no whole number"});
        }
    }
}

// What a call does beyond passing on the installer's answer: the text it sends, the text it reads
// back whole, the answer it maps.
TEST_F(SessionCallsTest, CallsChangeAndReadTheSession)
{
    const KestMsiHandle installation = session();
    qel::setProperty(installation, "QEL_TEXT", "a [bracketed] text");
    EXPECT_EQ(Backend::property("QEL_TEXT"), "a [bracketed] text");
    qel::setProperty(installation, "QEL_TEXT", -12);
    EXPECT_EQ(Backend::property("QEL_TEXT"), "-12");
    qel::setProperty(installation, "QEL_TEXT", "");
    EXPECT_EQ(Backend::property("QEL_TEXT"), "");

    EXPECT_EQ(static_cast<const std::string&>(qel::sourcePath(installation, "INSTALLDIR")), Backend::packageFolder());
    const std::string moved = Backend::packageFolder() + "Moved\\";
    qel::setTargetPath(installation, "INSTALLDIR", moved);
    EXPECT_EQ(static_cast<const std::string&>(qel::targetPath(installation, "INSTALLDIR")), moved);

    // The text is the template: the installer resolves it, nothing takes it as a printf format.
    for (const auto& [text, formatted] : {std::pair<std::string, std::string>{"[INSTALLDIR]a.ini", moved + "a.ini"},
                                          {"plain; 100% = all", "plain; 100% = all"},
                                          {"", ""}}) {
        EXPECT_EQ(static_cast<const std::string&>(qel::format(installation, text)), formatted) << text;
    }
    KestMsiRecord fields = qel::record("Port", 8080);
    fields.setRecordFormat("[1]=[2] in [QEL_TEXT]x");
    EXPECT_EQ(static_cast<const std::string&>(qel::format(installation, fields)), "Port=8080 in x");

    // No condition at all holds.
    for (const auto& [condition, holds] : {std::pair<const char*, bool>{"QEL_UNSET", false}, {"", true}}) {
        EXPECT_EQ(qel::evaluateCondition(installation, condition), holds) << condition;
    }

    const qel::InstallStates main = qel::featureState(installation, "Main");
    EXPECT_EQ(main.installed, INSTALLSTATE_ABSENT);
    EXPECT_EQ(main.action, INSTALLSTATE_LOCAL);
    EXPECT_TRUE(main.isBeingInstalled());
    qel::setFeatureState(installation, "Main", INSTALLSTATE_ABSENT);
    EXPECT_FALSE(qel::featureState(installation, "Main").isBeingInstalled());
    qel::setComponentState(installation, "Folder", INSTALLSTATE_LOCAL);
    EXPECT_TRUE(qel::componentState(installation, "Folder").isBeingInstalled());

    qel::doAction(installation, "SetByAction");
    EXPECT_EQ(Backend::property("SETBYACTION"), "Demo Product!");
}

TEST_F(SessionCallsTest, ARefusedCallRaisesTheInstallersAnswerNamingItsCall)
{
    struct Case {
        std::function<void(const KestMsiHandle&)> call;
        std::type_index type;
        int code;
        const char* context;  // of the raise; the call the author made passes it on
        std::string comment;
    };
    const char* badQuery = "SELECT `Name` FROM `NoTable`";
    const char* keyless = "SELECT `Value` FROM `QelSetting`";
    const Case cases[] = {
        {[](auto& s) { qel::setProperty(s, "", "value"); }, refusedCall, ERROR_FUNCTION_FAILED, "qel::setProperty",
         "Function Failed: MsiSetProperty(\"\")"},
        {[](auto& s) { qel::targetPath(s, "NOWHERE"); }, refusedCall, ERROR_DIRECTORY, "qel::targetPath",
         "Function Failed: MsiGetTargetPath(\"NOWHERE\")"},
        {[](auto& s) { qel::sourcePath(s, "NOWHERE"); }, refusedCall, ERROR_DIRECTORY, "qel::sourcePath",
         "Function Failed: MsiGetSourcePath(\"NOWHERE\")"},
        {[](auto& s) { qel::setTargetPath(s, "NOWHERE", "C:\\x\\"); }, refusedCall, ERROR_DIRECTORY,
         "qel::setTargetPath", "Function Failed: MsiSetTargetPath(\"NOWHERE\")"},
        {[](auto& s) { qel::evaluateCondition(s, "QEL_LEVEL = "); }, invalidParameter, 0, "qel::evaluateCondition",
         "Function Failed: MsiEvaluateCondition(\"QEL_LEVEL = \")"},
        {[](auto& s) { qel::featureState(s, "NoFeature"); }, refusedCall, ERROR_UNKNOWN_FEATURE, "qel::featureState",
         "Function Failed: MsiGetFeatureState(\"NoFeature\")"},
        {[](auto& s) { qel::setFeatureState(s, "NoFeature", INSTALLSTATE_LOCAL); }, refusedCall, ERROR_UNKNOWN_FEATURE,
         "qel::setFeatureState", "Function Failed: MsiSetFeatureState(\"NoFeature\")"},
        {[](auto& s) { qel::componentState(s, "NoComponent"); }, refusedCall, ERROR_UNKNOWN_COMPONENT,
         "qel::componentState", "Function Failed: MsiGetComponentState(\"NoComponent\")"},
        {[](auto& s) { qel::setComponentState(s, "NoComponent", INSTALLSTATE_LOCAL); }, refusedCall,
         ERROR_UNKNOWN_COMPONENT, "qel::setComponentState", "Function Failed: MsiSetComponentState(\"NoComponent\")"},
        {[](auto& s) { qel::doAction(s, "NoSuchAction"); }, refusedCall, ERROR_FUNCTION_NOT_CALLED, "qel::doAction",
         "Function Failed: MsiDoAction(\"NoSuchAction\")"},
        {[&](auto& s) { qel::rows(s, badQuery); }, refusedCall, ERROR_BAD_QUERY_SYNTAX, "KestMsiView::KestMsiView",
         "Function Failed: MsiDatabaseOpenView(\"SELECT `Name` FROM `NoTable`\")"},
        {[&](auto& s) {
             for (const auto& row : qel::rows(s, keyless)) {
                 row.text("Name");
             }
         },
         invalidParameter, 0, "qel::Rows::fieldOf",
         "The query \"SELECT `Value` FROM `QelSetting`\" has no column \"Name\""},
        {[&](auto& s) { qel::insertTemporary(s, keyless, qel::record("six")); }, refusedCall, ERROR_INVALID_DATA,
         "KestMsiView::modify", "Function Failed: MsiViewModify(\"SELECT `Value` FROM `QelSetting`\")"},
    };
    const KestMsiHandle installation = session();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comment);
        const auto thrown = thrownBy([&] { c.call(installation); });
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->type, c.type);
        EXPECT_EQ(thrown->error.getErrorCode(), c.code);
        EXPECT_EQ(thrown->contexts().front(), c.context);
        EXPECT_EQ(thrown->comments().front(), c.comment);
        if (std::string(c.context).starts_with("qel::")) {
            EXPECT_EQ(thrown->contexts().size(), 1u) << "raised by the call the author made";
        }
    }
}

TEST_F(SessionCallsTest, RowsComeInARangeForThatClosesEverythingOnAnyWayOut)
{
    const KestMsiHandle installation = session();
    const char* query = "SELECT `Name` FROM `QelSetting` ORDER BY `Sequence`";
    EXPECT_EQ(texts(qel::rows(installation, query)), (Strings{"beta", "gamma", "alpha", "delta"}));
    const char* byNumber = "SELECT `Name` FROM `QelSetting` WHERE `Number` = ? ORDER BY `Sequence`";
    for (const auto& [number, rows] : {std::pair<const char*, Strings>{"#2", {"beta", "delta"}}, {"#7", {}}}) {
        const KestMsiRecord parameters = KestMsiRecord::joining(KestMsiHandle(SharedTest::record({number}), false));
        EXPECT_EQ(texts(qel::rows(installation, byNumber, parameters)), rows) << number;
    }

    for (const KestMsiRecord& row : qel::rows(installation, query)) {
        EXPECT_EQ(static_cast<const std::string&>(row.stringField(1)), "beta");
        break;
    }
    // Fields by the view's own column names, whatever their order in the query.
    Strings named;
    for (const auto& row : qel::rows(installation, "SELECT `Number`, `Name` FROM `QelSetting` ORDER BY `Sequence`")) {
        named.push_back(row.text("Name") + "|" + row.text("Number") +
                        (row.isNull("Number") ? "" : "|" + std::to_string(row.integer("Number"))));
    }
    EXPECT_EQ(named, (Strings{"beta|2|2", "gamma|", "alpha|1|1", "delta|2|2"}));
    EXPECT_THROW(
        {
            for (const KestMsiRecord& row : qel::rows(installation, query)) {
                if (row.stringField(1) == "gamma") {
                    throw std::runtime_error("the loop's own failure");
                }
            }
        },
        std::runtime_error);

    // A view executed again starts over.
    KestMsiView view = KestMsiDatabase(installation).openView(query);
    view.execute();
    EXPECT_EQ(texts(view).size(), 4u);
    view.execute();
    EXPECT_EQ(texts(view), (Strings{"beta", "gamma", "alpha", "delta"}));

    qel::insertTemporary(installation, "SELECT `Name`, `Value`, `Number`, `Sequence` FROM `QelSetting`",
                         qel::record("epsilon", "five", 5, 50));
    EXPECT_EQ(texts(qel::rows(installation, "SELECT `Value`, `Number` FROM `QelSetting` WHERE `Name` = 'epsilon'")),
              Strings{"five|5"});
    // (SharedTest fails the case for any handle left open.)
}
