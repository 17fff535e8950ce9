#include "errors/PersistingRule.h"
#include "SimTest.h"
#include "Thrown.h"
#include "errors/EKestMsiError.h"
#include "testing/FailingAllocation.h"

#include <exception>
#include <new>
#include <typeindex>

using namespace persisting;
using qel::testing::FailingAllocation;

namespace {

constexpr const char* trapped = "Unknown exception was trapped";

constexpr PersistingRule checkedRule{"Sample::checked", "Sample", none, none, checked(), trapped};
constexpr PersistingRule uncheckedRule{"Sample::unchecked", "Sample", none, none, unchecked(), trapped};
constexpr PersistingRule narrowingRule{"Sample::narrowing", "Sample", none, checked(), unchecked(), trapped};
constexpr PersistingRule noCatchAllRule{"Sample::noCatchAll", "Sample", none, none, checked(), noCatchAll};
constexpr PersistingRule winOnlyRule{"Sample::winOnly", "Sample", none, checked(), none, "Unknown exception trapped"};
constexpr PersistingRule endingRule{"Sample::ending", "Sample", none, none, checkedEndsIt(), trapped};

int persistLine = 0;

// Raises a plain failure inside the rule's own method.
void raiseIn(const PersistingRule& rule)
{
    persistLine = __LINE__ + 1;
    persist(rule, [&] { throw EKestException(rule.context, rule.fileName, 11, "raised here"); });
}

template <class Body>
void runUnder(const PersistingRule& rule, Body body)
{
    persistLine = __LINE__ + 1;
    persist(rule, body);
}

// Three methods, L calling M calling N, as a chain of callers in the library would.
constexpr PersistingRule ruleN{"Chain::n", "Chain", none, none, checked(), trapped};
constexpr PersistingRule ruleM{"Chain::m", "Chain", none, none, unchecked(pesistingText), trapped};
constexpr PersistingRule ruleL{"Chain::l", "Chain", none, checked(), checked(), trapped};

void n()
{
    persist(ruleN, [] { throw EKestWinError(5, ruleN.context, ruleN.fileName, 3, "Function Failed: DeleteFile()"); });
}
void m()
{
    persist(ruleM, [] { n(); });
}
void l()
{
    persist(ruleL, [] { m(); });
}

// M' raising, then calling itself again through another method: recursion through the rule.
constexpr PersistingRule ruleRecursive{"Chain::recursive", "Chain", none, none, checked(), trapped};
constexpr PersistingRule ruleBetween{"Chain::between", "Chain", none, none, unchecked(), trapped};
void recursive(int depth)
{
    persist(ruleRecursive, [&] {
        if (depth == 0) {
            throw EKestException(ruleRecursive.context, ruleRecursive.fileName, 1, "raised at the bottom");
        }
        persist(ruleBetween, [&] { recursive(depth - 1); });
    });
}

}  // namespace

using PersistingRuleTest = SimTest;

TEST_F(PersistingRuleTest, CheckedHandlerAddsNothingToItsOwnRaiseUncheckedAddsASecondEntry)
{
    const auto fromChecked = thrownBy([] { raiseIn(checkedRule); });
    ASSERT_TRUE(fromChecked);
    EXPECT_EQ(fromChecked->error.getHistory().size(), 1u);

    const auto fromUnchecked = thrownBy([] { raiseIn(uncheckedRule); });
    ASSERT_TRUE(fromUnchecked);
    ASSERT_EQ(fromUnchecked->error.getHistory().size(), 2u);
    const EKestExceptionInfo& added = fromUnchecked->error.getLastHistoryEntry();
    EXPECT_EQ(added.getContext(), "Sample::unchecked");
    EXPECT_EQ(added.getFileName(), "Sample");
    EXPECT_EQ(added.getComment(), "Persisting exception");
    EXPECT_EQ(added.getLine(), persistLine) << "the line of the method's own statement";
    EXPECT_EQ(added.getTypeName(), "EKestException");
}

