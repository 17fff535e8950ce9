// The host platform model: its state, the handle table, call accounting and fault injection,
// and the steering functions of Simulation.h. The platform calls themselves live in
// SimInstaller.cpp (msi.dll) and SimSystem.cpp (KERNEL32, USER32); the library's file streams in
// QelStreams.cpp.
#include "Simulation.h"

#include "SimModel.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace sim {
namespace detail {

namespace {

std::filesystem::path makeTempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "qelsim-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    return std::filesystem::path(pattern).lexically_normal();
}

std::unique_ptr<Model>& instance()
{
    static std::unique_ptr<Model> current;
    return current;
}

HandleEntry& knownHandle(MSIHANDLE handle, HandleKind kind, const char* what)
{
    auto& handles = model().handles;
    auto it = handles.find(handle);
    if (it == handles.end() || it->second.kind != kind) {
        throw std::invalid_argument(std::string("sim: not a ") + what + " handle: " + std::to_string(handle));
    }
    return it->second;
}

const Directory& knownDirectory(MSIHANDLE session, const std::string& name)
{
    auto& directories = knownSession(session).directories;
    auto it = directories.find(name);
    if (it == directories.end()) {
        throw std::invalid_argument("sim: no directory " + name);
    }
    return it->second;
}

}  // namespace

Session& knownSession(MSIHANDLE handle)
{
    return knownHandle(handle, HandleKind::session, "session").session;
}

Model::Model() : ownedFolder(makeTempFolder()), systemMessages(windowsMessages())
{
    // The temporary folder, and beside it (in "drives") the folders of Windows paths on drives.
    tempFolder = ownedFolder / "Temp";
    std::filesystem::create_directory(tempFolder);
    drives["C:\\"] = DRIVE_FIXED;
}

Model::~Model()
{
    std::error_code ignored;
    std::filesystem::remove_all(ownedFolder, ignored);
}

namespace {
int modelCallDepth = 0;
}  // namespace

ModelCallScope::ModelCallScope()
{
    ++modelCallDepth;
}

ModelCallScope::~ModelCallScope()
{
    --modelCallDepth;
}

Model& model()
{
    auto& current = instance();
    if (!current) {
        current = std::make_unique<Model>();
    }
    return *current;
}

Entry enter(const char* function)
{
    if (!model().journal) {
        return {};
    }
    // Hooks first: they change the world right before the call, which is not yet counted.
    for (;;) {
        Model& m = model();
        std::size_t next = m.callCounts[function] + 1;
        auto hook = std::find_if(m.hooks.begin(), m.hooks.end(),
                                 [&](const Hook& h) { return h.function == function && h.ordinal == next; });
        if (hook == m.hooks.end()) {
            break;
        }
        std::function<void()> action = std::move(hook->action);
        m.hooks.erase(hook);
        action();
    }
    Model& m = model();
    m.callLog.emplace_back(function);
    std::size_t ordinal = ++m.callCounts[function];
    auto fault = std::find_if(m.faults.begin(), m.faults.end(),
                              [&](const Fault& f) { return f.function == function && f.ordinal == ordinal; });
    if (fault == m.faults.end()) {
        return {};
    }
    Entry entry{true, fault->result};
    if (fault->lastError) {
        m.lastError = *fault->lastError;
    }
    m.faults.erase(fault);
    return entry;
}

HandleEntry* openHandle(MSIHANDLE handle, HandleKind kind)
{
    auto& handles = model().handles;
    auto it = handles.find(handle);
    if (it == handles.end() || it->second.kind != kind || !it->second.open) {
        return nullptr;
    }
    return &it->second;
}

MSIHANDLE newHandle(HandleKind kind)
{
    Model& m = model();
    MSIHANDLE handle = m.nextHandle++;
    HandleEntry entry;
    entry.kind = kind;
    m.handles.emplace(handle, std::move(entry));
    return handle;
}

StoredField toStored(const Field& field)
{
    if (const int* value = std::get_if<int>(&field)) {
        return *value == nullInteger ? StoredField{Null{}} : StoredField{*value};
    }
    if (const std::string* text = std::get_if<std::string>(&field)) {
        return text->empty() ? StoredField{Null{}} : StoredField{*text};
    }
    if (const Stream* stream = std::get_if<Stream>(&field)) {
        return StreamData{stream->bytes, 0};
    }
    return Null{};
}

