#include "msi/Row.h"

#include "msi/Records.h"
#include "msi/Rows.h"

namespace qel {

Text Row::text(std::string_view column) const
{
    return qel::text(fields, rows.fieldOf(column));
}

int Row::integer(std::string_view column) const
{
    return fields.integerField(rows.fieldOf(column));
}

bool Row::isNull(std::string_view column) const
{
    return fields.isNullField(rows.fieldOf(column));
}

}  // namespace qel
