#include "msi/KestMsiRecord.h"

#include "errors/Raise.h"
#include "msi/InstallerText.h"

#include <algorithm>
#include <limits>
#include <string>

using namespace persisting;

namespace {
constexpr const char* fileName = "KestMsiRecord";

// What MsiRecordGetInteger answers for a field without an integer.
constexpr int nullInteger = static_cast<int>(0x80000000u);
// What MsiRecordGetFieldCount answers for a handle that is no open record.
constexpr UINT badFieldCount = static_cast<UINT>(-1);
}  // namespace

KestMsiRecord::KestMsiRecord(const size_type count) : KestMsiObject()
{
    static constexpr PersistingRule rule("KestMsiREcord::KestMsiRecord(const size_type)", fileName, none, checked(), unchecked(), unknownExceptionWasTrapped);
    persist(rule, [&] {
        const MSIHANDLE record = MsiCreateRecord(count);
        if (record == 0) {
            raiseMsiError(rule, failedCall("MsiCreateRecord"), GetLastError());
        }
        getHandle() = KestMsiHandle(record, false);
    });
}

KestMsiRecord::KestMsiRecord(const KestMsiHandle& record) : KestMsiObject(record, false) {}

KestMsiRecord KestMsiRecord::joining(const KestMsiHandle& record)
{
    KestMsiRecord joined{Joining{}};
    joined.setHandle(record);
    return joined;
}

void KestMsiRecord::setRecordFormat(const KestCString& format)
{
    static constexpr PersistingRule rule("KestMsiRecord::setRecordFormat", fileName, none, checked(), unchecked(), unknonwExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiRecordSetStringA(getHandle().getMsiHandle(), 0, format.c_str());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiRecordSetString"), result);
        }
    });
}

void KestMsiRecord::setStringField(unsigned int field, const KestCString& value)
{
    static constexpr PersistingRule rule("KestMsiRecord::setStringField", fileName, none, checked(), checked(), unknonwExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiRecordSetStringA(getHandle().getMsiHandle(), field, value.c_str());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiRecordSetString"), result);
        }
    });
}

void KestMsiRecord::setIntegerField(unsigned int field, int value)
{
    static constexpr PersistingRule rule("KestMsiRecord::setIntegerField", fileName, none, none, checked(), unknonwExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiRecordSetInteger(getHandle().getMsiHandle(), field, value);
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiRecordSetInteger"), result);
        }
    });
}

void KestMsiRecord::setStreamField(unsigned int field, const KestCString& filePath)
{
    static constexpr PersistingRule rule("KestMsiRecord::setStreamField()", fileName, none, none, checked(), unknonwExceptionWasTrapped);
    persist(rule, [&] {
        const UINT result = MsiRecordSetStreamA(getHandle().getMsiHandle(), field, filePath.c_str());
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiRecordSetStream"), result);
        }
    });
}

KestCString KestMsiRecord::recordFormat() const
{
    static constexpr PersistingRule rule("KestMsiRecord::recordFormat", fileName, none, none, unchecked(), unknonwExceptionWasTrapped);
    return persist(rule, [&] { return stringData(getHandle(), 0); });
}

KestCString KestMsiRecord::stringField(unsigned int field) const
{
    static constexpr PersistingRule rule("KestMsiRecord::stringField", fileName, none, none, unchecked(), unknownExceptionTrapped);
    return persist(rule, [&] { return stringData(getHandle(), field); });
}

int KestMsiRecord::integerField(unsigned int field) const
{
    static constexpr PersistingRule rule("KestMsiRecord::integerField", fileName, none, checked(), unchecked(), unknownExceptionTrapped);
    return persist(rule, [&] {
        const int value = MsiRecordGetInteger(getHandle().getMsiHandle(), field);
        if (value == nullInteger) {
            raiseMsiError(rule, failedCall("MsiRecordGetInteger"), static_cast<UINT>(nullInteger));
        }
        return value;
    });
}