Field toField(const StoredField& field)
{
    if (const int* value = std::get_if<int>(&field)) {
        return *value;
    }
    if (const std::string* text = std::get_if<std::string>(&field)) {
        return *text;
    }
    if (const StreamData* stream = std::get_if<StreamData>(&field)) {
        return Stream{stream->bytes};
    }
    return Null{};
}

}  // namespace detail

using namespace detail;

void reset()
{
    // The old model (and the temporary folder it made) goes first, then a fresh one is built.
    instance().reset();
    model();
}

std::optional<HandleInfo> handleInfo(MSIHANDLE handle)
{
    auto& handles = model().handles;
    auto it = handles.find(handle);
    if (it == handles.end()) {
        return std::nullopt;
    }
    return HandleInfo{it->second.kind, it->second.open, it->second.closeCalls};
}

std::size_t openHandles(HandleKind kind)
{
    const auto& handles = model().handles;
    return static_cast<std::size_t>(std::count_if(handles.begin(), handles.end(), [&](const auto& entry) {
        return entry.second.kind == kind && entry.second.open;
    }));
}

std::size_t badCloses()
{
    return model().badCloses;
}

MSIHANDLE openSession()
{
    return newHandle(HandleKind::session);
}

void setProperty(MSIHANDLE session, const std::string& name, const std::string& value)
{
    auto& properties = knownSession(session).properties;
    if (value.empty()) {
        properties.erase(name);
    } else {
        properties[name] = value;
    }
}

std::string property(MSIHANDLE session, const std::string& name)
{
    const auto& properties = knownSession(session).properties;
    auto it = properties.find(name);
    return it == properties.end() ? std::string() : it->second;
}

void setDirectory(MSIHANDLE session, const std::string& name, const std::string& targetPath,
                  const std::string& sourcePath, const std::string& parent)
{
    // The parent must exist and must not lie below the directory: the tree has no cycles.
    for (std::string above = parent; !above.empty(); above = knownDirectory(session, above).parent) {
        if (above == name) {
            throw std::invalid_argument("sim::setDirectory: " + name + " cannot lie below itself");
        }
    }
    Session& state = knownSession(session);
    state.directories[name] = Directory{targetPath, sourcePath, parent};
    state.properties[name] = targetPath;
}

std::string targetPath(MSIHANDLE session, const std::string& name)
{
    return knownDirectory(session, name).target;
}

std::string sourcePath(MSIHANDLE session, const std::string& name)
{
    return knownDirectory(session, name).source;
}

void setDoubledMoreDataLength(bool on)
{
    model().doubledMoreDataLength = on;
}

MSIHANDLE makeRecord(const std::vector<Field>& fields)
{
    MSIHANDLE handle = newHandle(HandleKind::record);
    Record& record = model().handles.at(handle).record;
    for (const Field& field : fields) {
        record.fields.push_back(toStored(field));
    }
    if (record.fields.empty()) {
        record.fields.emplace_back(Null{});
    }
    return handle;
}

std::vector<Field> recordFields(MSIHANDLE record)
{
    std::vector<Field> fields;
    for (const StoredField& field : knownHandle(record, HandleKind::record, "record").record.fields) {
        fields.push_back(toField(field));
    }
    return fields;
}

MSIHANDLE setPendingErrorRecord(const std::vector<Field>& fields)
{
    MSIHANDLE handle = makeRecord(fields);
    Model& m = model();
    // A record that was never handed over is the installer's own; it drops it.
    if (HandleEntry* previous = openHandle(m.pendingErrorRecord, HandleKind::record)) {
        previous->open = false;
    }
    m.pendingErrorRecord = handle;
    return handle;
}

const std::vector<Message>& messages()
{
    return model().messages;
}

void setProcessMessageResult(int result)
{
    model().processMessageResult = result;
}

