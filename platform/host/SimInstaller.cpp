// msi.dll of the host platform model: sessions, records, messages and the handle table.
#include "SimModel.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>

using namespace sim;
using namespace sim::detail;

namespace sim::detail {

namespace {

template <class Char>
UINT copyOut(const std::basic_string<Char>& text, Char* buffer, LPDWORD size, bool doubleOnMoreData)
{
    if (!size) {
        return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    DWORD length = static_cast<DWORD>(text.size());
    if (!buffer) {
        *size = length;
        return ERROR_SUCCESS;
    }
    if (length >= *size) {
        if (*size > 0) {
            std::memcpy(buffer, text.data(), (*size - 1) * sizeof(Char));
            buffer[*size - 1] = Char{};
        }
        *size = doubleOnMoreData ? length * 2 : length;
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, text.data(), length * sizeof(Char));
    buffer[length] = Char{};
    *size = length;
    return ERROR_SUCCESS;
}

}  // namespace

UINT copyText(const std::string& text, LPSTR buffer, LPDWORD size, bool doubleOnMoreData)
{
    return copyOut(toAnsi(text), buffer, size, doubleOnMoreData);
}

UINT copyText(const std::string& text, LPWSTR buffer, LPDWORD size, bool /*doubleOnMoreData*/)
{
    return copyOut(utf8ToWide(text), buffer, size, false);
}

Session* anySessionOf(MSIHANDLE handle)
{
    HandleEntry* entry = openHandle(handle, HandleKind::session);
    return entry ? &entry->session : nullptr;
}

Session* installSessionOf(MSIHANDLE handle)
{
    Session* session = anySessionOf(handle);
    return session && session->context == Script::immediate ? session : nullptr;
}

Record* openRecordOf(MSIHANDLE handle)
{
    HandleEntry* entry = openHandle(handle, HandleKind::record);
    return entry ? &entry->record : nullptr;
}

int parseInteger(const std::string& text)
{
    std::size_t pos = text.size() > 0 && text[0] == '-' ? 1 : 0;
    if (pos == text.size()) {
        return nullInteger;
    }
    long long value = 0;
    for (std::size_t i = pos; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return nullInteger;
        }
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            return nullInteger;
        }
    }
    if (pos == 1) {
        value = -value;
    }
    if (value > INT_MAX || value < INT_MIN) {
        return nullInteger;
    }
    return static_cast<int>(value);
}

std::string fieldText(const StoredField& field)
{
    if (const int* value = std::get_if<int>(&field)) {
        return std::to_string(*value);
    }
    if (const std::string* value = std::get_if<std::string>(&field)) {
        return *value;
    }
    return "";
}

std::string readableProperty(const Session& session, const std::string& name)
{
    if (session.context != Script::immediate && name != "CustomActionData" && name != "UserSID" &&
        (name != "ProductCode" || session.context == Script::commit)) {
        return "";
    }
    auto it = session.properties.find(name);
    return it == session.properties.end() ? std::string() : it->second;
}

}  // namespace sim::detail