TEST_F(PersistingRuleTest, EntriesFollowTheOrderInWhichMethodsAreLeft)
{
    const auto thrown = thrownBy(l);
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestException)) << "M passed it on as an EKestException; L keeps that class";
    EXPECT_EQ(thrown->contexts(), (std::vector<std::string>{"Chain::n", "Chain::m", "Chain::l"}));
    EXPECT_EQ(thrown->comments(), (std::vector<std::string>{"Function Failed: DeleteFile()", "Pesisting exception",
                                                            "Persisting exception"}));
    EXPECT_EQ(thrown->error.getErrorCode(), 5);
}

TEST_F(PersistingRuleTest, CheckedFormLooksAtTheFirstEntryEvenWhenTheMethodIsReentered)
{
    const auto thrown = thrownBy([] { recursive(2); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->contexts(), (std::vector<std::string>{"Chain::recursive", "Chain::between", "Chain::between"}));
}

TEST_F(PersistingRuleTest, AContextDifferingOnlyInLetterCaseIsAnotherMethod)
{
    const auto thrown =
        thrownBy([] { runUnder(checkedRule, [] { throw EKestException("sample::CHECKED", "Sample", 1, "raised"); }); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->contexts(), (std::vector<std::string>{"sample::CHECKED", "Sample::checked"}));
}

TEST_F(PersistingRuleTest, InstallerErrorNarrowsToWinErrorAndItsRecordIsClosedOnce)
{
    const MSIHANDLE record = sim::setPendingErrorRecord({sim::Null{}, 1603, std::string("extended")});

    const auto thrown = thrownBy([] {
        runUnder(narrowingRule, [] { throw EKestMsiError(1603, "Owner::call", "Owner", 9, "Function Failed: X()"); });
    });

    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestWinError));
    EXPECT_EQ(thrown->error.getErrorCode(), 1603);
    EXPECT_EQ(thrown->error.getMessage(), "") << "the installer's record was its content";
    EXPECT_EQ(thrown->contexts(), (std::vector<std::string>{"Owner::call", "Sample::narrowing"}));
    const auto info = sim::handleInfo(record);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->open) << "the narrowed copy owns no record; the last owner closed it";
    EXPECT_EQ(info->closeCalls, 1);
    EXPECT_EQ(sim::badCloses(), 0u);
}

TEST_F(PersistingRuleTest, TheCatchAllReplacesAnythingOutsideTheFamily)
{
    for (auto raise : {+[] { throw std::bad_alloc(); }, +[] { throw 42; }}) {
        const auto thrown = thrownBy([&] { runUnder(checkedRule, raise); });
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->type, typeid(EKestException));
        EXPECT_EQ(thrown->error.getErrorCode(), 0);
        EXPECT_EQ(thrown->error.getMessage(), "Unknown exception");
        EXPECT_EQ(thrown->error.getCaption(), "Program Exception");
        ASSERT_EQ(thrown->error.getHistory().size(), 1u);
        EXPECT_EQ(thrown->error.getFirstHistoryEntry().getContext(), "Sample::checked");
        EXPECT_EQ(thrown->error.getFirstHistoryEntry().getComment(), trapped);
        EXPECT_EQ(thrown->error.getFirstHistoryEntry().getLine(), persistLine);
    }
}