Progress progress()
{
    Progress bar;
    long long perActionData = 0;
    for (const Message& message : model().messages) {
        const auto type = static_cast<unsigned>(message.type) & 0xFF000000u;
        if (type == static_cast<unsigned>(INSTALLMESSAGE_ACTIONSTART)) {
            perActionData = 0;
        } else if (type == static_cast<unsigned>(INSTALLMESSAGE_ACTIONDATA)) {
            bar.done += perActionData;
        }
        if (type != static_cast<unsigned>(INSTALLMESSAGE_PROGRESS)) {
            continue;
        }
        auto number = [&](std::size_t field) -> std::optional<int> {
            if (field >= message.fields.size()) {
                return std::nullopt;
            }
            if (const int* value = std::get_if<int>(&message.fields[field])) {
                return *value;
            }
            if (const std::string* text = std::get_if<std::string>(&message.fields[field])) {
                const int value = parseInteger(*text);
                return value == nullInteger ? std::nullopt : std::optional<int>(value);
            }
            return std::nullopt;
        };
        const std::optional<int> kind = number(1);
        const std::optional<int> ticks = number(2);
        if (!kind || !ticks || *kind < 0 || *kind > 3) {
            ++bar.malformed;
            continue;
        }
        switch (*kind) {
        case 0:
            bar.total = *ticks;
            bar.done = 0;
            ++bar.resets;
            break;
        case 1:
            perActionData = number(3).value_or(0) == 1 ? *ticks : 0;
            break;
        case 2:
            bar.done += *ticks;
            ++bar.reports;
            break;
        default:
            bar.total += *ticks;
            ++bar.adds;
            break;
        }
    }
    return bar;
}

namespace {

ColumnDefinition columnOf(const Column& column)
{
    ColumnDefinition definition;
    definition.name = column.name;
    const std::string& type = column.type;
    const char letter = type.empty() ? '?' : type[0];
    definition.kind = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    definition.nullable = letter != definition.kind;
    const std::string width = type.empty() ? "" : type.substr(1);
    const bool digits = !width.empty() && width.size() < 6 &&
                        std::all_of(width.begin(), width.end(), [](char c) { return c >= '0' && c <= '9'; });
    definition.width = digits ? std::stoi(width) : -1;
    const bool valid =
        column.name.size() > 0 && ((definition.kind == 's' || definition.kind == 'l') ? definition.width >= 0
                                   : definition.kind == 'i' ? definition.width == 2 || definition.width == 4
                                   : definition.kind == 'v' ? definition.width == 0
                                                            : false);
    if (!valid) {
        throw std::invalid_argument("sim::addTable: not a column type: " + column.name + " " + type);
    }
    return definition;
}

Table& knownTable(MSIHANDLE session, const std::string& table)
{
    auto& tables = knownSession(session).tables;
    auto it = tables.find(table);
    if (it == tables.end()) {
        throw std::invalid_argument("sim: no table " + table);
    }
    return it->second;
}

}  // namespace

void addTable(MSIHANDLE session, const std::string& table, const std::vector<Column>& columns, std::size_t keys)
{
    Session& state = knownSession(session);
    if (state.tables.count(table) != 0 || columns.empty() || keys == 0 || keys > columns.size()) {
        throw std::invalid_argument("sim::addTable: " + table + " is there already, or has no columns or keys");
    }
    Table definition;
    definition.keys = keys;
    for (const Column& column : columns) {
        definition.columns.push_back(columnOf(column));
    }
    state.tables.emplace(table, std::move(definition));
}

void addRow(MSIHANDLE session, const std::string& table, const std::vector<Field>& row)
{
    Table& definition = knownTable(session, table);
    if (row.size() != definition.columns.size()) {
        throw std::invalid_argument("sim::addRow: " + table + " has " + std::to_string(definition.columns.size()) +
                                    " columns");
    }
    std::vector<StoredField> stored;
    for (const Field& field : row) {
        if (const std::string* text = std::get_if<std::string>(&field)) {
            stored.emplace_back(*text);  // kept as given: acceptRow converts it
        } else if (const int* value = std::get_if<int>(&field)) {
            stored.emplace_back(*value);
        } else {
            stored.push_back(toStored(field));  // a stream, or a null
        }
    }
    if (const UINT refused = acceptRow(knownSession(session), definition, stored)) {
        throw std::invalid_argument(
            "sim::addRow: " + table + " refuses the row (" +
            (refused == ERROR_FUNCTION_FAILED ? "its key is there already" : "a null or a value of the wrong type") +
            ")");
    }
}

std::vector<std::vector<Field>> rows(MSIHANDLE session, const std::string& table)
{
    std::vector<std::vector<Field>> all;
    for (const auto& row : knownTable(session, table).rows) {
        std::vector<Field> fields;
        for (const StoredField& field : row) {
            fields.push_back(toField(field));
        }
        all.push_back(std::move(fields));
    }
    return all;
}