namespace {

constexpr UINT maxRecordFields = 65535;

// A field's text as MsiRecordGetInteger reads it: a plain decimal integer with an optional '-',
// of which the installer keeps the low 32 bits ("4294967297" reads as 1), as Windows answers.
// (Wine lets "-" alone read as 0: documented::noIntegerReadsAsNull.)
int recordInteger(const std::string& text)
{
    const std::size_t digits = text.size() > 0 && text[0] == '-' ? 1 : 0;
    if (digits == text.size() || !std::all_of(text.begin() + static_cast<long>(digits), text.end(),
                                              [](char c) { return c >= '0' && c <= '9'; })) {
        return nullInteger;
    }
    std::uint32_t value = 0;
    for (std::size_t i = digits; i < text.size(); ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    return static_cast<int>(digits == 1 ? 0u - value : value);
}

// The field a record setter writes, or the installer's answer when there is none:
// ERROR_INVALID_HANDLE for a record that is not open, ERROR_INVALID_PARAMETER beyond the count.
UINT fieldToSet(MSIHANDLE record, UINT field, StoredField*& slot)
{
    Record* rec = openRecordOf(record);
    if (!rec) {
        return ERROR_INVALID_HANDLE;
    }
    if (field > rec->count()) {
        return ERROR_INVALID_PARAMETER;
    }
    slot = &rec->fields[field];
    return ERROR_SUCCESS;
}

// The directory `folder` of the open session `install`, or the installer's answer when there is
// none: ERROR_INVALID_PARAMETER, ERROR_INVALID_HANDLE or ERROR_DIRECTORY.
UINT directoryOf(MSIHANDLE install, LPCSTR folder, Directory*& directory)
{
    if (!folder) {
        return ERROR_INVALID_PARAMETER;
    }
    Session* session = installSessionOf(install);
    if (!session) {
        return ERROR_INVALID_HANDLE;
    }
    auto it = session->directories.find(folder);
    if (it == session->directories.end()) {
        return ERROR_DIRECTORY;
    }
    directory = &it->second;
    return ERROR_SUCCESS;
}

bool below(const Session& session, const std::string& name, const std::string& ancestor)
{
    for (std::string parent = session.directories.at(name).parent; !parent.empty();
         parent = session.directories.at(parent).parent) {
        if (parent == ancestor) {
            return true;
        }
    }
    return false;
}

// Gives a directory a new target path, and so its property; the directories below it that still
// lie under its old path move along.
void moveTarget(Session& session, const std::string& name, const std::string& path)
{
    const std::string old = session.directories.at(name).target;
    for (auto& [other, directory] : session.directories) {
        if (other == name) {
            directory.target = path;
        } else if (below(session, other, name) && directory.target.compare(0, old.size(), old) == 0) {
            directory.target = path + directory.target.substr(old.size());
        } else {
            continue;
        }
        session.properties[other] = directory.target;
    }
}

template <class Char>
UINT getPath(const char* function, MSIHANDLE install, const Char* folder, Char* buffer, LPDWORD size, bool target)
{
    return modelled<UINT>(function, [&]() -> UINT {
        const std::optional<std::string> name = textOf(folder);
        Directory* directory = nullptr;
        if (const UINT error = directoryOf(install, orNull(name), directory)) {
            return error;
        }
        return copyText(target ? directory->target : directory->source, buffer, size, model().doubledMoreDataLength);
    });
}

template <class Char>
UINT getProperty(const char* function, MSIHANDLE install, const Char* name, Char* valueBuf, LPDWORD valueBufSize)
{
    return modelled<UINT>(function, [&]() -> UINT {
        if (!name) {
            return ERROR_INVALID_PARAMETER;
        }
        const Session* session = anySessionOf(install);
        if (!session) {
            return ERROR_INVALID_HANDLE;
        }
        return copyText(readableProperty(*session, *textOf(name)), valueBuf, valueBufSize,
                        model().doubledMoreDataLength);
    });
}

template <class Char>
UINT setProperty(const char* function, MSIHANDLE install, const Char* nameText, const Char* valueText)
{
    return modelled<UINT>(function, [&]() -> UINT {
        Session* session = installSessionOf(install);
        if (!session) {
            return ERROR_INVALID_HANDLE;
        }
        const std::optional<std::string> name = textOf(nameText);
        const std::optional<std::string> value = textOf(valueText);
        if (!name) {
            return ERROR_INVALID_PARAMETER;
        }
        if (name->empty()) {
            return value ? ERROR_FUNCTION_FAILED : ERROR_SUCCESS;
        }
        if (!value || value->empty()) {
            session->properties.erase(*name);
        } else {
            session->properties[*name] = *value;
        }
        return ERROR_SUCCESS;
    });
}

// Probed under Wine, in a costed session: "C:\Other" becomes "C:\Other\" and "C:\Dbl\\Path"
// becomes "C:\Dbl\Path\"; the directory's property takes the new path, and a directory below it
// moves along with its property ("C:\Other\Sub\"). Setting the property changes no path.
template <class Char>
UINT setTargetPath(const char* function, MSIHANDLE install, const Char* folderText, const Char* folderPath)
{
    return modelled<UINT>(function, [&]() -> UINT {
        const std::optional<std::string> folder = textOf(folderText);
        Directory* directory = nullptr;
        if (const UINT error = directoryOf(install, orNull(folder), directory)) {
            return error;
        }
        if (!folderPath) {
            return ERROR_INVALID_PARAMETER;
        }
        // Doubled separators are taken as one, except the two that begin a network path.
        const std::string given = *textOf(folderPath);
        std::string path;
        for (char c : given) {
            if (c != '\\' || path.size() < 2 || path.back() != '\\') {
                path += c;
            }
        }
        if (!path.empty() && path.back() != '\\') {
            path += '\\';  // an empty path stays empty (probed)
        }
        Session& session = *installSessionOf(install);
        moveTarget(session, *folder, path);
        return ERROR_SUCCESS;
    });
}

template <class Char>
UINT recordSetString(const char* function, MSIHANDLE record, UINT field, const Char* value)
{
    return modelled<UINT>(function, [&]() -> UINT {
        StoredField* slot = nullptr;
        if (const UINT error = fieldToSet(record, field, slot)) {
            return error;
        }
        if (!value || !*value) {
            *slot = Null{};
        } else {
            *slot = *textOf(value);
        }
        return ERROR_SUCCESS;
    });
}

template <class Char>
UINT recordGetString(const char* function, MSIHANDLE record, UINT field, Char* valueBuf, LPDWORD valueBufSize)
{
    return modelled<UINT>(function, [&]() -> UINT {
        Record* rec = openRecordOf(record);
        if (!rec) {
            return ERROR_INVALID_HANDLE;
        }
        if (field > rec->count()) {
            // Beyond the last field: an empty text, whatever the size.
            if (valueBufSize) {
                if (valueBuf && *valueBufSize > 0) {
                    valueBuf[0] = Char{};
                }
                *valueBufSize = 0;
            }
            return ERROR_SUCCESS;
        }
        const StoredField& stored = rec->fields[field];
        if (std::holds_alternative<StreamData>(stored)) {
            // A stream has no text. Probed under Wine: length 0 and ERROR_INVALID_PARAMETER, but
            // ERROR_MORE_DATA when a buffer of size 0 is given (the length query of the two-call
            // protocol); the buffer is never written.
            if (!valueBufSize) {
                return ERROR_INVALID_PARAMETER;
            }
            const bool lengthQuery = valueBuf && *valueBufSize == 0;
            *valueBufSize = 0;
            return lengthQuery ? ERROR_MORE_DATA : ERROR_INVALID_PARAMETER;
        }
        return copyText(fieldText(stored), valueBuf, valueBufSize, false);
    });
}

}  // namespace

UINT WINAPI MsiCloseHandle(MSIHANDLE handle)
{
    const UINT result = modelled<UINT>("MsiCloseHandle", [&]() -> UINT {
        if (handle == 0) {
            return ERROR_SUCCESS;
        }
        Model& m = model();
        auto it = m.handles.find(handle);
        if (it == m.handles.end()) {
            ++m.badCloses;
            return ERROR_INVALID_HANDLE;
        }
        ++it->second.closeCalls;
        if (!it->second.open) {
            ++m.badCloses;
            return ERROR_INVALID_HANDLE;
        }
        it->second.open = false;
        return ERROR_SUCCESS;
    });
    // A handle still open after a failed close was refused by a fault: the close never happened.
    if (result != ERROR_SUCCESS) {
        auto& handles = model().handles;
        if (auto it = handles.find(handle); it != handles.end() && it->second.open) {
            it->second.closeRefused = true;
        }
    }
    return result;
}

UINT WINAPI MsiGetPropertyA(MSIHANDLE install, LPCSTR name, LPSTR valueBuf, LPDWORD valueBufSize)
{
    return getProperty("MsiGetPropertyA", install, name, valueBuf, valueBufSize);
}

UINT WINAPI MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR valueBuf, LPDWORD valueBufSize)
{
    return getProperty("MsiGetPropertyW", install, name, valueBuf, valueBufSize);
}

