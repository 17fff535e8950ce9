// A real installer session opened without msiexec (no user interface), on a package with a table
// of its own (QelSetting) and custom actions that need no code: views and the query language,
// formatted text, conditions, run modes, feature and component states, the language, MsiDoAction
// and the progress messages.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

static std::string fieldText(MSIHANDLE record, UINT field)
{
    if (MsiRecordIsNull(record, field)) {
        return "<null>";
    }
    char buffer[512] = "";
    DWORD size = sizeof buffer;
    const UINT r = MsiRecordGetStringA(record, field, buffer, &size);
    return r == ERROR_SUCCESS ? buffer : "<error " + std::to_string(r) + ">";
}

static std::string rowText(MSIHANDLE record)
{
    std::string row;
    const UINT count = MsiRecordGetFieldCount(record);
    for (UINT field = 1; field <= count; ++field) {
        row += (field > 1 ? "|" : "") + fieldText(record, field);
    }
    return row + " (" + std::to_string(count) + " fields)";
}

// Opens, executes and fetches a query to its end, printing each answer and row.
static void query(MSIHANDLE database, const char* sql, MSIHANDLE params = 0)
{
    MSIHANDLE view = 0;
    UINT r = MsiDatabaseOpenViewA(database, sql, &view);
    std::printf("OpenView(%s) -> %u", sql ? sql : "NULL", r);
    if (r != ERROR_SUCCESS) {
        MSIHANDLE error = MsiGetLastErrorRecord();
        std::printf(", view %lu, error record %s\n", (unsigned long)view, error ? rowText(error).c_str() : "none");
        MsiCloseHandle(error);
        return;
    }
    r = MsiViewExecute(view, params);
    std::printf(", Execute -> %u\n", r);
    for (int i = 0; i < 20; ++i) {
        MSIHANDLE row = 0;
        r = MsiViewFetch(view, &row);
        if (r != ERROR_SUCCESS) {
            std::printf("  Fetch -> %u, row %lu\n", r, (unsigned long)row);
            break;
        }
        std::printf("  %s\n", rowText(row).c_str());
        MsiCloseHandle(row);
    }
    const UINT closed = MsiViewClose(view);
    std::printf("  Close -> %u, CloseHandle -> %u\n", closed, MsiCloseHandle(view));
}

static MSIHANDLE record(std::initializer_list<const char*> fields)
{
    MSIHANDLE rec = MsiCreateRecord(static_cast<UINT>(fields.size()));
    UINT field = 1;
    for (const char* text : fields) {
        if (text && text[0] == '#') {
            MsiRecordSetInteger(rec, field++, std::atoi(text + 1));
        } else {
            MsiRecordSetStringA(rec, field++, text);
        }
    }
    return rec;
}