bool KestMsiRecord::getStreamField(unsigned int field, std::vector<char>& bytes) const
{
    static constexpr PersistingRule rule("KestMsiRecord::getStreamField()", fileName, none, checked(), unchecked(), unknownExceptionTrapped);
    return persist(rule, [&] {
        const MSIHANDLE record = getHandle().getMsiHandle();
        char chunk[streamChunkSize];
        for (;;) {
            DWORD size = streamChunkSize;
            const UINT result = MsiRecordReadStream(record, field, chunk, &size);
            if (result == ERROR_INVALID_DATATYPE) {
                return false;
            }
            if (result != ERROR_SUCCESS) {
                raiseMsiError(rule, failedCall("MsiRecordReadStream"), result);
            }
            // Never more than the chunk holds, whatever count comes back.
            const DWORD read = std::min<DWORD>(size, streamChunkSize);
            bytes.insert(bytes.end(), chunk, chunk + read);
            if (read != streamChunkSize) {
                return true;
            }
        }
    });
}

bool KestMsiRecord::clearData()
{
    return MsiRecordClearData(getHandle().getMsiHandle()) == ERROR_SUCCESS;
}

bool KestMsiRecord::operator==(const KestMsiRecord& other) const
{
    const KestCString theirs = other.stringField(1);
    const KestCString ours = stringField(1);
    return static_cast<const std::string&>(ours) == static_cast<const std::string&>(theirs);
}

bool KestMsiRecord::operator!=(const KestMsiRecord& other) const
{
    return !(*this == other);
}

unsigned int KestMsiRecord::fieldCount() const
{
    // No handlers: the rule only names the method for its raise.
    static constexpr PersistingRule rule("KestMsiRecord::fieldCount()", fileName, none, none, none, noCatchAll);
    const UINT count = MsiRecordGetFieldCount(getHandle().getMsiHandle());
    if (count == badFieldCount) {
        raiseInvalidParameter(rule, failedCall("MsiRecordGetFieldCount"));
    }
    return count;
}

bool KestMsiRecord::isNullField(unsigned int field) const
{
    return MsiRecordIsNull(getHandle().getMsiHandle(), field) != FALSE;
}

bool KestMsiRecord::isIntegerField(unsigned int field) const
{
    return MsiRecordGetInteger(getHandle().getMsiHandle(), field) != nullInteger;
}

bool KestMsiRecord::isEmpty() const
{
    const unsigned int count = fieldCount();
    for (unsigned int field = 1; field <= count; ++field) {
        if (!isNullField(field)) {
            return false;
        }
    }
    return true;
}

KestCString KestMsiRecord::stringData(const KestMsiHandle& record, unsigned int field) const
{
    static constexpr PersistingRule rule("KestMsiRecord::stringData", fileName, none, none, checked(), unknownExceptionWasTrapped);
    return persist(rule, [&] {
        const MSIHANDLE raw = record.getMsiHandle();
        char empty[1] = "";
        DWORD length = 0;
        const UINT sizeResult = MsiRecordGetStringA(raw, field, empty, &length);
        if (sizeResult != ERROR_SUCCESS && sizeResult != ERROR_MORE_DATA) {
            raiseMsiError(rule, "Unable to retrieve the string data size", sizeResult);
        }

        // Room for the text, its terminator and one spare; a length too large for that asks for
        // the most there is rather than wrapping round to a tiny buffer.
        constexpr DWORD largest = std::numeric_limits<DWORD>::max();
        const DWORD capacity = length <= largest - 2 ? length + 2 : largest;
        KestCString text;
        const UINT result = fetchInstallerText(
            [&](char* buffer, DWORD* size) { return MsiRecordGetStringA(raw, field, buffer, size); }, capacity, text);
        if (field == 0 && result == ERROR_MORE_DATA) {
            return KestCString();
        }
        if (result != ERROR_SUCCESS) {
            raiseMsiError(rule, failedCall("MsiRecordGetString"), result);
        }
        return text;
    });
}

void KestMsiRecord::dump(std::ostream& stream) const
{
    KestMsiObject::dump(stream);
    if (isEmpty()) {
        dumpLine(stream, "RECORD EMPTY", "");
        return;
    }
    dumpLine(stream, "RecordFormat = ", recordFormat());
    const unsigned int count = fieldCount();
    for (unsigned int field = 1; field <= count; ++field) {
        const std::string label = "FieldNumber " + std::to_string(field) + " FieldValue = ";
        if (isNullField(field)) {
            dumpLine(stream, label.c_str(), "NULL");
        } else if (isIntegerField(field)) {
            dumpLine(stream, label.c_str(), std::to_string(integerField(field)));
        } else {
            dumpLine(stream, label.c_str(), stringField(field));
        }
    }
}