void setFeature(MSIHANDLE session, const std::string& feature, INSTALLSTATE installed, INSTALLSTATE action,
                const std::vector<std::string>& components)
{
    Session& state = knownSession(session);
    Feature& entry = state.features[feature];
    entry.states = {installed, action};
    for (const std::string& component : components) {
        state.components.try_emplace(component, InstallStates{installed, action});
        if (std::find(entry.components.begin(), entry.components.end(), component) == entry.components.end()) {
            entry.components.push_back(component);
        }
    }
}

void setComponent(MSIHANDLE session, const std::string& component, INSTALLSTATE installed, INSTALLSTATE action)
{
    knownSession(session).components[component] = {installed, action};
}

States featureStates(MSIHANDLE session, const std::string& feature)
{
    const auto& features = knownSession(session).features;
    auto it = features.find(feature);
    if (it == features.end()) {
        throw std::invalid_argument("sim: no feature " + feature);
    }
    return {it->second.states.installed, it->second.states.action};
}

States componentStates(MSIHANDLE session, const std::string& component)
{
    const auto& components = knownSession(session).components;
    auto it = components.find(component);
    if (it == components.end()) {
        throw std::invalid_argument("sim: no component " + component);
    }
    return {it->second.installed, it->second.action};
}

void setMode(MSIHANDLE session, MSIRUNMODE mode, bool on)
{
    if (mode < MSIRUNMODE_ADMIN || mode > MSIRUNMODE_RESERVED15) {
        throw std::invalid_argument("sim::setMode: the script's modes are not set by hand");
    }
    auto& modes = knownSession(session).modes;
    if (on) {
        modes.insert(mode);
    } else {
        modes.erase(mode);
    }
}

void setLanguage(MSIHANDLE session, LANGID language)
{
    setProperty(session, "ProductLanguage", std::to_string(language));
}

const std::vector<std::string>& callLog()
{
    return model().callLog;
}

std::size_t calls(std::string_view function)
{
    const auto& counts = model().callCounts;
    auto it = counts.find(function);
    return it == counts.end() ? 0 : it->second;
}

void setJournal(bool on)
{
    model().journal = on;
}

void failCall(std::string_view function, int nth, std::int64_t result, std::optional<DWORD> lastError)
{
    if (nth < 1) {
        throw std::invalid_argument("sim::failCall: nth counts from 1");
    }
    model().faults.push_back(
        Fault{std::string(function), calls(function) + static_cast<std::size_t>(nth), result, lastError});
}

bool insideModelCall()
{
    return modelCallDepth > 0;
}

StandInCall::StandInCall(const char* function)
{
    ++modelCallDepth;
    const Entry entry = enter(function);
    fault = entry.faulted;
    result = entry.result;
}

StandInCall::~StandInCall()
{
    --modelCallDepth;
}

void beforeCall(std::string_view function, int nth, std::function<void()> action)
{
    if (nth < 1) {
        throw std::invalid_argument("sim::beforeCall: nth counts from 1");
    }
    model().hooks.push_back(
        Hook{std::string(function), calls(function) + static_cast<std::size_t>(nth), std::move(action)});
}

void setDrive(const std::string& root, UINT type)
{
    std::string key = volumeKey(root);
    if (!key.empty() && key.back() != '\\') {
        key += '\\';
    }
    if (driveRoot(key).empty() || key.find("\\\\", 2) != std::string::npos) {
        throw std::invalid_argument("sim::setDrive: not a drive root or mount folder: " + root);
    }
    model().drives[key] = type;
}

const std::vector<std::string>& driveTypeQueries()
{
    return model().driveTypeQueries;
}

