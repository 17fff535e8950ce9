// The author's calls on the platform model where the model shows what the installer was sent: log
// lines and messages with the user's answers, progress, deferred actions with their data; and
// every raise site of the calls, whose history entry names the call, what it was for, and the line
// of its raise.
#include "SimTest.h"
#include "SourceLine.h"
#include "Thrown.h"
#include "actions/ActionFrame.h"
#include "msi/Database.h"
#include "msi/Deferred.h"
#include "msi/InstallerText.h"
#include "msi/Progress.h"
#include "msi/Session.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using AuthorCallsTest = SimTest;
using Fields = std::vector<sim::Field>;

KestMsiHandle installation(MSIHANDLE session)
{
    return KestMsiHandle(session, true);
}

const sim::Message& lastMessage()
{
    return sim::messages().back();
}

// A session whose property QEL_SECRET is hidden (MsiHiddenProperties), with INSTALLDIR set: what the
// installer's formatting would put in place of a reference is visible in the formatted text.
MSIHANDLE sessionWithASecret()
{
    const MSIHANDLE session = sim::openSession();
    sim::setProperty(session, "QEL_SECRET", "hunter2");
    sim::setProperty(session, "MsiHiddenProperties", "QEL_SECRET");
    sim::setProperty(session, "INSTALLDIR", "C:\\Demo\\");
    return session;
}

// Texts the installer's formatting would change: a hidden property, [~] (a NUL that cuts the line),
// escapes, groups in braces, field references.
const std::vector<std::string>& textsTheInstallerWouldFormat()
{
    static const std::vector<std::string> texts{
        "value: [QEL_SECRET]",
        "cut [~] here",
        "escapes [\\[] and [\\]] as written",
        "{a group [QEL_SECRET]} and {{nested}} {[INSTALLDIR]}",
        "[[QEL_SECRET]] ]][[ {",
        "C:\\Program Files\\App [1]\\ [%PATH]",
    };
    return texts;
}

void expectNoSecretIn(const std::vector<sim::Message>& messages)
{
    for (const sim::Message& message : messages) {
        EXPECT_EQ(message.text.find("hunter2"), std::string::npos) << message.text;
    }
}

TEST_F(AuthorCallsTest, LogLinesReachTheInstallerAsTheyAre)
{
    const MSIHANDLE session = sessionWithASecret();
    const KestMsiHandle handle = installation(session);
    struct Case {
        std::function<void()> log;
        std::string text;
    };
    const KestCString path = "C:\\Program Files\\App [1]\\";
    std::vector<Case> cases{
        {[&] { qel::log(handle, "plain"); }, "plain"},
        {[&] { qel::log(handle, "%d settings to %s; %s", 3, path, std::string("100% [INSTALLDIR]")); },
         "3 settings to C:\\Program Files\\App [1]\\; 100% [INSTALLDIR]"},
        {[&] { qel::log(handle, "error %lu, %I64d bytes", DWORD{4000000000u}, std::int64_t{-5}); },
         "error 4000000000, -5 bytes"},
    };
    for (const std::string& text : textsTheInstallerWouldFormat()) {
        cases.push_back({[&] { qel::log(handle, "%s", text); }, text});
    }
    for (const Case& c : cases) {
        c.log();
        EXPECT_EQ(lastMessage().type, INSTALLMESSAGE_INFO) << c.text;
        // The text goes as field 1 under the template "[1]", escaped so that the installer's
        // formatting gives it back as it is (UnicodeTest checks that against the installer).
        EXPECT_EQ(lastMessage().fields, (Fields{std::string("[1]"), unformatted<char>(c.text)}));
        EXPECT_EQ(lastMessage().text, c.text) << "as the installer logs it";
    }
    expectNoSecretIn(sim::messages());
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
}

