#include "msi/Records.h"

#include "errors/Raise.h"
#include "msi/InstallerText.h"
#include "text/Unicode.h"

#include <string>

using namespace persisting;

namespace qel {
namespace {
constexpr const char* fileName = "Records";

MSIHANDLE raw(const KestMsiRecord& record)
{
    return record.getHandle().getMsiHandle();
}
}  // namespace

// The two calls raise with rules without handlers: what they call raises nothing but the
// conversion's own refusal, which their callers' rules pass on.
void setTextField(KestMsiRecord& record, unsigned int field, const TextArg& value)
{
    static constexpr PersistingRule rule("qel::setTextField", fileName, none, none, none, noCatchAll);
    const UINT result = MsiRecordSetStringW(raw(record), field, value.wide().c_str());
    if (result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall("MsiRecordSetString", std::to_string(field).c_str()), result);
    }
}

Text text(const KestMsiRecord& record, unsigned int field)
{
    static constexpr PersistingRule rule("qel::text", fileName, none, none, none, noCatchAll);
    WideText value;
    const UINT result = queryInstallerText(
        [&](WCHAR* buffer, DWORD* size) { return MsiRecordGetStringW(raw(record), field, buffer, size); }, 1, value);
    if (result != ERROR_SUCCESS) {
        raiseMsiError(rule, failedCall("MsiRecordGetString", std::to_string(field).c_str()), result);
    }
    return Text(fromWide(value));
}

}  // namespace qel