TEST_F(PersistingRuleTest, OutOfMemoryInAHandlerPassesTheCaughtExceptionOnAsItIs)
{
    struct Case {
        const PersistingRule* rule;
        std::type_index passedAs;
    };
    for (const Case& c : {Case{&checkedRule, typeid(EKestException)}, Case{&uncheckedRule, typeid(EKestException)},
                          Case{&narrowingRule, typeid(EKestWinError)}, Case{&noCatchAllRule, typeid(EKestException)}}) {
        for (std::size_t nth = 1;; ++nth) {
            // Made beforehand and rethrown as it is: every allocation counted is the handler's.
            const auto raised = std::make_exception_ptr(EKestWinError(5, "Owner::call", "Owner", 7, "raised there"));
            FailingAllocation memory(nth);
            std::optional<Thrown> thrown;
            try {
                runUnder(*c.rule, [&] { std::rethrow_exception(raised); });
            } catch (const EKestException& error) {
                memory.stop();
                thrown = Thrown{typeid(error), error};
            } catch (...) {
                memory.stop();
                ADD_FAILURE() << c.rule->context << ": something outside the family left at allocation " << nth;
            }
            memory.stop();
            ASSERT_TRUE(thrown) << c.rule->context;
            EXPECT_EQ(thrown->comments().front(), "raised there") << c.rule->context << ", allocation " << nth;
            if (!memory.failed()) {
                EXPECT_EQ(thrown->type, c.passedAs) << c.rule->context;
                EXPECT_EQ(thrown->contexts(), (std::vector<std::string>{"Owner::call", c.rule->context}));
                break;
            }
            // Its own class or the handler's, with or without the entry the handler was making.
            EXPECT_TRUE(thrown->type == c.passedAs || thrown->type == typeid(EKestWinError)) << c.rule->context;
            EXPECT_LE(thrown->contexts().size(), 2u) << c.rule->context << ", allocation " << nth;
        }
    }
}

TEST_F(PersistingRuleTest, OutOfMemoryInTheCatchAllPassesAFamilyExceptionOnAsItIs)
{
    for (std::size_t nth = 1;; ++nth) {
        const auto raised = std::make_exception_ptr(EKestInvalidParameter("Owner::call", "Owner", 1, "bad value"));
        FailingAllocation memory(nth);
        std::optional<Thrown> thrown;
        try {
            runUnder(winOnlyRule, [&] { std::rethrow_exception(raised); });
        } catch (const EKestException& error) {
            memory.stop();
            thrown = Thrown{typeid(error), error};
        } catch (...) {
            memory.stop();
            ADD_FAILURE() << "something outside the family left at allocation " << nth;
        }
        memory.stop();
        ASSERT_TRUE(thrown);
        if (!memory.failed()) {
            EXPECT_EQ(thrown->comments(), (std::vector<std::string>{"Unknown exception trapped"}));
            break;
        }
        EXPECT_EQ(thrown->type, typeid(EKestInvalidParameter)) << "allocation " << nth;
        EXPECT_EQ(thrown->comments(), (std::vector<std::string>{"bad value"})) << "allocation " << nth;
    }
}

TEST_F(PersistingRuleTest, WithoutACatchAllForeignExceptionsPassUnchanged)
{
    EXPECT_THROW(runUnder(noCatchAllRule, [] { throw 42; }), int);
}

TEST_F(PersistingRuleTest, AFamilyExceptionNoTypedHandlerTakesGoesToTheCatchAll)
{
    const auto thrown = thrownBy(
        [] { runUnder(winOnlyRule, [] { throw EKestInvalidParameter("Owner::call", "Owner", 1, "bad value"); }); });
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->type, typeid(EKestException));
    EXPECT_EQ(thrown->comments(), (std::vector<std::string>{"Unknown exception trapped"}));
}

TEST_F(PersistingRuleTest, AnEndingHandlerLetsTheMethodReturnItsEndedValue)
{
    const int fromCallee = persist(
        endingRule, []() -> int { throw EKestException("Owner::call", "Owner", 1, "raised"); }, [] { return -1; });
    EXPECT_EQ(fromCallee, -1);

    const int normal = persist(
        endingRule, [] { return 7; }, [] { return -1; });
    EXPECT_EQ(normal, 7);

    EXPECT_THROW(persist(
                     endingRule, []() -> int { throw 42; }, [] { return -1; }),
                 EKestException)
        << "only exceptions of the family end there";
}