static void views(MSIHANDLE session)
{
    std::printf("== views\n");
    MSIHANDLE database = MsiGetActiveDatabase(session);
    std::printf("GetActiveDatabase -> nonzero %d; of 0 -> %lu; of a record -> %lu\n", database != 0,
                (unsigned long)MsiGetActiveDatabase(0), (unsigned long)MsiGetActiveDatabase(database));
    for (const char* sql : {
             "SELECT `Name`, `Value` FROM `QelSetting` ORDER BY `Sequence`",
             "SELECT * FROM QelSetting ORDER BY Sequence",
             "SELECT * FROM QelSetting",
             "SELECT Name FROM QelSetting ORDER BY Name",
             "SELECT Name FROM QelSetting ORDER BY Number, Sequence",
             "SELECT Name FROM QelSetting ORDER BY Value",
             "SELECT Name FROM QelSetting WHERE Number = 2 ORDER BY Sequence",
             "SELECT Name FROM QelSetting WHERE Number = -2",
             "SELECT Name FROM QelSetting WHERE Name = 'beta'",
             "SELECT Name FROM QelSetting WHERE `Name` = 'beta' AND `Number` = 2",
             "SELECT Name FROM QelSetting WHERE Name = 'beta' AND Number = 1",
             "SELECT Name FROM QelSetting WHERE Value = ''",
             "SELECT Name FROM QelSetting WHERE Number = 'two'",
             "SELECT Name FROM QelSetting WHERE Name = 2",
             "SELECT Name FROM QelSetting WHERE Name = \"beta\"",
             "select Name from QelSetting where Name = 'beta'",
             "SELECT Name, Name FROM QelSetting WHERE Name = 'beta'",
             "SELECT Name FROM QelSetting WHERE Name = 'beta' OR Number = 1",
             "SELECT Name FROM QelSetting WHERE Number > 1",
             "SELECT Name FROM QelSetting WHERE Value IS NULL",
             "SELECT DISTINCT Number FROM QelSetting",
             "SELECT Name FROM QelSetting, Property",
             "SELECT Name FROM NoSuchTable",
             "SELECT NoSuchColumn FROM QelSetting",
             "SELECT Name FROM QelSetting WHERE NoSuchColumn = 1",
             "SELECT Name FROM QelSetting ORDER BY NoSuchColumn",
             "SELEC garbage",
             "SELECT Name FROM",
             "SELECT FROM QelSetting",
             "SELECT Name FROM QelSetting WHERE",
             "SELECT Name FROM QelSetting WHERE Name = 'beta' AND",
             "SELECT Name FROM QelSetting WHERE Name = 'unterminated",
             "SELECT Name FROM QelSetting trailing",
             "SELECT Name FROM QelSetting;",
             "SELECT `Name FROM QelSetting",
             "  SELECT Name FROM QelSetting WHERE Name='beta'  ",
             "SELECT Name FROM QelSetting WHERE Number=2 AND Sequence=10",
             "",
         }) {
        query(database, sql);
    }
    query(database, nullptr);

    std::printf("-- parameters\n");
    MSIHANDLE params = record({"gamma"});
    query(database, "SELECT Name, Sequence FROM QelSetting WHERE Name = ?", params);
    MsiCloseHandle(params);
    params = record({"delta", "#2"});
    query(database, "SELECT Name FROM QelSetting WHERE Name = ? AND Number = ?", params);
    MsiCloseHandle(params);
    params = record({"#2", "beta"});
    query(database, "SELECT Name FROM QelSetting WHERE Number = ? AND Name = ?", params);
    query(database, "SELECT Name FROM QelSetting WHERE Name = ? AND Number = ?", params);
    MsiCloseHandle(params);
    params = record({"beta"});
    query(database, "SELECT Name FROM QelSetting WHERE Name = ? AND Number = ?", params);
    MsiCloseHandle(params);
    params = record({nullptr});
    query(database, "SELECT Name FROM QelSetting WHERE Value = ?", params);
    MsiCloseHandle(params);
    params = record({"#2"});
    query(database, "SELECT Name FROM QelSetting WHERE Number = ?", params);
    MsiCloseHandle(params);
    params = record({"2"});
    query(database, "SELECT Name FROM QelSetting WHERE Number = ?", params);
    MsiCloseHandle(params);
    params = record({"#10", "#2"});
    query(database, "SELECT Name FROM QelSetting WHERE Sequence = ? AND Number = ?", params);
    MsiCloseHandle(params);
    params = record({"beta", "two"});
    query(database, "SELECT Name FROM QelSetting WHERE Name = ? AND Value = ?", params);
    MsiCloseHandle(params);
    params = record({"beta", "#2", "#10"});
    query(database, "SELECT Name FROM QelSetting WHERE Name = ? AND Number = ? AND Sequence = ?", params);
    query(database, "SELECT Name FROM QelSetting WHERE Name = 'beta' AND Number = ?", params);
    MsiCloseHandle(params);
    params = record({"#2", "#10"});
    query(database, "SELECT Name FROM QelSetting WHERE Name = 'beta' AND Number = ? AND Sequence = ?", params);
    MsiCloseHandle(params);

    std::printf("-- the view's protocol\n");
    MSIHANDLE view = 0;
    MsiDatabaseOpenViewA(database, "SELECT Name, Number FROM QelSetting ORDER BY Sequence", &view);
    MSIHANDLE row = 0;
    UINT r = MsiViewFetch(view, &row);
    std::printf("Fetch before Execute -> %u, row %lu\n", r, (unsigned long)row);
    r = MsiViewExecute(view, 0);
    std::printf("Execute -> %u, again -> %u\n", r, MsiViewExecute(view, 0));
    std::printf("Fetch(NULL) -> %u\n", MsiViewFetch(view, nullptr));
    r = MsiViewFetch(view, &row);
    std::printf("Fetch -> %u %s; Number as integer %d, Name as integer %d\n", r, rowText(row).c_str(),
                MsiRecordGetInteger(row, 2), MsiRecordGetInteger(row, 1));
    r = MsiRecordSetStringA(row, 1, "x");
    std::printf("Fetched record: SetString(1) -> %u, SetString(3) -> %u\n", r, MsiRecordSetStringA(row, 3, "x"));
    MsiCloseHandle(row);
    r = MsiViewClose(view);
    std::printf("Close -> %u, again -> %u\n", r, MsiViewClose(view));
    std::printf("Fetch after Close -> %u\n", MsiViewFetch(view, &row));
    std::printf("Execute after Close -> %u\n", MsiViewExecute(view, 0));
    for (int i = 0; i < 6; ++i) {
        r = MsiViewFetch(view, &row);
        std::printf("  Fetch -> %u%s\n", r, r == ERROR_SUCCESS ? (" " + rowText(row)).c_str() : "");
        if (r == ERROR_SUCCESS) {
            MsiCloseHandle(row);
        }
    }
    row = 77;
    std::printf("Fetch at the end again -> %u, row %lu\n", MsiViewFetch(view, &row), (unsigned long)row);
    MSIHANDLE info = 0;
    r = MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &info);
    std::printf("ColumnInfo(NAMES) -> %u %s\n", r, rowText(info).c_str());
    MsiCloseHandle(info);
    r = MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, &info);
    std::printf("ColumnInfo(TYPES) -> %u %s\n", r, rowText(info).c_str());
    MsiCloseHandle(info);
    std::printf("ColumnInfo(7) -> %u, (NULL) -> %u\n", MsiViewGetColumnInfo(view, MSICOLINFO(7), &info),
                MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, nullptr));
    MsiViewClose(view);
    MsiCloseHandle(view);
    MsiDatabaseOpenViewA(database, "SELECT * FROM QelSetting", &view);
    MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, &info);
    std::printf("SELECT * ColumnInfo(TYPES) before Execute: %s\n", rowText(info).c_str());
    MsiCloseHandle(info);
    MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &info);
    std::printf("SELECT * ColumnInfo(NAMES) before Execute: %s\n", rowText(info).c_str());
    MsiCloseHandle(info);
    MsiCloseHandle(view);
    std::printf("On a closed view handle: Execute %u, ", MsiViewExecute(view, 0));
    std::printf("Fetch %u, ", MsiViewFetch(view, &row));
    std::printf("Close %u, ", MsiViewClose(view));
    std::printf("Modify %u\n", MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, row));
    std::printf("On a session handle: Execute %u, ", MsiViewExecute(session, 0));
    std::printf("Fetch %u\n", MsiViewFetch(session, &row));
    std::printf("OpenView(session, ...) -> %u\n", MsiDatabaseOpenViewA(session, "SELECT * FROM QelSetting", &view));
    std::printf("OpenView(db, ..., NULL) -> %u\n", MsiDatabaseOpenViewA(database, "SELECT * FROM QelSetting", nullptr));

    std::printf("-- a view outlives its database handle\n");
    MsiDatabaseOpenViewA(database, "SELECT Name FROM QelSetting WHERE Name = 'alpha'", &view);
    std::printf("CloseHandle(database) -> %u\n", MsiCloseHandle(database));
    r = MsiViewExecute(view, 0);
    std::printf("Execute -> %u, ", r);
    std::printf("Fetch -> %u\n", MsiViewFetch(view, &row));
    MsiCloseHandle(row);
    MsiCloseHandle(view);

    std::printf("-- temporary rows\n");
    database = MsiGetActiveDatabase(session);
    MsiDatabaseOpenViewA(database, "SELECT Name, Value, Number, Sequence FROM QelSetting", &view);
    MSIHANDLE fresh = record({"epsilon", "five", "#5", "#50"});
    std::printf("Modify(INSERT_TEMPORARY) before Execute -> %u\n",
                MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, fresh));
    MsiViewExecute(view, 0);
    std::printf("Modify(INSERT_TEMPORARY) -> %u\n", MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, fresh));
    std::printf("Modify(INSERT_TEMPORARY) same key again -> %u\n",
                MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, fresh));
    MSIHANDLE second = record({"zeta", nullptr, nullptr, "#60"});
    std::printf("Modify(INSERT) -> %u\n", MsiViewModify(view, MSIMODIFY_INSERT, second));
    for (int mode :
         std::initializer_list<int>{MSIMODIFY_UPDATE, MSIMODIFY_ASSIGN, MSIMODIFY_REPLACE, MSIMODIFY_MERGE,
                                    MSIMODIFY_VALIDATE, MSIMODIFY_SEEK, MSIMODIFY_REFRESH, 99, MSIMODIFY_DELETE}) {
        std::printf("Modify(%d) -> %u\n", mode, MsiViewModify(view, MSIMODIFY(mode), fresh));
    }
    std::printf("Modify(INSERT_TEMPORARY, record 0) -> %u\n", MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, 0));
    std::printf("Modify(INSERT_TEMPORARY, zeta) -> %u\n", MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, second));
    MSIHANDLE nullKey = record({nullptr, "x", "#1", "#70"});
    std::printf("Modify(INSERT_TEMPORARY, null key) -> %u\n", MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, nullKey));
    MSIHANDLE nullRequired = record({"eta", "x", "#1", nullptr});
    std::printf("Modify(INSERT_TEMPORARY, null NOT NULL column) -> %u\n",
                MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, nullRequired));
    MSIHANDLE shortRecord = record({"theta", "x"});
    std::printf("Modify(INSERT_TEMPORARY, 2 fields) -> %u\n",
                MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, shortRecord));
    MSIHANDLE longRecord = record({"iota", "x", "#1", "#80", "extra"});
    std::printf("Modify(INSERT_TEMPORARY, 5 fields) -> %u\n",
                MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, longRecord));
    MSIHANDLE badType = record({"kappa", "x", "one", "#90"});
    std::printf("Modify(INSERT_TEMPORARY, text in an integer column) -> %u\n",
                MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, badType));
    MsiViewClose(view);
    MsiCloseHandle(view);
    for (MSIHANDLE h : {fresh, second, nullKey, nullRequired, shortRecord, longRecord, badType}) {
        MsiCloseHandle(h);
    }
    query(database, "SELECT * FROM QelSetting ORDER BY Sequence");
    MsiDatabaseOpenViewA(database, "SELECT Name, Sequence FROM QelSetting", &view);
    MsiViewExecute(view, 0);
    MSIHANDLE part = record({"lambda", "#100"});
    std::printf("Modify(INSERT_TEMPORARY) through a view of 2 columns -> %u\n",
                MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, part));
    MsiCloseHandle(part);
    MsiViewClose(view);
    MsiCloseHandle(view);
    MsiDatabaseOpenViewA(database, "SELECT Value, Sequence FROM QelSetting", &view);
    MsiViewExecute(view, 0);
    part = record({"mu", "#110"});
    std::printf("Modify(INSERT_TEMPORARY) through a view without the key -> %u\n",
                MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, part));
    MsiCloseHandle(part);
    MsiViewClose(view);
    MsiCloseHandle(view);
    query(database, "SELECT * FROM QelSetting ORDER BY Sequence");
    MsiCloseHandle(database);
}

