// The one-line session calls and the views authors write, on the test package (backend/Backend.h):
// what each answers, that a refused call raises with a history entry naming what it was for, and
// that nothing stays open on any way out, a loop left early or by an exception included.
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

// What a refused call must have raised: its class, code and its one history entry.
struct Refused {
    std::type_index type;
    int code;
    const char* context;
    std::string comment;
};

void expectRefused(const std::optional<Thrown>& thrown, const Refused& refused)
{
    ASSERT_TRUE(thrown) << refused.comment;
    EXPECT_EQ(thrown->type, refused.type) << refused.comment;
    EXPECT_EQ(thrown->error.getErrorCode(), refused.code) << refused.comment;
    EXPECT_EQ(thrown->contexts(), Strings{refused.context});
    EXPECT_EQ(thrown->comments(), Strings{refused.comment});
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
        int orUnset;
    };
    const Case cases[] = {
        {"42", 42, 42},
        {"-7", -7, -7},
        {"007", 7, 7},
        {"2147483647", 2147483647, 2147483647},
        {"-2147483648", -2147483647 - 1, -2147483647 - 1},
        {nullptr, std::nullopt, 99},
        {"2147483648", std::nullopt, 0},
        {"4x", std::nullopt, 0},
        {" 4", std::nullopt, 0},
        {"+4", std::nullopt, 0},
        {"-", std::nullopt, 0},
        {"yes", std::nullopt, 0},
    };
    const KestMsiHandle installation = session();
    for (const Case& c : cases) {
        const std::string shown = c.value != nullptr ? c.value : "(not set)";
        SCOPED_TRACE(shown);
        Backend::setProperty("QEL_NUMBER", c.value != nullptr ? c.value : "");

        EXPECT_EQ(static_cast<const std::string&>(qel::property(installation, "QEL_NUMBER")),
                  c.value != nullptr ? c.value : "");
        if (c.number) {
            EXPECT_EQ(qel::intProperty(installation, "QEL_NUMBER"), *c.number);
            EXPECT_EQ(qel::intProperty(installation, "QEL_NUMBER", 99), *c.number);
            continue;
        }
        const Refused noNumber{invalidParameter, 0, "qel::intProperty",
                               "Property \"QEL_NUMBER\" holds no whole number"};
        expectRefused(thrownBy([&] { qel::intProperty(installation, "QEL_NUMBER"); }), noNumber);
        if (c.value == nullptr) {
            EXPECT_EQ(qel::intProperty(installation, "QEL_NUMBER", c.orUnset), c.orUnset);
        } else {
            expectRefused(thrownBy([&] { qel::intProperty(installation, "QEL_NUMBER", 99); }), noNumber);
        }
    }
}

TEST_F(SessionCallsTest, PropertiesAreSetAndDeleted)
{
    const KestMsiHandle installation = session();
    qel::setProperty(installation, "QEL_TEXT", "a [bracketed] text");
    EXPECT_EQ(Backend::property("QEL_TEXT"), "a [bracketed] text");
    qel::setProperty(installation, "QEL_TEXT", -12);
    EXPECT_EQ(Backend::property("QEL_TEXT"), "-12");
    qel::setProperty(installation, "QEL_TEXT", "");
    EXPECT_EQ(Backend::property("QEL_TEXT"), "");

    expectRefused(thrownBy([&] { qel::setProperty(installation, "", "value"); }),
                  {refusedCall, ERROR_FUNCTION_FAILED, "qel::setProperty", "Function Failed: MsiSetProperty(\"\")"});
}

TEST_F(SessionCallsTest, DirectoryPathsAreReadAndMovedByName)
{
    const KestMsiHandle installation = session();
    EXPECT_EQ(static_cast<const std::string&>(qel::targetPath(installation, "INSTALLDIR")),
              Backend::installDirTarget());
    EXPECT_EQ(static_cast<const std::string&>(qel::sourcePath(installation, "INSTALLDIR")), Backend::packageFolder());

    const std::string moved = Backend::packageFolder() + "Moved\\";
    qel::setTargetPath(installation, "INSTALLDIR", moved);
    EXPECT_EQ(static_cast<const std::string&>(qel::targetPath(installation, "INSTALLDIR")), moved);

    struct Case {
        std::function<void()> call;
        Refused refused;
    };
    const Case cases[] = {
        {[&] { qel::targetPath(installation, "NOWHERE"); },
         {refusedCall, ERROR_DIRECTORY, "qel::targetPath", "Function Failed: MsiGetTargetPath(\"NOWHERE\")"}},
        {[&] { qel::sourcePath(installation, "NOWHERE"); },
         {refusedCall, ERROR_DIRECTORY, "qel::sourcePath", "Function Failed: MsiGetSourcePath(\"NOWHERE\")"}},
        {[&] { qel::setTargetPath(installation, "NOWHERE", moved); },
         {refusedCall, ERROR_DIRECTORY, "qel::setTargetPath", "Function Failed: MsiSetTargetPath(\"NOWHERE\")"}},
    };
    for (const Case& c : cases) {
        expectRefused(thrownBy(c.call), c.refused);
    }
}

