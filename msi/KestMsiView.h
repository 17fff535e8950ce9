// A query over the installer database and its result: executed, optionally with a record of the
// values its ? stand for, then fetched row by row. A view belongs to one owner (it moves, it is not
// copied) and closes itself: its result set when it goes or is executed again, its handle when it
// goes, on every path out.
//
//     KestMsiView view = KestMsiDatabase(session).openView("SELECT `Name`, `Value` FROM `Setting`");
//     view.execute();
//     for (const KestMsiRecord& row : view) {
//         use(row.stringField(1), row.stringField(2));
//     }
//
// (qel::rows, msi/Database.h, does the first two lines in one.)
#pragma once

#include "../msi/KestMsiObject.h"
#include "../msi/KestMsiRecord.h"
#include "../text/KestCString.h"
#include "../text/Text.h"
#include "../text/TextArg.h"

#include <cstddef>
#include <iterator>
#include <optional>

class KestMsiDatabase;

class KestMsiView : public KestMsiObject {
public:
    // Opens the query over the database (MsiDatabaseOpenView). The query is the installer's SQL:
    // SELECT `Column`, ... FROM `Table` WHERE `Column` = ? AND ... ORDER BY `Column`. The query
    // reaches the installer through its wide call: UTF-8, or a KestCString's ANSI text.
    KestMsiView(const KestMsiDatabase& database, const qel::TextArg& query);
    KestMsiView(KestMsiView&& other) noexcept;
    KestMsiView(const KestMsiView&) = delete;
    KestMsiView& operator=(const KestMsiView&) = delete;
    KestMsiView& operator=(KestMsiView&&) = delete;
    ~KestMsiView() override;

    // Runs the query; its ? take the fields of `parameters`, in order: a record of another field
    // count than the query's markers raises an EKestInvalidParameter naming both counts (the
    // installer would take a missing value for a null). A view executed before is closed first.
    void execute();
    void execute(const KestMsiRecord& parameters);
    // The next row of the result; none once every row was fetched.
    std::optional<KestMsiRecord> fetch();
    // Changes the database through the view (MsiViewModify) with a record of the view's columns.
    void modify(MSIMODIFY mode, const KestMsiRecord& record);
    // Adds a row that lives as long as the installation and is never written to the package.
    void insertTemporary(const KestMsiRecord& record);
    // Releases the result, so that the view may be executed again.
    void close();

    // The query, in UTF-8.
    qel::Text getQuery() const { return query; }

    // The rows of an executed view, in a range-for: each fetched as the loop reaches it.
    class iterator {
    public:
        using value_type = KestMsiRecord;
        using difference_type = std::ptrdiff_t;

        iterator() = default;
        const KestMsiRecord& operator*() const { return *row; }
        const KestMsiRecord* operator->() const { return &*row; }
        iterator& operator++();
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t) const { return !row.has_value(); }

    private:
        friend class KestMsiView;
        explicit iterator(KestMsiView& view);

        KestMsiView* view = nullptr;
        std::optional<KestMsiRecord> row;
    };

    // Fetches the first row. Only a view that lives on has rows to go through: on a temporary
    // (qel::rows(...).begin()) the iterator would outlive the view, so that does not compile; a
    // range-for over qel::rows(...) keeps the view for the loop.
    iterator begin() & { return iterator(*this); }
    iterator begin() && = delete;
    std::default_sentinel_t end() const { return {}; }

private:
    // Executes with the parameter record's handle (0: none) of `count` fields.
    void executeWith(MSIHANDLE parameters, unsigned int count);

    qel::Text query;
    bool executed = false;
};