static void format(MSIHANDLE session, MSIHANDLE install, const char* text, std::initializer_list<const char*> fields)
{
    MSIHANDLE rec = record(fields);
    MsiRecordSetStringA(rec, 0, text);
    char buffer[512] = "";
    DWORD size = sizeof buffer;
    UINT r = MsiFormatRecordA(install, rec, buffer, &size);
    std::printf("Format(%s%s) -> %u \"%s\" size %lu\n", text ? text : "NULL", install == session ? "" : ", no session",
                r, buffer, (unsigned long)size);
    MsiCloseHandle(rec);
}

static void formatting(MSIHANDLE session)
{
    std::printf("== MsiFormatRecordA\n");
    MsiSetPropertyA(session, "EMPTY", "");
    MsiSetPropertyA(session, "Nested", "[ProductLine]");
    MsiSetPropertyA(session, "Inner", "Line");
    for (const char* text : {"[INSTALLDIR]x",
                             "[ProductLine]",
                             "[1] and [2]",
                             "[1][2][3]",
                             "[3]",
                             "[0]",
                             "[\\[]x[\\]]",
                             "[\\[]",
                             "[\\]]",
                             "[\\x]",
                             "[\\]",
                             "[NOSUCH]|",
                             "[EMPTY]|",
                             "[Nested]",
                             "[Product[Inner]]",
                             "[[Inner]]",
                             "[1",
                             "x]",
                             "[]",
                             "[ ]",
                             "a[[b",
                             "{[1]}",
                             "{x[NOSUCH]y}",
                             "{x[1]y}",
                             "{{x}}",
                             "[~]",
                             "[%PATH]",
                             "[#ProbeTxt]",
                             "[!ProbeTxt]",
                             "[$Probe]",
                             "[productline]",
                             "plain",
                             "",
                             "[2]",
                             "[-1]",
                             "[01]"}) {
        format(session, session, text, {"one", "#2"});
    }
    format(session, session, nullptr, {"one", "#2", nullptr});
    format(session, session, "[1]", {"[INSTALLDIR]"});
    format(session, session, "{abc}", {});
    format(session, session, "[2]", {"one", nullptr});
    format(session, 0, "[ProductLine]|[1]", {"one"});
    format(session, 0, "[INSTALLDIR]", {});

    MSIHANDLE rec = record({"hello"});
    MsiRecordSetStringA(rec, 0, "say [1]");
    char buffer[16] = "XXXXXXXXXXXXXXX";
    DWORD size = 0;
    UINT r = MsiFormatRecordA(session, rec, buffer, &size);
    std::printf("Format size 0 -> %u size %lu buffer %s\n", r, (unsigned long)size, buffer);
    size = 9;
    r = MsiFormatRecordA(session, rec, buffer, &size);
    std::printf("Format size 9 -> %u size %lu buffer %s\n", r, (unsigned long)size, buffer);
    size = 10;
    r = MsiFormatRecordA(session, rec, buffer, &size);
    std::printf("Format size 10 -> %u size %lu buffer %s\n", r, (unsigned long)size, buffer);
    size = 0;
    r = MsiFormatRecordA(session, rec, nullptr, &size);
    std::printf("Format NULL buffer -> %u size %lu\n", r, (unsigned long)size);
    std::printf("Format NULL size -> %u, both NULL -> %u\n", MsiFormatRecordA(session, rec, buffer, nullptr),
                MsiFormatRecordA(session, rec, nullptr, nullptr));
    size = sizeof buffer;
    std::printf("Format record 0 -> %u\n", MsiFormatRecordA(session, 0, buffer, &size));
    std::printf("Format session as record -> %u\n", MsiFormatRecordA(session, session, buffer, &size));
    std::printf("Format record as session -> %u\n", MsiFormatRecordA(rec, rec, buffer, &size));
    MsiCloseHandle(rec);
}

