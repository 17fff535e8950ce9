// Views of the session's database: the queries the model understands, the ones it refuses, the
// view's protocol and temporary rows, on the test package's table QelSetting.
#include "backend/SharedTest.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using ViewTest = SharedTest;

struct Database {
    Database() : handle(MsiGetActiveDatabase(Backend::session())) {}
    ~Database() { MsiCloseHandle(handle); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    MSIHANDLE handle;
};

// Every row a view gives from now on, as SharedTest::rowText has it; the last answer in `end`.
std::vector<std::string> fetchAll(MSIHANDLE view, UINT& end)
{
    std::vector<std::string> rows;
    MSIHANDLE row = 0;
    while ((end = MsiViewFetch(view, &row)) == ERROR_SUCCESS) {
        rows.push_back(SharedTest::rowText(row));
        MsiCloseHandle(row);
        if (rows.size() > 100) {
            break;
        }
    }
    return rows;
}

// The rows of a query run to its end, sorted unless it orders them itself.
std::vector<std::string> select(MSIHANDLE database, const std::string& query,
                                const std::vector<std::string>& parameters = {})
{
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewA(database, query.c_str(), &view), ERROR_SUCCESS) << query;
    const MSIHANDLE record = parameters.empty() ? 0 : SharedTest::record(parameters);
    EXPECT_EQ(MsiViewExecute(view, record), ERROR_SUCCESS) << query;
    UINT end = 0;
    std::vector<std::string> rows = fetchAll(view, end);
    EXPECT_EQ(end, static_cast<UINT>(ERROR_NO_MORE_ITEMS)) << query;
    EXPECT_EQ(MsiViewClose(view), ERROR_SUCCESS) << query;
    MsiCloseHandle(record);
    MsiCloseHandle(view);
    if (query.find("ORDER BY") == std::string::npos) {
        std::sort(rows.begin(), rows.end());
    }
    return rows;
}

using Rows = std::vector<std::string>;

}  // namespace

TEST_F(ViewTest, QueriesOfTheSubsetFindTheirRows)
{
    struct Query {
        const char* sql;
        std::vector<std::string> parameters;
        Rows rows;
    };
    const Query queries[] = {
        {"SELECT `Name`, `Value` FROM `QelSetting` ORDER BY `Sequence`",
         {},
         {"beta|two", "gamma|", "alpha|one", "delta|[INSTALLDIR]x"}},
        {"SELECT * FROM QelSetting ORDER BY Sequence",
         {},
         {"beta|two|2|10", "gamma|||20", "alpha|one|1|30", "delta|[INSTALLDIR]x|2|40"}},
        {"SELECT Name FROM QelSetting", {}, {"alpha", "beta", "delta", "gamma"}},
        {"SELECT Name FROM QelSetting ORDER BY Number, Sequence", {}, {"gamma", "alpha", "beta", "delta"}},
        {"select Name from QelSetting where Name = 'beta'", {}, {"beta"}},
        {"  SELECT Name FROM QelSetting WHERE Name='beta'  ", {}, {"beta"}},
        {"SELECT Name, Name FROM QelSetting WHERE Name = 'beta'", {}, {"beta|beta"}},
        {"SELECT Name FROM QelSetting WHERE Number = 2 ORDER BY Sequence", {}, {"beta", "delta"}},
        {"SELECT Name FROM QelSetting WHERE Number = -2", {}, {}},
        {"SELECT Name FROM QelSetting WHERE `Name` = 'beta' AND `Number` = 2", {}, {"beta"}},
        {"SELECT Name FROM QelSetting WHERE Value = ''", {}, {"gamma"}},
        // A text column never equals an integer, nor an integer column a text that is none.
        {"SELECT Name FROM QelSetting WHERE Name = 2", {}, {}},
        {"SELECT Name FROM QelSetting WHERE Number = 'two'", {}, {}},
        // Parameters, in the order of their markers; a null matches nulls, a missing field is one.
        {"SELECT Name, Sequence FROM QelSetting WHERE Name = ?", {"gamma"}, {"gamma|20"}},
        {"SELECT Name FROM QelSetting WHERE Name = ? AND Number = ?", {"delta", "#2"}, {"delta"}},
        {"SELECT Name FROM QelSetting WHERE Number = ? AND Name = ?", {"#2", "beta"}, {"beta"}},
        {"SELECT Name FROM QelSetting WHERE Number = ? ORDER BY Sequence", {"2"}, {"beta", "delta"}},
        {"SELECT Name FROM QelSetting WHERE Value = ?", {""}, {"gamma"}},
        {"SELECT Name FROM QelSetting WHERE Name = ? AND Number = ?", {"beta"}, {}},
    };
    const Database database;
    ASSERT_NE(database.handle, 0u);
    for (const Query& query : queries) {
        EXPECT_EQ(select(database.handle, query.sql, query.parameters), query.rows) << query.sql;
    }
}

