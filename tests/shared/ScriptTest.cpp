// Installations with deferred, rollback and commit actions (shared/ScriptActions.h): what runs,
// in which order and mode, with which data, and what a deferred action can reach.
#include "backend/SharedTest.h"

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using ScriptTest = SharedTest;
using Words = std::vector<std::string>;

Words words(const std::string& text)
{
    std::istringstream in(text);
    Words all;
    for (std::string word; in >> word;) {
        all.push_back(word);
    }
    return all;
}

// The data of the actions that ran in a mode ("S" deferred, "SR" rollback, "SC" commit, or "-": at
// once, not from the script), in order.
Words ranIn(const Backend::Installation& installation, const std::string& mode)
{
    Words data;
    for (const std::string& report : installation.reports) {
        const Words parts = words(report);
        if (parts.size() == 3 && parts[0] == "ran" && parts[2] == mode) {
            data.push_back(parts[1]);
        } else if (parts.size() == 2 && parts[0] == "ran" && parts[1] == mode) {
            data.push_back("");  // ran without data
        }
    }
    return data;
}

// What QelDeferred with this data saw: the value of "saw DATA NAME VALUE".
std::string saw(const Backend::Installation& installation, const std::string& data, const std::string& name)
{
    const std::string prefix = "saw " + data + " " + name + " ";
    for (const std::string& report : installation.reports) {
        if (report.rfind(prefix, 0) == 0) {
            return report.substr(prefix.size());
        }
    }
    return "<not reported>";
}

Words scheduledAnswers(const Backend::Installation& installation)
{
    Words answers;
    for (const std::string& report : installation.reports) {
        const Words parts = words(report);
        if (parts.size() == 3 && parts[0] == "scheduled") {
            answers.push_back(parts[2]);
        }
    }
    return answers;
}

}  // namespace

TEST_F(ScriptTest, TheScriptRunsAfterTheImmediateActionsAndRollsBackWhatFailed)
{
    struct Case {
        const char* plan;
        unsigned long result;
        Words deferred;  // ran in the script as deferred actions, in order
        Words rollback;  // ran as rollback actions, in order
        Words commit;    // ran as commit actions, in order
    };
    const Case cases[] = {
        // Deferred actions in order, each with the data it was scheduled with; a rollback action
        // is kept for a failure that does not come; commit actions run at the end.
        {"R:r1 D:d1 C:c1 D:d2", ERROR_SUCCESS, {"d1", "d2"}, {}, {"c1"}},
        // A failed deferred action rolls back what was scheduled before it, the last first; what
        // came after it and the commit actions never run.
        {"R:r1 D:d1 C:c1 R:r2 F:f1 R:r3 D:d3", ERROR_INSTALL_FAILURE, {"d1", "f1"}, {"r2", "r1"}, {}},
        // A failed immediate action ends the installation before the script: nothing ran, so
        // nothing is rolled back.
        {"R:r1 D:d1 X", ERROR_INSTALL_FAILURE, {}, {}, {}},
        {"D:d1 C:c1 U", ERROR_INSTALL_USEREXIT, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plan);
        const Backend::Installation installation = Backend::install(c.plan);
        EXPECT_EQ(installation.result, c.result);
        // Scheduling answers success, for every kind of action.
        for (const std::string& answer : scheduledAnswers(installation)) {
            EXPECT_EQ(answer, "0");
        }
        EXPECT_EQ(ranIn(installation, "S"), c.deferred);
        expectDocumented(ranIn(installation, "-"), Words{}, documented::scriptHoldsRollbackAndCommitActions);
        // (A platform that departs shows it only where there was something to run.)
        if (!c.commit.empty()) {
            expectDocumented(ranIn(installation, "SC"), c.commit, documented::scriptHoldsRollbackAndCommitActions);
        } else {
            EXPECT_EQ(ranIn(installation, "SC"), Words{});
        }
        // (Nor where the installation succeeded, or held no rollback action.)
        if (c.result != ERROR_SUCCESS && std::string(c.plan).find("R:") != std::string::npos) {
            expectDocumented(ranIn(installation, "SR"), c.rollback, documented::failedScriptRunsItsRollbackActions);
        } else {
            EXPECT_EQ(ranIn(installation, "SR"), Words{});
        }
        // A deferred action reaches its data and little else; a commit action less still.
        std::vector<std::pair<std::string, bool>> scriptActions;  // data, and whether a commit action's
        for (const std::string& data : c.deferred) {
            if (data[0] == 'd') {  // QelFail reports nothing it saw
                scriptActions.emplace_back(data, false);
            }
        }
        for (const std::string& data : ranIn(installation, "SC")) {
            scriptActions.emplace_back(data, true);
        }
        for (const auto& [data, commit] : scriptActions) {
            SCOPED_TRACE(data);
            if (commit) {
                expectDocumented(saw(installation, data, "ProductCode"), std::string("empty"),
                                 documented::commitActionReadsNoProductCode);
                expectDocumented(saw(installation, data, "language"), std::string("0"),
                                 documented::commitActionHasNoLanguage);
            } else {
                EXPECT_EQ(saw(installation, data, "ProductCode"), "set");
                EXPECT_EQ(saw(installation, data, "language"), "1033");
            }
            EXPECT_EQ(saw(installation, data, "UserSID"), "set");
            EXPECT_EQ(saw(installation, data, "progress"), "0");
            expectDocumented(saw(installation, data, "ProductLine"), std::string(""),
                             documented::deferredActionReadsItsDataOnly);
            expectDocumented(saw(installation, data, "database"), std::string("0"),
                             documented::deferredActionHasNoDatabase);
            const std::string refused = std::to_string(ERROR_INVALID_HANDLE);
            expectDocumented(saw(installation, data, "setFeatureState"), refused,
                             documented::scriptActionSetsNoFeatureState);
            expectDocumented(saw(installation, data, "doAction"), refused, documented::scriptActionRunsNoAction);
            expectDocumented(saw(installation, data, "setProperty"), refused, documented::scriptActionSetsNoProperty);
            expectDocumented(saw(installation, data, "condition"), std::to_string(MSICONDITION_ERROR),
                             documented::scriptActionEvaluatesNoCondition);
        }
    }
}