static void condition(MSIHANDLE session, const char* text)
{
    std::printf("Condition(%s) -> %d\n", text ? text : "NULL", (int)MsiEvaluateConditionA(session, text));
}

static void conditions(MSIHANDLE session)
{
    std::printf("== MsiEvaluateConditionA\n");
    MsiSetPropertyA(session, "FIVE", "5");
    MsiSetPropertyA(session, "TEN", "10");
    MsiSetPropertyA(session, "Word", "Hello");
    MsiSetPropertyA(session, "ZERO", "0");
    for (const char* text : {"",
                             "   ",
                             "1",
                             "0",
                             "-1",
                             "ProductLine",
                             "NOSUCH",
                             "ZERO",
                             "NOT NOSUCH",
                             "NOT ProductLine",
                             "not ProductLine",
                             "ProductLine = \"Demo Product\"",
                             "ProductLine=\"Demo Product\"",
                             "ProductLine = \"demo product\"",
                             "ProductLine <> \"x\"",
                             "ProductLine <> \"Demo Product\"",
                             "NOSUCH = \"\"",
                             "NOSUCH <> \"\"",
                             "FIVE = 5",
                             "FIVE = \"5\"",
                             "FIVE < TEN",
                             "FIVE > TEN",
                             "FIVE <= 5",
                             "FIVE >= 6",
                             "\"10\" < \"9\"",
                             "10 < 9",
                             "Word < 9",
                             "Word = 0",
                             "NOSUCH < 1",
                             "NOSUCH = 0",
                             "FIVE AND TEN",
                             "FIVE AND NOSUCH",
                             "NOSUCH OR FIVE",
                             "FIVE AND NOT NOSUCH",
                             "NOT FIVE OR TEN",
                             "NOT (FIVE OR TEN)",
                             "(FIVE = 5) AND (TEN = 10)",
                             "((1))",
                             "1 OR 0 AND 0",
                             "(1 OR 0) AND 0",
                             "FIVE = 5 AND TEN = 9 OR Word = \"Hello\"",
                             "FIVE=5",
                             "and",
                             "1 =",
                             "= 1",
                             "(",
                             "(1",
                             "1)",
                             "NOT",
                             "1 2",
                             "\"unterminated",
                             "FIVE AND",
                             "FIVE == 5",
                             "FIVE <> ",
                             "Word ~= \"hello\"",
                             "Word >< \"ell\"",
                             "Word << \"He\"",
                             "FIVE XOR ZERO",
                             "FIVE EQV TEN",
                             "FIVE IMP ZERO",
                             "&Main = 3",
                             "!Main",
                             "$Probe",
                             "?Probe",
                             "%PATH",
                             "Installed",
                             "2147483648 > 1",
                             "0x10 = 16",
                             "1.5 = 1",
                             "@"}) {
        condition(session, text);
    }
    condition(session, nullptr);
    std::printf("Condition on handle 0 -> %d, on a record -> %d\n", (int)MsiEvaluateConditionA(0, "1"),
                (int)MsiEvaluateConditionA(MsiCreateRecord(1), "1"));
}

