#include "msi/Rows.h"

#include "errors/Raise.h"
#include "msi/Records.h"

#include <string>
#include <utility>

using namespace persisting;

namespace qel {
namespace {
constexpr const char* fileName = "Rows";
}  // namespace

unsigned int Rows::fieldOf(std::string_view name) const
{
    static constexpr PersistingRule rule("qel::Rows::fieldOf", fileName, checked(), checked(), checked(), unknownExceptionWasTrapped);
    return persist(rule, [&]() -> unsigned int {
        if (!named) {
            MSIHANDLE info = 0;
            const UINT result = MsiViewGetColumnInfo(getHandle().getMsiHandle(), MSICOLINFO_NAMES, &info);
            if (result != ERROR_SUCCESS) {
                raiseMsiError(rule, failedCall("MsiViewGetColumnInfo", getQuery().c_str()), result);
            }
            // The record's handle is ours from here: a group that fails to form closes it.
            const KestMsiRecord columns = KestMsiRecord::joining(KestMsiHandle(info, false));
            std::vector<Text> read;
            for (unsigned int field = 1, count = columns.fieldCount(); field <= count; ++field) {
                read.push_back(text(columns, field));
            }
            names = std::move(read);
            named = true;
        }
        for (unsigned int field = 1; field <= names.size(); ++field) {
            if (names[field - 1] == name) {
                return field;
            }
        }
        raiseInvalidParameter(
            rule, KestCString("The query \"" + getQuery() + "\" has no column \"" + std::string(name) + "\"").c_str());
    });
}

}  // namespace qel
