// One row of qel::rows, its fields read by the names of the query's columns:
//
//     for (const auto& row : qel::rows(session, "SELECT `Name`, `Value` FROM `Setting`")) {
//         use(row.text("Name"), row.text("Value"));
//     }
//
// The names are the view's own (MsiViewGetColumnInfo), as the query's SELECT lists them, letter
// case and all. A name the query lacks raises an EKestInvalidParameter that names it. A row is
// also the KestMsiRecord it was fetched as, for code that reads fields by number.
#pragma once

#include "../msi/KestMsiRecord.h"
#include "../text/Text.h"

#include <string_view>

namespace qel {

class Rows;

class Row {
public:
    Row(const KestMsiRecord& record, const Rows& rows) : fields(record), rows(rows) {}

    // The field's text (MsiRecordGetStringW), in UTF-8: "" for a null field, a number's decimal text
    // for an integer field.
    Text text(std::string_view column) const;
    // The field's integer; a null field, or one holding no integer, raises.
    int integer(std::string_view column) const;
    // Whether the field is null.
    bool isNull(std::string_view column) const;

    const KestMsiRecord& record() const { return fields; }
    operator const KestMsiRecord&() const { return fields; }  // NOLINT(google-explicit-constructor): a row is a record

private:
    const KestMsiRecord& fields;
    const Rows& rows;
};

}  // namespace qel
