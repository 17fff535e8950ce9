// Text in any script through the kit's calls, on the test package (backend/Backend.h): what goes in
// comes back whole, whatever the machine's ANSI code page, while the installer's ANSI call on the
// same text gives what that code page can hold (the platform's own conversion of it). Run under
// Wine in several locales, so in several code pages.
#include "backend/SharedTest.h"

#include "Thrown.h"

#include "actions/File.h"
#include "msi/Database.h"
#include "msi/Deferred.h"
#include "msi/InstallerText.h"
#include "msi/Records.h"
#include "msi/Session.h"
#include "text/Unicode.h"

#include <string>
#include <vector>

namespace {

using UnicodeTest = SharedTest;

KestMsiHandle session()
{
    return KestMsiHandle(Backend::session(), true);
}

// Texts that lie outside some code page of every locale the tests run in.
const std::vector<std::string>& texts()
{
    static const std::vector<std::string> all{
        "Café crème", "Программы и настройки",
        "Ελληνικά",   "日本語のテキスト",
        "한국어",     "Café, Привет, Γειά, 日本, 한국 \U0001F600",
    };
    return all;
}

// What the installer's ANSI getter gives for a property, and what the platform's own conversion to
// the ANSI code page makes of the text: the two must agree.
std::string ansiProperty(const char* name)
{
    char buffer[1024] = "";
    DWORD size = sizeof buffer;
    EXPECT_EQ(MsiGetPropertyA(Backend::session(), name, buffer, &size), static_cast<UINT>(ERROR_SUCCESS));
    return std::string(buffer, size < sizeof buffer ? size : 0);
}

std::string ansiOf(const std::string& text)
{
    const qel::WideText wide = qel::toWide(text);
    std::string ansi(wide.size() * 2 + 1, '\0');
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(),
                                           static_cast<int>(ansi.size()), nullptr, nullptr);
    ansi.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return ansi;
}

}  // namespace

TEST_F(UnicodeTest, TheKitsCallsKeepTextInAnyScriptWholeAndTheAnsiCallsLoseWhatTheCodePageLacks)
{
    const KestMsiHandle installation = session();
    int lostByAnsi = 0;
    for (const std::string& text : texts()) {
        SCOPED_TRACE(text);

        qel::setProperty(installation, "QEL_TEXT", text);
        EXPECT_EQ(qel::property(installation, "QEL_TEXT"), text);
        const std::string ansi = ansiProperty("QEL_TEXT");
        EXPECT_EQ(ansi, ansiOf(text)) << "the ANSI call against the code page " << GetACP();
        lostByAnsi += qel::fromAnsi(ansi) != text ? 1 : 0;

        EXPECT_EQ(qel::format(installation, "<[QEL_TEXT]>"), "<" + text + ">");
        EXPECT_TRUE(qel::evaluateCondition(installation, "QEL_TEXT = \"" + text + "\""));

        const std::string folder = "C:\\" + text + "\\";
        qel::setTargetPath(installation, "INSTALLDIR", folder);
        EXPECT_EQ(qel::targetPath(installation, "INSTALLDIR"), folder);

        const KestMsiRecord fields = qel::record(text, 7);
        EXPECT_EQ(qel::text(fields, 1), text);
        EXPECT_EQ(qel::text(fields, 2), "7");

        qel::DeferredData data;
        data.add(text, text + "=;%");
        qel::setProperty(installation, "QEL_DATA", data.encode());
        EXPECT_EQ(qel::DeferredData::decode(qel::property(installation, "QEL_DATA")).value(text), text + "=;%");

        // A temporary row of the package's table, found by a parameter in the same script.
        const std::string name = "n:" + text;
        qel::insertTemporary(installation, "SELECT `Name`, `Value`, `Sequence` FROM `QelSetting`",
                             qel::record(name, text, 99));
        std::vector<std::string> found;
        for (const KestMsiRecord& row :
             qel::rows(installation, "SELECT `Value` FROM `QelSetting` WHERE `Name` = ?", qel::record(name))) {
            found.push_back(qel::text(row, 1));
        }
        EXPECT_EQ(found, std::vector<std::string>{text});

        // A feature the package lacks is refused, and the report names it whole.
        const auto thrown = thrownBy([&] { qel::featureState(installation, text); });
        ASSERT_TRUE(thrown.has_value());
        EXPECT_EQ(thrown->comments().front(), "Function Failed: MsiGetFeatureState(\"" + text + "\")");
    }
    // No code page holds every script: the ANSI call lost some text, which the kit's calls kept.
    EXPECT_GT(lostByAnsi, 0) << "code page " << GetACP();
    qel::setProperty(installation, "QEL_TEXT", "");
    qel::setProperty(installation, "QEL_DATA", "");
}

