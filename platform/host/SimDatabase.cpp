// msi.dll of the host platform model: the session's database, its queries and views.
#include "SimModel.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <iterator>
#include <optional>
#include <utility>

using namespace sim;
using namespace sim::detail;

namespace sim::detail {

std::string ColumnDefinition::type() const
{
    const char letter = static_cast<char>(nullable ? std::toupper(kind) : kind);
    return letter + std::to_string(width);
}

std::size_t poolRank(Session& session, const std::string& text)
{
    auto it = session.stringPool.find(text);
    if (it == session.stringPool.end()) {
        it = session.stringPool.emplace(text, session.stringPool.size()).first;
    }
    return it->second;
}

UINT acceptRow(Session& session, Table& table, std::vector<StoredField>& row)
{
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const ColumnDefinition& column = table.columns[i];
        StoredField& field = row[i];
        // A binary column (Binary, Icon) holds streams, and only them; no other column holds one.
        if (std::holds_alternative<StreamData>(field) != (column.kind == 'v') && !std::holds_alternative<Null>(field)) {
            return ERROR_INVALID_DATA;
        }
        if (const std::string* text = std::get_if<std::string>(&field); text && text->empty()) {
            field = Null{};
        }
        if (std::holds_alternative<Null>(field)) {
            if (!column.nullable || i < table.keys) {
                return ERROR_INVALID_DATA;
            }
            continue;
        }
        if (column.kind == 'i') {
            if (const std::string* text = std::get_if<std::string>(&field)) {
                const int value = parseInteger(*text);
                if (value == nullInteger) {
                    return ERROR_INVALID_DATA;
                }
                field = value;
            }
        } else if (const int* value = std::get_if<int>(&field)) {
            field = std::to_string(*value);
        }
    }
    const bool duplicate = std::any_of(table.rows.begin(), table.rows.end(), [&](const auto& other) {
        return std::equal(other.begin(), other.begin() + static_cast<long>(table.keys), row.begin());
    });
    if (duplicate) {
        return ERROR_FUNCTION_FAILED;
    }
    for (const StoredField& field : row) {
        if (const std::string* text = std::get_if<std::string>(&field)) {
            poolRank(session, *text);
        }
    }
    table.rows.push_back(row);
    return ERROR_SUCCESS;
}

}  // namespace sim::detail

namespace {

// ---- The query language ------------------------------------------------------------------------

struct Token {
    enum Kind { word, name, text, number, symbol, end, bad } kind;
    std::string value;
};

class Lexer {
public:
    explicit Lexer(const char* query) : at(query) {}

    Token next()
    {
        while (*at == ' ' || *at == '\t' || *at == '\r' || *at == '\n') {
            ++at;
        }
        const char c = *at;
        if (c == '\0') {
            return {Token::end, ""};
        }
        if (c == '`' || c == '\'') {
            const char* close = std::strchr(at + 1, c);
            if (!close) {
                return {Token::bad, ""};
            }
            Token token{c == '`' ? Token::name : Token::text, std::string(at + 1, close)};
            at = close + 1;
            return token;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '-' && std::isdigit(static_cast<unsigned char>(at[1])))) {
            const char* start = at++;
            while (std::isdigit(static_cast<unsigned char>(*at))) {
                ++at;
            }
            return {Token::number, std::string(start, at)};
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            const char* start = at;
            while (std::isalnum(static_cast<unsigned char>(*at)) || *at == '_' || *at == '.') {
                ++at;
            }
            return {Token::word, std::string(start, at)};
        }
        if (c == '?' || c == '*' || c == ',' || c == '=') {
            ++at;
            return {Token::symbol, std::string(1, c)};
        }
        return {Token::bad, std::string(1, c)};
    }

private:
    const char* at;
};

