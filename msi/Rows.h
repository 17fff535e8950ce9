// The rows of an executed query (what qel::rows gives, msi/Database.h): a KestMsiView whose rows,
// in a range-for, are qel::Rows that read their fields by column name.
//
//     for (const auto& row : qel::rows(session, "SELECT `Name`, `Value` FROM `Setting`")) {
//         use(row.text("Name"), row.text("Value"));
//     }
#pragma once

#include "../msi/KestMsiView.h"
#include "../msi/Row.h"
#include "../text/Text.h"

#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

namespace qel {

class Rows : public KestMsiView {
public:
    explicit Rows(KestMsiView&& view) noexcept : KestMsiView(std::move(view)) {}

    // The field (1, 2, ...) of the column named `name`, by the view's own column names
    // (MsiViewGetColumnInfo, asked once). A name the query lacks raises an EKestInvalidParameter:
    // The query "SELECT `Name` FROM `Setting`" has no column "Value".
    unsigned int fieldOf(std::string_view name) const;

    // The rows, each fetched as the loop reaches it.
    class iterator {
    public:
        using value_type = Row;
        using difference_type = std::ptrdiff_t;

        iterator() = default;
        Row operator*() const { return Row(*rows, *owner); }
        iterator& operator++()
        {
            ++rows;
            return *this;
        }
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t end) const { return rows == end; }

    private:
        friend class Rows;
        iterator(KestMsiView::iterator rows, const Rows& owner) : rows(std::move(rows)), owner(&owner) {}

        KestMsiView::iterator rows;
        const Rows* owner = nullptr;
    };

    // As KestMsiView's: only a view that lives on has rows to go through.
    iterator begin() & { return iterator(KestMsiView::begin(), *this); }
    iterator begin() && = delete;
    std::default_sentinel_t end() const { return {}; }

private:
    // The view's column names, read at the first name asked for.
    mutable std::vector<Text> names;
    mutable bool named = false;
};

}  // namespace qel