UINT WINAPI MsiSetPropertyA(MSIHANDLE install, LPCSTR name, LPCSTR value)
{
    return setProperty("MsiSetPropertyA", install, name, value);
}

UINT WINAPI MsiSetPropertyW(MSIHANDLE install, LPCWSTR name, LPCWSTR value)
{
    return setProperty("MsiSetPropertyW", install, name, value);
}

UINT WINAPI MsiGetTargetPathA(MSIHANDLE install, LPCSTR folder, LPSTR pathBuf, LPDWORD pathBufSize)
{
    return getPath("MsiGetTargetPathA", install, folder, pathBuf, pathBufSize, true);
}

UINT WINAPI MsiGetTargetPathW(MSIHANDLE install, LPCWSTR folder, LPWSTR pathBuf, LPDWORD pathBufSize)
{
    return getPath("MsiGetTargetPathW", install, folder, pathBuf, pathBufSize, true);
}

UINT WINAPI MsiGetSourcePathA(MSIHANDLE install, LPCSTR folder, LPSTR pathBuf, LPDWORD pathBufSize)
{
    return getPath("MsiGetSourcePathA", install, folder, pathBuf, pathBufSize, false);
}

UINT WINAPI MsiGetSourcePathW(MSIHANDLE install, LPCWSTR folder, LPWSTR pathBuf, LPDWORD pathBufSize)
{
    return getPath("MsiGetSourcePathW", install, folder, pathBuf, pathBufSize, false);
}