static void states(MSIHANDLE session, const char* when)
{
    INSTALLSTATE installed = INSTALLSTATE(99), action = INSTALLSTATE(99);
    UINT r = MsiGetFeatureStateA(session, "Main", &installed, &action);
    std::printf("%s: Feature Main -> %u installed %d action %d\n", when, r, installed, action);
    r = MsiGetComponentStateA(session, "Probe", &installed, &action);
    std::printf("%s: Component Probe -> %u installed %d action %d\n", when, r, installed, action);
}

static void featureStates(MSIHANDLE session)
{
    std::printf("== feature and component states\n");
    INSTALLSTATE installed = INSTALLSTATE(99), action = INSTALLSTATE(99);
    std::printf("Feature NoSuch -> %u\n", MsiGetFeatureStateA(session, "NoSuch", &installed, &action));
    std::printf("Component NoSuch -> %u\n", MsiGetComponentStateA(session, "NoSuch", &installed, &action));
    std::printf("Feature NULL name -> %u, NULL installed -> %u, NULL action -> %u, both NULL -> %u\n",
                MsiGetFeatureStateA(session, nullptr, &installed, &action),
                MsiGetFeatureStateA(session, "Main", nullptr, &action),
                MsiGetFeatureStateA(session, "Main", &installed, nullptr),
                MsiGetFeatureStateA(session, "Main", nullptr, nullptr));
    std::printf("Feature on handle 0 -> %u, on a record -> %u\n", MsiGetFeatureStateA(0, "Main", &installed, &action),
                MsiGetFeatureStateA(MsiCreateRecord(1), "Main", &installed, &action));
    std::printf("Component NULL name -> %u, NULL installed -> %u\n",
                MsiGetComponentStateA(session, nullptr, &installed, &action),
                MsiGetComponentStateA(session, "Probe", nullptr, &action));
    for (int state :
         std::initializer_list<int>{INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL, INSTALLSTATE_SOURCE,
                                    INSTALLSTATE_ADVERTISED, INSTALLSTATE_DEFAULT, INSTALLSTATE_UNKNOWN, 42}) {
        UINT r = MsiSetFeatureStateA(session, "Main", INSTALLSTATE(state));
        states(session, ("SetFeatureState(Main, " + std::to_string(state) + ") -> " + std::to_string(r)).c_str());
    }
    std::printf("SetFeatureState(NoSuch) -> %u, NULL -> %u\n",
                MsiSetFeatureStateA(session, "NoSuch", INSTALLSTATE_LOCAL),
                MsiSetFeatureStateA(session, nullptr, INSTALLSTATE_LOCAL));
    MsiSetFeatureStateA(session, "Main", INSTALLSTATE_LOCAL);
    for (int state : std::initializer_list<int>{INSTALLSTATE_ABSENT, INSTALLSTATE_SOURCE, INSTALLSTATE_LOCAL,
                                                INSTALLSTATE_DEFAULT, INSTALLSTATE_UNKNOWN, 42}) {
        UINT r = MsiSetComponentStateA(session, "Probe", INSTALLSTATE(state));
        states(session, ("SetComponentState(Probe, " + std::to_string(state) + ") -> " + std::to_string(r)).c_str());
    }
    std::printf("SetComponentState(NoSuch) -> %u, NULL -> %u\n",
                MsiSetComponentStateA(session, "NoSuch", INSTALLSTATE_LOCAL),
                MsiSetComponentStateA(session, nullptr, INSTALLSTATE_LOCAL));
    condition(session, "&Main = 3");
    condition(session, "$Probe = 3");
}