TEST_F(AuthorCallsTest, MessagesAnswerWhatTheUserChose)
{
    const MSIHANDLE session = sim::openSession();
    const KestMsiHandle handle = installation(session);
    for (const int answer : {IDOK, IDCANCEL, IDYES, IDNO, 0}) {
        sim::setProcessMessageResult(answer);
        EXPECT_EQ(qel::message(handle, INSTALLMESSAGE_WARNING, qel::record(26002), MB_OKCANCEL), answer);
        EXPECT_EQ(lastMessage().type, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_WARNING | MB_OKCANCEL));
        EXPECT_EQ(lastMessage().fields, (Fields{sim::Null{}, 26002}));

        EXPECT_EQ(qel::message(handle, INSTALLMESSAGE_ERROR, "Disk [1] full"), answer);
        EXPECT_EQ(lastMessage().type, INSTALLMESSAGE_ERROR);
        EXPECT_EQ(lastMessage().fields, (Fields{std::string("[1]"), std::string("Disk [\\[]1[\\]] full")}));
        EXPECT_EQ(lastMessage().text, "Disk [1] full");
    }
    EXPECT_EQ(sim::openHandles(sim::HandleKind::record), 0u);
}

TEST_F(AuthorCallsTest, AMessagesTextIsShownAsWritten)
{
    const MSIHANDLE session = sessionWithASecret();
    const KestMsiHandle handle = installation(session);
    for (const std::string& text : textsTheInstallerWouldFormat()) {
        for (const INSTALLMESSAGE type : {INSTALLMESSAGE_ERROR, INSTALLMESSAGE_WARNING, INSTALLMESSAGE_USER}) {
            qel::message(handle, type, text);
            EXPECT_EQ(lastMessage().text, text) << type;
        }
    }
    // A record of the author's own is the installer's to format: its template is meant to be.
    KestMsiRecord formatted(1);
    formatted.setRecordFormat("Folder [1]");
    formatted.setStringField(1, "[INSTALLDIR]");
    qel::message(handle, INSTALLMESSAGE_INFO, formatted);
    EXPECT_EQ(lastMessage().text, "Folder C:\\Demo\\");
    expectNoSecretIn(sim::messages());
}

TEST_F(AuthorCallsTest, ProgressIsReservedThenReportedAndAnswersTheUser)
{
    const MSIHANDLE session = sim::openSession();
    const KestMsiHandle handle = installation(session);
    EXPECT_EQ(qel::addProgressTicks(handle, 30000), 0);
    EXPECT_EQ(qel::actionStart(handle, "qelWrite", "Writing", "Setting: [1]"), 0);
    EXPECT_EQ(lastMessage().type, INSTALLMESSAGE_ACTIONSTART);
    EXPECT_EQ(lastMessage().fields,
              (Fields{sim::Null{}, std::string("qelWrite"), std::string("Writing"), std::string("Setting: [1]")}));
    EXPECT_EQ(qel::actionData(handle, qel::record("Port")), 0);
    EXPECT_EQ(lastMessage().type, INSTALLMESSAGE_ACTIONDATA);
    EXPECT_EQ(qel::reportProgress(handle, 10000), 0);
    sim::setProcessMessageResult(IDCANCEL);
    EXPECT_EQ(qel::reportProgress(handle, 10000), IDCANCEL);

    const sim::Progress progress = sim::progress();
    EXPECT_EQ(progress.total, 30000);
    EXPECT_EQ(progress.done, 20000);
    EXPECT_EQ(progress.adds, 1);
    EXPECT_EQ(progress.reports, 2);
    EXPECT_EQ(progress.malformed, 0);
}

// ---- Deferred actions --------------------------------------------------------------------------

// What the deferred and rollback actions below read, in the order they ran.
struct Received {
    const char* action;
    qel::DeferredData data;
    bool scheduled;
    bool rollback;
};
std::vector<Received> received;
qel::DeferredData scheduledData;

template <const char* name>
UINT WINAPI receive(MSIHANDLE session)
{
    return qel::runAction(session, name, [](KestMsiHandle& handle) {
        received.push_back({name, qel::deferredData(handle), qel::mode(handle, MSIRUNMODE_SCHEDULED),
                            qel::mode(handle, MSIRUNMODE_ROLLBACK)});
    });
}
constexpr char undo[] = "QelUndo";
constexpr char write[] = "QelWrite";