UINT WINAPI MsiSetTargetPathA(MSIHANDLE install, LPCSTR folder, LPCSTR folderPath)
{
    return setTargetPath("MsiSetTargetPathA", install, folder, folderPath);
}

UINT WINAPI MsiSetTargetPathW(MSIHANDLE install, LPCWSTR folder, LPCWSTR folderPath)
{
    return setTargetPath("MsiSetTargetPathW", install, folder, folderPath);
}

MSIHANDLE WINAPI MsiCreateRecord(UINT params)
{
    return modelled<MSIHANDLE>("MsiCreateRecord", [&]() -> MSIHANDLE {
        if (params > maxRecordFields) {
            return 0;
        }
        MSIHANDLE handle = newHandle(HandleKind::record);
        model().handles.at(handle).record.fields.assign(params + 1, Null{});
        return handle;
    });
}

UINT WINAPI MsiRecordSetStringA(MSIHANDLE record, UINT field, LPCSTR value)
{
    return recordSetString("MsiRecordSetStringA", record, field, value);
}

UINT WINAPI MsiRecordSetStringW(MSIHANDLE record, UINT field, LPCWSTR value)
{
    return recordSetString("MsiRecordSetStringW", record, field, value);
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE record, UINT field, int value)
{
    return modelled<UINT>("MsiRecordSetInteger", [&]() -> UINT {
        StoredField* slot = nullptr;
        if (const UINT error = fieldToSet(record, field, slot)) {
            return error;
        }
        if (value == nullInteger) {
            *slot = Null{};
        } else {
            *slot = value;
        }
        return ERROR_SUCCESS;
    });
}