static void modes(MSIHANDLE session)
{
    std::printf("== MsiGetMode, MsiGetLanguage\n");
    for (int mode = 0; mode <= 19; ++mode) {
        std::printf("GetMode(%d) -> %d\n", mode, MsiGetMode(session, MSIRUNMODE(mode)));
    }
    std::printf("GetMode(handle 0, SCHEDULED) -> %d\n", MsiGetMode(0, MSIRUNMODE_SCHEDULED));
    std::printf("GetLanguage -> %u, of handle 0 -> %u\n", MsiGetLanguage(session), MsiGetLanguage(0));
}

static void actions(MSIHANDLE session)
{
    std::printf("== MsiDoActionA\n");
    MsiSetPropertyA(session, "DeferredWithoutCode", "data of the deferred action");
    for (const char* action : {"SetByAction", "NoSuchAction", "", "DeferredWithoutCode", "RollbackProbe", "CommitProbe",
                               "BrokenDll", "costinitialize"}) {
        std::printf("DoAction(%s) -> %u\n", action, MsiDoActionA(session, action));
    }
    std::printf("DoAction(NULL) -> %u, on handle 0 -> %u\n", MsiDoActionA(session, nullptr),
                MsiDoActionA(0, "SetByAction"));
    char buffer[128] = "";
    DWORD size = sizeof buffer;
    MsiGetPropertyA(session, "SETBYACTION", buffer, &size);
    std::printf("SETBYACTION = \"%s\"\n", buffer);
}