TEST_F(ViewTest, QueriesOutsideTheLanguageOrTheDatabaseAreRefused)
{
    const Database database;
    for (const char* query :
         {"SELECT Name FROM QelSetting WHERE Name = \"beta\"", "SELECT Name FROM NoSuchTable",
          "SELECT NoSuchColumn FROM QelSetting", "SELECT Name FROM QelSetting WHERE NoSuchColumn = 1",
          "SELECT Name FROM QelSetting ORDER BY NoSuchColumn", "SELEC garbage", "SELECT Name FROM",
          "SELECT FROM QelSetting", "SELECT Name FROM QelSetting WHERE",
          "SELECT Name FROM QelSetting WHERE Name = 'unterminated", "SELECT Name FROM QelSetting trailing",
          "SELECT Name FROM QelSetting;", "SELECT `Name FROM QelSetting", ""}) {
        MSIHANDLE view = 0;
        EXPECT_EQ(MsiDatabaseOpenViewA(database.handle, query, &view), ERROR_BAD_QUERY_SYNTAX) << query;
        EXPECT_EQ(view, 0u) << query;
    }
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewA(database.handle, nullptr, &view), ERROR_BAD_QUERY_SYNTAX);
    EXPECT_EQ(MsiDatabaseOpenViewA(database.handle, "SELECT * FROM QelSetting", nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiDatabaseOpenViewA(Backend::session(), "SELECT * FROM QelSetting", &view), ERROR_INVALID_HANDLE)
        << "a session is no database";
    EXPECT_EQ(MsiGetActiveDatabase(0), 0u);
}