UINT WINAPI MsiRecordSetStreamA(MSIHANDLE record, UINT field, LPCSTR filePath)
{
    return modelled<UINT>("MsiRecordSetStreamA", [&]() -> UINT {
        StoredField* slot = nullptr;
        if (const UINT error = fieldToSet(record, field, slot)) {
            return error;
        }
        if (field == 0) {
            return ERROR_INVALID_PARAMETER;  // the format holds no stream
        }
        if (!filePath) {
            // No file: rewinds a stream the field already holds.
            StreamData* stream = std::get_if<StreamData>(slot);
            if (!stream) {
                return ERROR_INVALID_FIELD;
            }
            stream->position = 0;
            return ERROR_SUCCESS;
        }
        std::filesystem::path path(hostPath(*textOf(filePath)));
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            bool folderExists =
                std::filesystem::is_directory(path.parent_path().empty() ? "." : path.parent_path(), error);
            if (std::filesystem::is_directory(path, error)) {
                return ERROR_ACCESS_DENIED;
            }
            return folderExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        }
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            return ERROR_ACCESS_DENIED;
        }
        StreamData stream;
        stream.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        *slot = std::move(stream);
        return ERROR_SUCCESS;
    });
}

UINT WINAPI MsiRecordGetStringA(MSIHANDLE record, UINT field, LPSTR valueBuf, LPDWORD valueBufSize)
{
    return recordGetString("MsiRecordGetStringA", record, field, valueBuf, valueBufSize);
}

UINT WINAPI MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR valueBuf, LPDWORD valueBufSize)
{
    return recordGetString("MsiRecordGetStringW", record, field, valueBuf, valueBufSize);
}

int WINAPI MsiRecordGetInteger(MSIHANDLE record, UINT field)
{
    return modelled<int>("MsiRecordGetInteger", [&]() -> int {
        Record* rec = openRecordOf(record);
        if (!rec || field > rec->count()) {
            return nullInteger;
        }
        const StoredField& stored = rec->fields[field];
        if (const int* value = std::get_if<int>(&stored)) {
            return *value;
        }
        if (const std::string* text = std::get_if<std::string>(&stored)) {
            return recordInteger(*text);
        }
        return nullInteger;
    });
}

UINT WINAPI MsiRecordReadStream(MSIHANDLE record, UINT field, char* dataBuf, LPDWORD dataBufSize)
{
    return modelled<UINT>("MsiRecordReadStream", [&]() -> UINT {
        Record* rec = openRecordOf(record);
        if (!rec) {
            return ERROR_INVALID_HANDLE;
        }
        if (field > rec->count() || !dataBufSize) {
            return ERROR_INVALID_PARAMETER;
        }
        StoredField& stored = rec->fields[field];
        if (std::holds_alternative<Null>(stored)) {
            *dataBufSize = 0;
            return ERROR_INVALID_DATA;
        }
        StreamData* stream = std::get_if<StreamData>(&stored);
        if (!stream) {
            return ERROR_INVALID_DATATYPE;
        }
        std::size_t remaining = stream->bytes.size() - stream->position;
        if (!dataBuf) {
            // The bytes still to read. (Wine reports the whole stream and rewinds it.)
            *dataBufSize = static_cast<DWORD>(remaining);
            return ERROR_SUCCESS;
        }
        std::size_t count = std::min<std::size_t>(*dataBufSize, remaining);
        if (count > 0) {
            std::memcpy(dataBuf, stream->bytes.data() + stream->position, count);
        }
        stream->position += count;
        *dataBufSize = static_cast<DWORD>(count);
        return ERROR_SUCCESS;
    });
}

UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE record)
{
    return modelled<UINT>("MsiRecordGetFieldCount", [&]() -> UINT {
        Record* rec = openRecordOf(record);
        return rec ? rec->count() : static_cast<UINT>(-1);
    });
}