static void progress(MSIHANDLE session)
{
    std::printf("== progress and action messages\n");
    struct Sent {
        const char* what;
        INSTALLMESSAGE type;
        std::initializer_list<const char*> fields;
    };
    for (const Sent& sent : {
             Sent{"ACTIONSTART", INSTALLMESSAGE_ACTIONSTART, {"QelAction", "Doing things", "Thing [1]"}},
             Sent{"ACTIONDATA", INSTALLMESSAGE_ACTIONDATA, {"first"}},
             Sent{"PROGRESS reset", INSTALLMESSAGE_PROGRESS, {"#0", "#1000", "#0", "#0"}},
             Sent{"PROGRESS action info", INSTALLMESSAGE_PROGRESS, {"#1", "#10", "#1"}},
             Sent{"PROGRESS report", INSTALLMESSAGE_PROGRESS, {"#2", "#10"}},
             Sent{"PROGRESS add to total", INSTALLMESSAGE_PROGRESS, {"#3", "#500"}},
             Sent{"PROGRESS unknown kind", INSTALLMESSAGE_PROGRESS, {"#7", "#1"}},
             Sent{"PROGRESS no fields", INSTALLMESSAGE_PROGRESS, {}},
         }) {
        MSIHANDLE rec = record(sent.fields);
        std::printf("ProcessMessage(%s) -> %d\n", sent.what, MsiProcessMessage(session, sent.type, rec));
        MsiCloseHandle(rec);
    }
}

int main(int argc, char** argv)
{
    const char* package = argc > 1 ? argv[1] : "probe_query.msi";
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE session = 0;
    UINT r = MsiOpenPackageA(package, &session);
    std::printf("OpenPackage -> %u\n", r);
    if (r != ERROR_SUCCESS) {
        return 1;
    }
    states(session, "Before costing");
    modes(session);
    for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"}) {
        std::printf("DoAction %s -> %u\n", action, MsiDoActionA(session, action));
    }
    states(session, "After CostFinalize");
    views(session);
    formatting(session);
    conditions(session);
    featureStates(session);
    actions(session);
    modes(session);
    progress(session);
    std::printf("== a parameter marker without a parameter record\n");
    std::fflush(stdout);
    MSIHANDLE database = MsiGetActiveDatabase(session);
    query(database, "SELECT Name FROM QelSetting WHERE Name = ?", 0);
    MsiCloseHandle(database);
    MsiCloseHandle(session);
    std::printf("CloseAllHandles -> %u\n", MsiCloseAllHandles());
    return 0;
}
