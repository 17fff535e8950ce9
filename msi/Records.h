// Records made in one line, for messages, formatting and the parameters of a query, and their
// fields read as UTF-8.
//
//     qel::record(26002)                 // field 1 the number: the package's Error-table row
//     qel::record("Setting", 3)          // field 1 a text, field 2 a number
//     qel::text(row, 2)                  // field 2 of a row as UTF-8 text
//
// Texts go in and come out through the installer's wide record calls, whole in any script.
#pragma once

#include "../msi/KestMsiRecord.h"
#include "../text/Text.h"
#include "../text/TextArg.h"

namespace qel {

// Sets the field to the text (MsiRecordSetStringW); an empty text makes it null.
void setTextField(KestMsiRecord& record, unsigned int field, const TextArg& value);
// The field's text (MsiRecordGetStringW): "" for a null field, a number's decimal text for an
// integer field.
Text text(const KestMsiRecord& record, unsigned int field);

namespace detail {
inline void setField(KestMsiRecord& record, unsigned int field, int value)
{
    record.setIntegerField(field, value);
}
inline void setField(KestMsiRecord& record, unsigned int field, const TextArg& value)
{
    setTextField(record, field, value);
}
// A record holds no fractions: format the number into a text first.
void setField(KestMsiRecord& record, unsigned int field, double value) = delete;
}  // namespace detail

// A new record whose fields 1, 2, ... hold the values in order (numbers as integers, texts as
// texts; an empty text is a null field, as the installer stores it) and whose field 0 is null.
template <class... Values>
KestMsiRecord record(const Values&... values)
{
    KestMsiRecord made(sizeof...(Values));
    [[maybe_unused]] unsigned int field = 0;
    (detail::setField(made, ++field, values), ...);
    return made;
}

}  // namespace qel