TEST_F(SessionCallsTest, TextIsFormattedByTheInstaller)
{
    const KestMsiHandle installation = session();
    Backend::setProperty("QEL_NAME", "Port");
    struct Case {
        std::string text;
        std::string formatted;
    };
    const Case cases[] = {
        {"[INSTALLDIR]settings.ini", Backend::installDirTarget() + "settings.ini"},
        {"[QEL_NAME]=[QEL_UNSET]8080", "Port=8080"},
        {"[\\[]QEL_NAME[\\]]", "[QEL_NAME]"},
        {"plain; 100% = all", "plain; 100% = all"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<const std::string&>(qel::format(installation, c.text)), c.formatted) << c.text;
    }
    // A record's fields fill its template.
    EXPECT_EQ(static_cast<const std::string&>(qel::format(installation,
                                                          [] {
                                                              KestMsiRecord fields = qel::record("Port", 8080);
                                                              fields.setRecordFormat("[1]=[2] in [QEL_NAME]");
                                                              return fields;
                                                          }())),
              "Port=8080 in Port");
}

TEST_F(SessionCallsTest, ConditionsHoldOrNotAndAnUnreadableOneIsRefused)
{
    const KestMsiHandle installation = session();
    Backend::setProperty("QEL_LEVEL", "3");
    struct Case {
        const char* condition;
        bool holds;
    };
    const Case cases[] = {{"QEL_LEVEL = 3", true}, {"QEL_UNSET", false}, {"", true}};
    for (const Case& c : cases) {
        EXPECT_EQ(qel::evaluateCondition(installation, c.condition), c.holds) << c.condition;
    }
    expectRefused(
        thrownBy([&] { qel::evaluateCondition(installation, "QEL_LEVEL = "); }),
        {invalidParameter, 0, "qel::evaluateCondition", "Function Failed: MsiEvaluateCondition(\"QEL_LEVEL = \")"});
}

TEST_F(SessionCallsTest, ModesLanguageAndStatesOfAnImmediateAction)
{
    const KestMsiHandle installation = session();
    EXPECT_FALSE(qel::mode(installation, MSIRUNMODE_SCHEDULED));
    EXPECT_FALSE(qel::mode(installation, MSIRUNMODE_ROLLBACK));
    EXPECT_FALSE(qel::mode(installation, MSIRUNMODE_COMMIT));
    EXPECT_FALSE(qel::mode(installation, MSIRUNMODE_MAINTENANCE));
    EXPECT_EQ(qel::language(installation), 1033);

    const qel::InstallStates main = qel::featureState(installation, "Main");
    EXPECT_EQ(main.installed, INSTALLSTATE_ABSENT);
    EXPECT_EQ(main.action, INSTALLSTATE_LOCAL);
    EXPECT_TRUE(main.isBeingInstalled());
    EXPECT_TRUE(qel::componentState(installation, "Folder").isBeingInstalled());

    qel::setFeatureState(installation, "Main", INSTALLSTATE_ABSENT);
    EXPECT_FALSE(qel::featureState(installation, "Main").isBeingInstalled());
    qel::setComponentState(installation, "Folder", INSTALLSTATE_LOCAL);
    EXPECT_EQ(qel::componentState(installation, "Folder").action, INSTALLSTATE_LOCAL);

    struct Case {
        std::function<void()> call;
        Refused refused;
    };
    const Case cases[] = {
        {[&] { qel::featureState(installation, "NoFeature"); },
         {refusedCall, ERROR_UNKNOWN_FEATURE, "qel::featureState",
          "Function Failed: MsiGetFeatureState(\"NoFeature\")"}},
        {[&] { qel::setFeatureState(installation, "NoFeature", INSTALLSTATE_LOCAL); },
         {refusedCall, ERROR_UNKNOWN_FEATURE, "qel::setFeatureState",
          "Function Failed: MsiSetFeatureState(\"NoFeature\")"}},
        {[&] { qel::componentState(installation, "NoComponent"); },
         {refusedCall, ERROR_UNKNOWN_COMPONENT, "qel::componentState",
          "Function Failed: MsiGetComponentState(\"NoComponent\")"}},
        {[&] { qel::setComponentState(installation, "NoComponent", INSTALLSTATE_LOCAL); },
         {refusedCall, ERROR_UNKNOWN_COMPONENT, "qel::setComponentState",
          "Function Failed: MsiSetComponentState(\"NoComponent\")"}},
        {[&] { qel::doAction(installation, "NoSuchAction"); },
         {refusedCall, ERROR_FUNCTION_NOT_CALLED, "qel::doAction", "Function Failed: MsiDoAction(\"NoSuchAction\")"}},
    };
    for (const Case& c : cases) {
        expectRefused(thrownBy(c.call), c.refused);
    }

    qel::doAction(installation, "SetByAction");
    EXPECT_EQ(Backend::property("SETBYACTION"), "Demo Product!");
}