TEST_F(UnicodeTest, FilesAndFoldersAreReachedByTheirNamesInAnyScript)
{
    const std::string temporary = qel::fromWide([] {
        WCHAR folder[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
        return qel::WideText(folder, length <= MAX_PATH ? length : 0);
    }());
    ASSERT_FALSE(temporary.empty());
    for (const std::string& text : texts()) {
        SCOPED_TRACE(text);
        const std::string folder = temporary + text + "\\" + text + "\\";
        const std::string file = folder + text + ".ini";

        qel::createFolder(folder);
        EXPECT_TRUE(qel::folderExists(folder));
        qel::File written = qel::File::create(file);
        written.write("value=" + text + "\r\n");
        written.close();
        EXPECT_TRUE(qel::fileExists(file));
        EXPECT_FALSE(qel::fileExists(folder));
        EXPECT_EQ(qel::readFile(file), "value=" + text + "\r\n");

        qel::writeFile(file, text);
        EXPECT_EQ(qel::readFile(file), text);
        qel::copyFile(file, file + ".copy");
        qel::moveFile(file + ".copy", file + ".moved");
        EXPECT_FALSE(qel::fileExists(file + ".copy"));
        EXPECT_EQ(qel::readFile(file + ".moved"), text);

        EXPECT_TRUE(qel::deleteFile(file + ".moved"));
        EXPECT_TRUE(qel::deleteFile(file));
        EXPECT_FALSE(qel::deleteFile(file));
        EXPECT_TRUE(qel::removeFolder(folder));
        EXPECT_TRUE(qel::removeFolder(temporary + text));
        EXPECT_FALSE(qel::removeFolder(temporary + text));
    }
}

TEST_F(UnicodeTest, WhatAnActionLogsIsNeverFormattedByTheInstaller)
{
    // The installer formats a message's fields once they are in its template, as MsiFormatRecord
    // does: the escaped field under "[1]" must come back as written, and no property's value with it.
    const KestMsiHandle installation = session();
    qel::setProperty(installation, "QEL_SECRET", "hunter2");
    qel::setProperty(installation, "MsiHiddenProperties", "QEL_SECRET");
    struct Case {
        std::string text;
        bool formatted;  // whether the installer changes the text when it is not escaped
        bool leaks;      // and puts the secret's value in it
    };
    const Case cases[] = {
        {"value: [QEL_SECRET]", true, true},
        {"cut [~] here", true, false},
        {"escapes [\\[] and [\\]] as written", true, false},
        {"{a group [QEL_SECRET]} and {{nested}}", true, true},
        {"{[ProductLine]} {[NOSUCH]} {}", true, false},
        {"[%PATH] [#File] [$Component] [!File] [1] [2]", true, false},
        {"C:\\Программы [Name]\\", true, false},
        {"[[QEL_SECRET]] ]][[ {", true, false},  // the value names a property, which is empty
        {"[QEL_SECRET] [", false, false},        // a bracket never closed: left as written
        {"plain, 100%", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KestMsiRecord record(1);
        record.setRecordFormat("[1]");
        qel::setTextField(record, 1, unformatted<char>(c.text));
        EXPECT_EQ(qel::format(installation, record), c.text);
        // Not escaped, the same field is formatted, the secret's value put in where it is named.
        qel::setTextField(record, 1, c.text);
        const std::string raw = qel::format(installation, record);
        EXPECT_EQ(raw != c.text, c.formatted) << raw;
        EXPECT_EQ(raw.find("hunter2") != std::string::npos, c.leaks) << raw;
    }
    qel::setProperty(installation, "QEL_SECRET", "");
    qel::setProperty(installation, "MsiHiddenProperties", "");

    // In an installation, an action logs the same texts as the library logs a line (plan "L" of
    // shared/ScriptActions.h): the log holds each as written, and the secret's value nowhere.
    const Backend::Installation logged = Backend::install("L");
    EXPECT_EQ(logged.result, static_cast<unsigned long>(ERROR_SUCCESS));
    std::vector<std::string> lines;
    for (const std::string& report : logged.reports) {
        if (report.rfind("logged ", 0) == 0) {
            lines.push_back(report.substr(7));
        }
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"[QEL_SECRET]", "cut [~] here", "[\\[]x[\\]]", "{a [QEL_SECRET]} {{b}}",
                                               "{[ProductLine]}"}));
    EXPECT_EQ(logged.log.find("hunter2"), std::string::npos);
}