UINT WINAPI scheduleBoth(MSIHANDLE session)
{
    return qel::runAction(session, "QelSchedule", [](KestMsiHandle& handle) {
        qel::schedule(handle, undo, scheduledData);
        qel::schedule(handle, write, scheduledData);
    });
}

UINT WINAPI failing(MSIHANDLE)
{
    return ERROR_INSTALL_FAILURE;
}

TEST_F(AuthorCallsTest, DeferredActionsReadTheDataTheirImmediateActionScheduledThemWith)
{
    struct Case {
        const char* name;
        std::vector<qel::DeferredData::Entry> entries;
        bool laterFailure;
    };
    const Case cases[] = {
        {"a path and lines", {{"file", "C:\\App\\settings.ini"}, {"line", "a;b=c%d"}, {"line", ""}}, false},
        {"nothing", {}, false},
        {"a later failure rolls back", {{"file", "C:\\App\\settings.ini"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        received.clear();
        scheduledData = qel::DeferredData();
        for (const auto& entry : c.entries) {
            scheduledData.add(entry.name, entry.value);
        }
        const MSIHANDLE session = sim::openSession();
        constexpr int deferred = sim::customActionDll | sim::customActionInScript;
        sim::addCustomAction(session, undo, deferred | sim::customActionRollback, &receive<undo>);
        sim::addCustomAction(session, write, deferred, &receive<write>);
        sim::addCustomAction(session, "QelFail", deferred, &failing);
        std::vector<sim::Step> steps{&scheduleBoth};
        if (c.laterFailure) {
            steps.emplace_back(+[](MSIHANDLE handle) -> UINT { return MsiDoActionA(handle, "QelFail"); });
        }

        const sim::Installation result = sim::runInstallation(session, steps);

        EXPECT_EQ(result.result, c.laterFailure ? static_cast<UINT>(ERROR_INSTALL_FAILURE) : ERROR_SUCCESS);
        ASSERT_EQ(received.size(), c.laterFailure ? 2u : 1u);
        EXPECT_STREQ(received[0].action, write);
        EXPECT_EQ(received[0].data.entries(), scheduledData.entries());
        EXPECT_TRUE(received[0].scheduled);
        EXPECT_FALSE(received[0].rollback);
        if (c.laterFailure) {
            EXPECT_STREQ(received[1].action, undo);
            EXPECT_EQ(received[1].data.entries(), scheduledData.entries());
            EXPECT_TRUE(received[1].rollback);
            EXPECT_TRUE(received[1].scheduled);  // every action of the script runs scheduled
        }
        MsiCloseHandle(session);
    }
}

// ---- Every raise site --------------------------------------------------------------------------

TEST_F(AuthorCallsTest, EveryRefusedCallNamesWhatItWasForAtItsRaiseLine)
{
    struct Site {
        const char* fault;  // the function refused: its first call, or its second (two-call protocol)
        int nth;
        long long result;
        std::function<void(const KestMsiHandle&)> call;
        const char* context;  // of the first history entry
        std::string comment;
    };
    const char* query = "SELECT `Name` FROM `T`";
    const Site sites[] = {
        {"MsiGetPropertyW", 2, ERROR_FUNCTION_FAILED, [](auto& s) { qel::property(s, "UILevel"); }, "qel::property",
         "Function Failed: MsiGetProperty(\"UILevel\")"},
        {"MsiGetPropertyW", 2, ERROR_INVALID_HANDLE, [](auto& s) { qel::intProperty(s, "UILevel", 5); },
         "qel::property", "Function Failed: MsiGetProperty(\"UILevel\")"},
        {"MsiGetTargetPathW", 2, ERROR_DIRECTORY, [](auto& s) { qel::targetPath(s, "INSTALLDIR"); }, "qel::targetPath",
         "Function Failed: MsiGetTargetPath(\"INSTALLDIR\")"},
        {"MsiFormatRecordW", 2, ERROR_INVALID_HANDLE, [](auto& s) { qel::format(s, "[INSTALLDIR]x"); }, "qel::format",
         "Function Failed: MsiFormatRecord(\"[INSTALLDIR]x\")"},
        {"MsiFormatRecordW", 2, ERROR_INVALID_HANDLE, [](auto& s) { qel::format(s, qel::record(1)); }, "qel::format",
         "Function Failed: MsiFormatRecord()"},
        {"MsiProcessMessage", 1, -1, [](auto& s) { qel::log(s, "%d", 1); }, "qel::message",
         "Function Failed: MsiProcessMessage()"},
        {"MsiProcessMessage", 1, -1, [](auto& s) { qel::reportProgress(s, 1); }, "qel::message",
         "Function Failed: MsiProcessMessage()"},
        {"MsiDoActionW", 1, ERROR_INSTALL_FAILURE, [](auto& s) { qel::schedule(s, "QelWrite", qel::DeferredData()); },
         "qel::doAction", "Function Failed: MsiDoAction(\"QelWrite\")"},
        {"MsiGetActiveDatabase", 1, 0, [&](auto& s) { qel::rows(s, query); }, "KestMsiDatabase::KestMsiDatabase",
         "Function Failed: MsiGetActiveDatabase()"},
        {"MsiViewExecute", 1, ERROR_FUNCTION_FAILED, [&](auto& s) { qel::rows(s, query); }, "KestMsiView::execute",
         "Function Failed: MsiViewExecute(\"SELECT `Name` FROM `T`\")"},
        {"MsiViewFetch", 1, ERROR_FUNCTION_FAILED,
         [&](auto& s) {
             for (const KestMsiRecord& row : qel::rows(s, query)) {
                 (void)row;
             }
         },
         "KestMsiView::fetch", "Function Failed: MsiViewFetch(\"SELECT `Name` FROM `T`\")"},
        {"MsiViewGetColumnInfo", 1, ERROR_INVALID_HANDLE,
         [&](auto& s) {
             for (const auto& row : qel::rows(s, query)) {
                 row.text("Name");
             }
         },
         "qel::Rows::fieldOf", "Function Failed: MsiViewGetColumnInfo(\"SELECT `Name` FROM `T`\")"},
        {"MsiViewClose", 1, ERROR_INVALID_HANDLE,
         [&](auto& s) {
             KestMsiView view = qel::rows(s, query);
             view.close();
         },
         "KestMsiView::close", "Function Failed: MsiViewClose(\"SELECT `Name` FROM `T`\")"},
        {"", 0, 0,
         [](auto& s) {
             sim::setProperty(s.getMsiHandle(), "CustomActionData", "a=1;b");
             qel::deferredData(s);
         },
         "qel::DeferredData::decode", "The deferred data is malformed at byte 6: an entry without '='"},
    };
    for (const Site& site : sites) {
        SCOPED_TRACE(site.comment);
        sim::reset();
        const MSIHANDLE session = sim::openSession();
        sim::setDirectory(session, "INSTALLDIR", "C:\\App\\", "D:\\");
        sim::setFeature(session, "Main", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL, {"Folder"});
        sim::addTable(session, "T", {{"Name", "s72"}});
        sim::addRow(session, "T", {std::string("row")});
        sim::addCustomAction(session, "QelWrite", sim::customActionDll | sim::customActionInScript, &failing);
        if (*site.fault != '\0') {
            sim::failCall(site.fault, site.nth, site.result);
        }

        const auto thrown = thrownBy([&] { site.call(installation(session)); });

        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->contexts().front(), site.context);
        EXPECT_EQ(thrown->comments().front(), site.comment);
        const EKestExceptionInfo& raised = thrown->error.getFirstHistoryEntry();
        const std::string line = sourceLine(raised.getFileName(), raised.getLine());
        EXPECT_NE(line.find("raise"), std::string::npos) << line;
        EXPECT_EQ(sim::openHandles(sim::HandleKind::record) + sim::openHandles(sim::HandleKind::view) +
                      sim::openHandles(sim::HandleKind::database),
                  0u);
        MsiCloseHandle(session);
    }
}

}  // namespace