// (The view outlives the database handle it was opened with.)
TEST_F(ViewTest, AViewIsExecutedFetchedToItsEndAndClosed)
{
    MSIHANDLE view = 0;
    {
        const Database database;
        ASSERT_EQ(MsiDatabaseOpenViewA(database.handle, "SELECT Name, Number FROM QelSetting ORDER BY Sequence", &view),
                  ERROR_SUCCESS);
    }
    MSIHANDLE row = 0;
    EXPECT_EQ(MsiViewFetch(view, &row), ERROR_FUNCTION_FAILED) << "not executed yet";
    EXPECT_EQ(row, 0u);

    // The columns are known before the view runs.
    MSIHANDLE info = 0;
    ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &info), ERROR_SUCCESS);
    EXPECT_EQ(rowText(info), "Name|Number");
    MsiCloseHandle(info);
    ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, &info), ERROR_SUCCESS);
    EXPECT_EQ(rowText(info), "s72|I2");
    MsiCloseHandle(info);
    EXPECT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO(7), &info), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, nullptr), ERROR_INVALID_PARAMETER);

    ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
    EXPECT_EQ(MsiViewFetch(view, nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(MsiViewFetch(view, &row), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordGetFieldCount(row), 2u);
    EXPECT_EQ(MsiRecordGetInteger(row, 2), 2);
    EXPECT_EQ(rowText(row), "beta|2");
    MsiCloseHandle(row);
    ASSERT_EQ(MsiViewFetch(view, &row), ERROR_SUCCESS);
    EXPECT_TRUE(MsiRecordIsNull(row, 2)) << "gamma has no number";
    MsiCloseHandle(row);
    UINT end = 0;
    EXPECT_EQ(fetchAll(view, end), (Rows{"alpha|1", "delta|2"}));
    EXPECT_EQ(end, static_cast<UINT>(ERROR_NO_MORE_ITEMS));

    EXPECT_EQ(MsiViewClose(view), ERROR_SUCCESS);
    row = 0;
    expectDocumented(MsiViewFetch(view, &row), static_cast<UINT>(ERROR_FUNCTION_FAILED),
                     documented::fetchAfterCloseFails);
    MsiCloseHandle(row);
    // Executed again, it starts over.
    ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
    ASSERT_EQ(MsiViewFetch(view, &row), ERROR_SUCCESS);
    EXPECT_EQ(rowText(row), "beta|2");
    MsiCloseHandle(row);
    EXPECT_EQ(MsiViewClose(view), ERROR_SUCCESS);
    MsiCloseHandle(view);

    for (const MSIHANDLE gone : {view, Backend::session()}) {
        EXPECT_EQ(MsiViewExecute(gone, 0), ERROR_INVALID_HANDLE);
        EXPECT_EQ(MsiViewFetch(gone, &row), ERROR_INVALID_HANDLE);
        EXPECT_EQ(MsiViewClose(gone), ERROR_INVALID_HANDLE);
        EXPECT_EQ(MsiViewGetColumnInfo(gone, MSICOLINFO_NAMES, &info), ERROR_INVALID_HANDLE);
    }
}

TEST_F(ViewTest, TemporaryRowsJoinTheTableForLaterQueries)
{
    const Database database;
    struct Insert {
        const char* columns;
        std::vector<std::string> fields;
        UINT expected;
    };
    const Insert inserts[] = {
        {"Name, Value, Number, Sequence", {"epsilon", "five", "#5", "#50"}, ERROR_SUCCESS},
        {"Name, Value, Number, Sequence", {"epsilon", "again", "#6", "#51"}, ERROR_FUNCTION_FAILED},  // its key
        {"Name, Value, Number, Sequence", {"", "x", "#1", "#70"}, ERROR_INVALID_DATA},                // a null key
        {"Name, Value, Number, Sequence", {"eta", "x", "#1", ""}, ERROR_INVALID_DATA},  // Sequence refuses nulls
        {"Name, Value, Number, Sequence", {"theta", "x"}, ERROR_FUNCTION_FAILED},       // fewer fields
        {"Name, Value, Number, Sequence", {"iota", "x", "#1", "#80", "extra"}, ERROR_SUCCESS},  // more fields
        {"Name, Sequence", {"lambda", "#100"}, ERROR_SUCCESS},                                  // the others null
        {"Value, Sequence", {"mu", "#110"}, ERROR_INVALID_DATA},                                // no key
    };
    for (const Insert& insert : inserts) {
        MSIHANDLE view = 0;
        const std::string query = std::string("SELECT ") + insert.columns + " FROM QelSetting";
        ASSERT_EQ(MsiDatabaseOpenViewA(database.handle, query.c_str(), &view), ERROR_SUCCESS);
        ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
        const MSIHANDLE row = record(insert.fields);
        EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, row), insert.expected) << insert.fields[0];
        MsiCloseHandle(row);
        EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, 0), ERROR_INVALID_HANDLE);
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
    EXPECT_EQ(select(database.handle, "SELECT * FROM QelSetting ORDER BY Sequence"),
              (Rows{"beta|two|2|10", "gamma|||20", "alpha|one|1|30", "delta|[INSTALLDIR]x|2|40", "epsilon|five|5|50",
                    "iota|x|1|80", "lambda|||100"}));

    // The session's database is read-only: what an action adds is temporary.
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewA(database.handle, "SELECT Name, Sequence FROM QelSetting", &view), ERROR_SUCCESS);
    ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
    const MSIHANDLE row = record({"nu", "#120"});
    expectDocumented(MsiViewModify(view, MSIMODIFY_INSERT, row), static_cast<UINT>(ERROR_FUNCTION_FAILED),
                     documented::sessionDatabaseTakesTemporaryRowsOnly);
    MsiCloseHandle(row);
    MsiViewClose(view);
    MsiCloseHandle(view);
}
