// The package's tables in one line a query: their rows in a range-for, and rows added for the
// rest of the installation.
//
//     for (const auto& row : qel::rows(session, "SELECT `Name`, `Value` FROM `Setting`")) {
//         ...row.text("Name")...
//     }
//     for (const auto& row : qel::rows(session, "SELECT `Value` FROM `Setting` WHERE `Name` = ?",
//                                      qel::record("Port"))) { ... }
//     qel::insertTemporary(session, "SELECT `Name`, `Value` FROM `Setting`", qel::record("Added", "1"));
//
// Only an immediate action reads the database: a deferred action gets its data another way
// (msi/Deferred.h). A refused call raises, and its history entry names the query. Queries,
// parameters and fields travel through the installer's wide calls: row.text("Name") reads a field
// whole, in UTF-8, by its column's name (msi/Row.h). A row is also its KestMsiRecord, for code that
// reads fields by number (qel::text(row, n), row.stringField(n)).
#pragma once

#include "../msi/KestMsiDatabase.h"
#include "../msi/KestMsiHandle.h"
#include "../msi/KestMsiRecord.h"
#include "../msi/KestMsiView.h"
#include "../msi/Records.h"
#include "../msi/Rows.h"
#include "../text/TextArg.h"

namespace qel {

// The query over the running installation's database, executed: its rows in a range-for.
Rows rows(const KestMsiHandle& session, const TextArg& query);
// As above, the query's ? taking the fields of `parameters` in order.
Rows rows(const KestMsiHandle& session, const TextArg& query, const KestMsiRecord& parameters);

// Adds `row` (the query's columns, in its order) to the query's table for the rest of the
// installation, never to the package itself.
void insertTemporary(const KestMsiHandle& session, const TextArg& query, const KestMsiRecord& row);

}  // namespace qel