bool isKeyword(const Token& token, const char* keyword)
{
    if (token.kind != Token::word || token.value.size() != std::strlen(keyword)) {
        return false;
    }
    return std::equal(token.value.begin(), token.value.end(), keyword,
                      [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

bool isReserved(const Token& token)
{
    for (const char* keyword : {"SELECT", "FROM", "WHERE", "AND", "ORDER", "BY"}) {
        if (isKeyword(token, keyword)) {
            return true;
        }
    }
    return false;
}

// Parses a query of the model's subset into a view of the session's database; false when the
// query is outside it, or names a table or column the database lacks.
class Parser {
public:
    Parser(const char* query, const Session& session) : lexer(query), session(session) { advance(); }

    bool parse(View& view)
    {
        if (!keyword("SELECT")) {
            return false;
        }
        std::vector<std::string> columns;
        if (symbol("*")) {
            columns.clear();
        } else {
            do {
                std::optional<std::string> column = identifier();
                if (!column) {
                    return false;
                }
                columns.push_back(*column);
            } while (symbol(","));
        }
        if (!keyword("FROM")) {
            return false;
        }
        std::optional<std::string> tableName = identifier();
        if (!tableName) {
            return false;
        }
        auto table = session.tables.find(*tableName);
        if (table == session.tables.end()) {
            return false;
        }
        view.table = *tableName;
        if (columns.empty()) {
            for (std::size_t i = 0; i < table->second.columns.size(); ++i) {
                view.columns.push_back(i);
            }
        }
        for (const std::string& column : columns) {
            std::optional<std::size_t> index = columnOf(table->second, column);
            if (!index) {
                return false;
            }
            view.columns.push_back(*index);
        }
        if (keyword("WHERE") && !parseWhere(table->second, view)) {
            return false;
        }
        if (keyword("ORDER")) {
            if (!keyword("BY")) {
                return false;
            }
            do {
                std::optional<std::string> column = identifier();
                std::optional<std::size_t> index = column ? columnOf(table->second, *column) : std::nullopt;
                if (!index) {
                    return false;
                }
                view.orderBy.push_back(*index);
            } while (symbol(","));
        }
        return current.kind == Token::end;
    }

private:
    bool parseWhere(const Table& table, View& view)
    {
        do {
            std::optional<std::string> column = identifier();
            std::optional<std::size_t> index = column ? columnOf(table, *column) : std::nullopt;
            if (!index || !symbol("=")) {
                return false;
            }
            View::Condition condition{*index, Null{}, 0};
            if (symbol("?")) {
                condition.parameter = ++view.parameters;
            } else if (current.kind == Token::text) {
                if (!current.value.empty()) {
                    condition.value = current.value;
                }
                advance();
            } else if (current.kind == Token::number) {
                const int value = parseInteger(current.value);
                if (value == nullInteger) {
                    return false;
                }
                condition.value = value;
                advance();
            } else {
                return false;
            }
            view.where.push_back(std::move(condition));
        } while (keyword("AND"));
        return true;
    }

    static std::optional<std::size_t> columnOf(const Table& table, const std::string& name)
    {
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            if (table.columns[i].name == name) {
                return i;
            }
        }
        return std::nullopt;
    }

    void advance() { current = lexer.next(); }

    bool keyword(const char* word)
    {
        if (!isKeyword(current, word)) {
            return false;
        }
        advance();
        return true;
    }

    bool symbol(const char* which)
    {
        if (current.kind != Token::symbol || current.value != which) {
            return false;
        }
        advance();
        return true;
    }

    std::optional<std::string> identifier()
    {
        if (current.kind == Token::name || (current.kind == Token::word && !isReserved(current))) {
            std::string value = current.value;
            advance();
            return value;
        }
        return std::nullopt;
    }

    Lexer lexer;
    const Session& session;
    Token current{Token::end, ""};
};

// ---- Views -------------------------------------------------------------------------------------

Session& sessionOfView(const View& view)
{
    return model().handles.at(view.session).session;
}

// Whether a cell matches what a condition compares it with: nulls match nulls; a text column
// matches an equal text; an integer column an equal integer, or a text that is one.
bool matches(const ColumnDefinition& column, const StoredField& cell, const StoredField& value)
{
    if (std::holds_alternative<Null>(value) || std::holds_alternative<Null>(cell)) {
        return std::holds_alternative<Null>(value) && std::holds_alternative<Null>(cell);
    }
    if (column.kind == 'v') {
        return false;  // a stream equals no literal or parameter
    }
    if (column.kind == 'i') {
        int wanted = nullInteger;
        if (const int* number = std::get_if<int>(&value)) {
            wanted = *number;
        } else if (const std::string* text = std::get_if<std::string>(&value)) {
            wanted = parseInteger(*text);
        }
        return wanted != nullInteger && std::get<int>(cell) == wanted;
    }
    const std::string* text = std::get_if<std::string>(&value);
    return text && *text == std::get<std::string>(cell);
}

StoredField parameterOf(const Record& parameters, int field)
{
    if (static_cast<UINT>(field) > parameters.count()) {
        return Null{};
    }
    const StoredField& value = parameters.fields[static_cast<std::size_t>(field)];
    if (std::holds_alternative<StreamData>(value)) {
        return Null{};
    }
    return value;
}

UINT execute(View& view, const Record* parameters)
{
    Session& session = sessionOfView(view);
    const Table& table = session.tables.at(view.table);
    std::vector<const std::vector<StoredField>*> found;
    for (const auto& row : table.rows) {
        const bool all = std::all_of(view.where.begin(), view.where.end(), [&](const View::Condition& condition) {
            const StoredField value =
                condition.parameter != 0 ? parameterOf(*parameters, condition.parameter) : condition.value;
            return matches(table.columns[condition.column], row[condition.column], value);
        });
        if (all) {
            found.push_back(&row);
        }
    }
    // Nulls first, integers in order, texts by their rank in the string pool.
    auto key = [&](const StoredField& cell) -> long long {
        if (const int* value = std::get_if<int>(&cell)) {
            return *value;
        }
        if (const std::string* text = std::get_if<std::string>(&cell)) {
            return static_cast<long long>(poolRank(session, *text));
        }
        return static_cast<long long>(INT_MIN) - 1;
    };
    std::stable_sort(found.begin(), found.end(), [&](const auto* a, const auto* b) {
        for (std::size_t column : view.orderBy) {
            const long long left = key((*a)[column]);
            const long long right = key((*b)[column]);
            if (left != right) {
                return left < right;
            }
        }
        return false;
    });
    view.result.clear();
    for (const auto* row : found) {
        std::vector<StoredField> selected;
        for (std::size_t column : view.columns) {
            selected.push_back((*row)[column]);
        }
        view.result.push_back(std::move(selected));
    }
    view.executed = true;
    view.next = 0;
    return ERROR_SUCCESS;
}

View* openViewOf(MSIHANDLE handle)
{
    HandleEntry* entry = openHandle(handle, HandleKind::view);
    return entry ? &entry->view : nullptr;
}

// A new record whose fields 1, 2, ... are these; field 0 is null.
MSIHANDLE newRecord(std::vector<StoredField> fields)
{
    const MSIHANDLE handle = newHandle(HandleKind::record);
    std::vector<StoredField>& stored = model().handles.at(handle).record.fields;
    stored.reserve(fields.size() + 1);
    stored.emplace_back(std::in_place_type<Null>);
    std::move(fields.begin(), fields.end(), std::back_inserter(stored));
    return handle;
}

UINT insertTemporary(View& view, const Record& record)
{
    if (record.count() < view.columns.size()) {
        return ERROR_FUNCTION_FAILED;
    }
    Session& session = sessionOfView(view);
    Table& table = session.tables.at(view.table);
    std::vector<StoredField> row(table.columns.size(), Null{});
    for (std::size_t i = 0; i < view.columns.size(); ++i) {
        row[view.columns[i]] = record.fields[i + 1];
    }
    return acceptRow(session, table, row);
}

}  // namespace

MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE install)
{
    return modelled<MSIHANDLE>("MsiGetActiveDatabase", [&]() -> MSIHANDLE {
        if (!installSessionOf(install)) {
            return 0;
        }
        const MSIHANDLE database = newHandle(HandleKind::database);
        model().handles.at(database).owner = install;
        return database;
    });
}