TEST_F(SessionCallsTest, RowsOfAQueryComeInARangeFor)
{
    const KestMsiHandle installation = session();
    struct Case {
        const char* query;
        Strings parameters;
        Strings rows;
    };
    const Case cases[] = {
        {"SELECT `Name`, `Value` FROM `QelSetting` ORDER BY `Sequence`",
         {},
         {"beta|two", "gamma|", "alpha|one", "delta|[INSTALLDIR]x"}},
        {"SELECT `Name` FROM `QelSetting` WHERE `Number` = ? ORDER BY `Sequence`", {"#2"}, {"beta", "delta"}},
        {"SELECT `Value` FROM `QelSetting` WHERE `Name` = ?", {"alpha"}, {"one"}},
        {"SELECT `Value` FROM `QelSetting` WHERE `Name` = ?", {"omega"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        if (c.parameters.empty()) {
            EXPECT_EQ(texts(qel::rows(installation, c.query)), c.rows);
        } else {
            const KestMsiRecord parameters =
                KestMsiRecord::joining(KestMsiHandle(SharedTest::record(c.parameters), false));
            EXPECT_EQ(texts(qel::rows(installation, c.query, parameters)), c.rows);
        }
    }
}

TEST_F(SessionCallsTest, AViewLeftEarlyOrByAnExceptionClosesEverything)
{
    const KestMsiHandle installation = session();
    const char* query = "SELECT `Name` FROM `QelSetting` ORDER BY `Sequence`";
    for (const KestMsiRecord& row : qel::rows(installation, query)) {
        EXPECT_EQ(static_cast<const std::string&>(row.stringField(1)), "beta");
        break;
    }
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
    // (SharedTest fails the case for any handle left open.)
}

TEST_F(SessionCallsTest, TemporaryRowsJoinTheTableAndBadQueriesAreRefusedByName)
{
    const KestMsiHandle installation = session();
    qel::insertTemporary(installation, "SELECT `Name`, `Value`, `Number`, `Sequence` FROM `QelSetting`",
                         qel::record("epsilon", "five", 5, 50));
    EXPECT_EQ(texts(qel::rows(installation, "SELECT `Value`, `Number` FROM `QelSetting` WHERE `Name` = 'epsilon'")),
              Strings{"five|5"});

    struct Case {
        std::function<void()> call;
        Refused refused;
    };
    const char* badQuery = "SELECT `Name` FROM `NoTable`";
    const char* keyless = "SELECT `Value` FROM `QelSetting`";
    const Case cases[] = {
        {[&] { qel::rows(installation, badQuery); },
         {refusedCall, ERROR_BAD_QUERY_SYNTAX, "KestMsiView::KestMsiView",
          "Function Failed: MsiDatabaseOpenView(\"SELECT `Name` FROM `NoTable`\")"}},
        {[&] { qel::insertTemporary(installation, keyless, qel::record("six")); },
         {refusedCall, ERROR_INVALID_DATA, "KestMsiView::modify",
          "Function Failed: MsiViewModify(\"SELECT `Value` FROM `QelSetting`\")"}},
    };
    for (const Case& c : cases) {
        const auto thrown = thrownBy(c.call);
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->type, c.refused.type);
        EXPECT_EQ(thrown->error.getErrorCode(), c.refused.code);
        // Raised in the view, passed on by the call the author made.
        EXPECT_EQ(thrown->contexts().front(), c.refused.context);
        EXPECT_EQ(thrown->comments().front(), c.refused.comment);
    }
}