UINT WINAPI MsiRecordDataSize(MSIHANDLE record, UINT field)
{
    return modelled<UINT>("MsiRecordDataSize", [&]() -> UINT {
        // An integer's size, a text's characters (UTF-16, as the installer keeps them), a stream's
        // bytes; 0 for a null field, one beyond the count and a handle that is no open record.
        Record* rec = openRecordOf(record);
        if (!rec || field > rec->count()) {
            return 0;
        }
        const StoredField& stored = rec->fields[field];
        if (std::holds_alternative<int>(stored)) {
            return sizeof(int);
        }
        if (const StreamData* stream = std::get_if<StreamData>(&stored)) {
            return static_cast<UINT>(stream->bytes.size());
        }
        if (const std::string* text = std::get_if<std::string>(&stored)) {
            return static_cast<UINT>(utf8ToWide(*text).size());
        }
        return 0;
    });
}

BOOL WINAPI MsiRecordIsNull(MSIHANDLE record, UINT field)
{
    return modelled<BOOL>("MsiRecordIsNull", [&]() -> BOOL {
        Record* rec = openRecordOf(record);
        if (!rec) {
            return FALSE;
        }
        if (field > rec->count()) {
            return TRUE;
        }
        return std::holds_alternative<Null>(rec->fields[field]) ? TRUE : FALSE;
    });
}

UINT WINAPI MsiRecordClearData(MSIHANDLE record)
{
    return modelled<UINT>("MsiRecordClearData", [&]() -> UINT {
        Record* rec = openRecordOf(record);
        if (!rec) {
            return ERROR_INVALID_HANDLE;
        }
        std::fill(rec->fields.begin(), rec->fields.end(), StoredField{Null{}});
        return ERROR_SUCCESS;
    });
}

MSIHANDLE WINAPI MsiGetLastErrorRecord()
{
    return modelled<MSIHANDLE>("MsiGetLastErrorRecord", [&]() -> MSIHANDLE {
        Model& m = model();
        MSIHANDLE handle = m.pendingErrorRecord;
        m.pendingErrorRecord = 0;
        return openHandle(handle, HandleKind::record) ? handle : 0;
    });
}

namespace {

// The text of a message as the installer formats it (Message::text).
std::string formattedMessage(MSIHANDLE install, INSTALLMESSAGE type, const Record& record)
{
    const auto kind = static_cast<INSTALLMESSAGE>(type & 0xFF000000);
    if (kind == INSTALLMESSAGE_PROGRESS || kind == INSTALLMESSAGE_COMMONDATA) {
        return "";
    }
    const Session& session = *anySessionOf(install);
    std::string& actionTemplate = model().actionTemplates[install];
    if (kind == INSTALLMESSAGE_ACTIONSTART) {
        actionTemplate = record.count() >= 3 ? fieldText(record.fields[3]) : "";
    }
    Record formatted = record;
    if (std::holds_alternative<Null>(record.fields[0])) {
        if (kind == INSTALLMESSAGE_ACTIONDATA && !actionTemplate.empty()) {
            formatted.fields[0] = actionTemplate;
        } else if (const int* number = record.count() >= 1 ? std::get_if<int>(&record.fields[1]) : nullptr) {
            if (auto table = session.tables.find("Error"); table != session.tables.end()) {
                for (const std::vector<StoredField>& row : table->second.rows) {
                    if (row.size() >= 2 && row[0] == StoredField(*number) && !std::holds_alternative<Null>(row[1])) {
                        formatted.fields[0] = row[1];
                    }
                }
            }
        }
    }
    return formatText(&session, formatted);
}

}  // namespace

int WINAPI MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE messageType, MSIHANDLE record)
{
    return modelled<int>("MsiProcessMessage", [&]() -> int {
        // A bad handle answers -1, as documented. (Wine answers ERROR_INVALID_HANDLE, 6.)
        Record* rec = openRecordOf(record);
        if (!anySessionOf(install) || !rec) {
            return -1;
        }
        Message message{messageType, install, {}, formattedMessage(install, messageType, *rec)};
        for (const StoredField& field : rec->fields) {
            message.fields.push_back(toField(field));
        }
        Model& m = model();
        m.messages.push_back(std::move(message));
        return m.processMessageResult;  // 0 unless a test sets it: the answer without a user interface
    });
}