namespace {

template <class Char>
UINT openView(const char* function, MSIHANDLE database, const Char* queryText, MSIHANDLE* view)
{
    return modelled<UINT>(function, [&]() -> UINT {
        const std::optional<std::string> text = textOf(queryText);
        const char* query = orNull(text);
        const HandleEntry* entry = openHandle(database, HandleKind::database);
        if (!entry) {
            return ERROR_INVALID_HANDLE;
        }
        if (!view) {
            return ERROR_INVALID_PARAMETER;
        }
        View parsed;
        parsed.session = entry->owner;
        if (!query || !Parser(query, model().handles.at(entry->owner).session).parse(parsed)) {
            return ERROR_BAD_QUERY_SYNTAX;
        }
        *view = newHandle(HandleKind::view);
        model().handles.at(*view).view = std::move(parsed);
        return ERROR_SUCCESS;
    });
}

}  // namespace

UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE database, LPCSTR query, MSIHANDLE* view)
{
    return openView("MsiDatabaseOpenViewA", database, query, view);
}

UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view)
{
    return openView("MsiDatabaseOpenViewW", database, query, view);
}

UINT WINAPI MsiViewExecute(MSIHANDLE view, MSIHANDLE record)
{
    return modelled<UINT>("MsiViewExecute", [&]() -> UINT {
        View* opened = openViewOf(view);
        if (!opened) {
            return ERROR_INVALID_HANDLE;
        }
        const Record* parameters = openRecordOf(record);
        if (record != 0 && !parameters) {
            return ERROR_INVALID_HANDLE;
        }
        if (opened->parameters > 0 && !parameters) {
            return ERROR_FUNCTION_FAILED;  // a parameter marker needs a value
        }
        return execute(*opened, parameters);
    });
}