namespace {

bool isWindowsDrivePath(const std::string& path)
{
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

}  // namespace

std::string makeFolder(const std::string& windowsFolder)
{
    if (!isWindowsDrivePath(windowsFolder)) {
        throw std::invalid_argument("sim::makeFolder: not a path on a drive: " + windowsFolder);
    }
    std::string path = hostPath(windowsFolder);
    std::filesystem::create_directories(std::filesystem::path(path).lexically_normal());
    if (path.back() != '/') {
        path += '/';
    }
    return path;
}

void setTempPath(const std::string& folderPath)
{
    const std::string hostFolder = isWindowsDrivePath(folderPath) ? makeFolder(folderPath) : folderPath;
    std::filesystem::path folder = std::filesystem::absolute(hostFolder).lexically_normal();
    if (!folder.has_filename() && folder.has_parent_path() && folder != folder.root_path()) {
        folder = folder.parent_path();
    }
    std::filesystem::create_directories(folder);
    model().tempFolder = folder;
}

std::string tempPath()
{
    std::string path = model().tempFolder.string();
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

void setSystemMessage(DWORD id, const std::string& text)
{
    auto& table = model().systemMessages;
    if (text.empty()) {
        table.erase(id);
    } else {
        table[id] = text;
    }
}

std::size_t liveLocalAllocations()
{
    return model().localAllocations.size();
}

std::size_t badLocalFrees()
{
    return model().badLocalFrees;
}

std::size_t openFindHandles()
{
    return model().openFinds.size();
}

bool Leftovers::none() const
{
    return records == 0 && databases == 0 && views == 0 && searches == 0 && files == 0 && systemBuffers == 0 &&
           badFrees == 0 && badCloses == 0 && !sessionClosed;
}

std::vector<std::string> Leftovers::problems() const
{
    auto count = [](std::size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::vector<std::string> found;
    if (sessionClosed) {
        found.emplace_back("the session was closed: it is the installer's");
    }
    if (badCloses != 0) {
        found.push_back(count(badCloses, "handle", "handles") + " closed twice, or never handed out and closed");
    }
    if (records != 0) {
        found.push_back(count(records, "record handle", "record handles") + " left open");
    }
    if (databases != 0) {
        found.push_back(count(databases, "database handle", "database handles") + " left open");
    }
    if (views != 0) {
        found.push_back(count(views, "view handle", "view handles") + " left open");
    }
    if (searches != 0) {
        found.push_back(count(searches, "search handle", "search handles") + " left open");
    }
    if (files != 0) {
        found.push_back(count(files, "file handle", "file handles") + " left open");
    }
    if (systemBuffers != 0) {
        found.push_back(count(systemBuffers, "system message buffer", "system message buffers") +
                        " never passed to LocalFree");
    }
    if (badFrees != 0) {
        found.push_back(count(badFrees, "LocalFree call", "LocalFree calls") +
                        " with a system message buffer freed already, or memory never allocated");
    }
    return found;
}

Leftovers leftovers(MSIHANDLE session)
{
    const Model& m = model();
    Leftovers left;
    for (const auto& [handle, entry] : m.handles) {
        if (!entry.open || entry.closeRefused) {
            continue;
        }
        if (entry.kind == HandleKind::record && handle != m.pendingErrorRecord) {
            ++left.records;
        } else if (entry.kind == HandleKind::database) {
            ++left.databases;
        } else if (entry.kind == HandleKind::view) {
            ++left.views;
        }
    }
    left.searches =
        static_cast<std::size_t>(std::count_if(m.openFinds.begin(), m.openFinds.end(), [&](std::uintptr_t find) {
            return m.refusedFindCloses.count(find) == 0;
        }));
    left.files = static_cast<std::size_t>(std::count_if(m.openFiles.begin(), m.openFiles.end(), [&](const auto& file) {
        return m.refusedFileCloses.count(file.first) == 0;
    }));
    left.systemBuffers = m.localAllocations.size();
    left.badFrees = m.badLocalFrees;
    left.badCloses = m.badCloses;
    if (session != 0) {
        const auto it = m.handles.find(session);
        left.sessionClosed = it == m.handles.end() || it->second.kind != HandleKind::session || !it->second.open ||
                             it->second.closeCalls != 0 || it->second.closeRefused;
    }
    return left;
}

void setCodePage(unsigned codePage)
{
    if (!knownCodePage(codePage)) {
        throw std::invalid_argument("sim::setCodePage: unsupported code page " + std::to_string(codePage));
    }
    model().codePage = codePage;
}

void setStringResource(HINSTANCE module, UINT id, const std::string& text)
{
    model().stringResources[{module, id}] = text;
}

const std::vector<MessageBoxCall>& messageBoxes()
{
    return model().messageBoxes;
}

void scriptMessageBoxAnswers(const std::vector<int>& answers)
{
    model().messageBoxAnswers.assign(answers.begin(), answers.end());
}

}  // namespace sim