UINT WINAPI MsiViewFetch(MSIHANDLE view, MSIHANDLE* record)
{
    return modelled<UINT>("MsiViewFetch", [&]() -> UINT {
        View* opened = openViewOf(view);
        if (!opened) {
            return ERROR_INVALID_HANDLE;
        }
        if (!record) {
            return ERROR_INVALID_PARAMETER;
        }
        if (!opened->executed) {
            return ERROR_FUNCTION_FAILED;
        }
        if (opened->next >= opened->result.size()) {
            *record = 0;
            return ERROR_NO_MORE_ITEMS;
        }
        *record = newRecord(opened->result[opened->next++]);
        return ERROR_SUCCESS;
    });
}

UINT WINAPI MsiViewClose(MSIHANDLE view)
{
    return modelled<UINT>("MsiViewClose", [&]() -> UINT {
        View* opened = openViewOf(view);
        if (!opened) {
            return ERROR_INVALID_HANDLE;
        }
        opened->executed = false;
        opened->result.clear();
        opened->next = 0;
        return ERROR_SUCCESS;
    });
}

UINT WINAPI MsiViewModify(MSIHANDLE view, MSIMODIFY modifyMode, MSIHANDLE record)
{
    return modelled<UINT>("MsiViewModify", [&]() -> UINT {
        View* opened = openViewOf(view);
        const Record* rec = openRecordOf(record);
        if (!opened || !rec) {
            return ERROR_INVALID_HANDLE;
        }
        if (modifyMode != MSIMODIFY_INSERT_TEMPORARY) {
            return ERROR_FUNCTION_FAILED;  // the session's database takes temporary rows only
        }
        return insertTemporary(*opened, *rec);
    });
}

UINT WINAPI MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO columnInfo, MSIHANDLE* record)
{
    return modelled<UINT>("MsiViewGetColumnInfo", [&]() -> UINT {
        const View* opened = openViewOf(view);
        if (!opened) {
            return ERROR_INVALID_HANDLE;
        }
        if (!record || (columnInfo != MSICOLINFO_NAMES && columnInfo != MSICOLINFO_TYPES)) {
            return ERROR_INVALID_PARAMETER;
        }
        const Table& table = sessionOfView(*opened).tables.at(opened->table);
        std::vector<StoredField> fields;
        for (std::size_t column : opened->columns) {
            const ColumnDefinition& definition = table.columns[column];
            fields.emplace_back(columnInfo == MSICOLINFO_NAMES ? definition.name : definition.type());
        }
        *record = newRecord(std::move(fields));
        return ERROR_SUCCESS;
    });
}
