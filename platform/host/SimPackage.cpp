// The host platform model's packages: an installer package (.msi) read with libmsi, and a session
// filled from it as the installer has it after costing (sim::loadPackage).
#include "SimModel.h"

#include <libmsi.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <utility>

using namespace sim;
using namespace sim::detail;

namespace {

// ---- Reading a package (libmsi) ------------------------------------------------------------------

struct PackageTable {
    std::string name;
    std::vector<Column> columns;
    std::size_t keys = 1;
    std::vector<std::vector<Field>> rows;
};

struct PackageData {
    std::vector<PackageTable> tables;
    int wordCount = 0;  // the summary's Word Count: 1 short source names, 2 compressed, 4 administrative image
    // The tables and string pool as the first session loaded them, which the next take whole.
    std::map<std::string, Table> filled;
    std::map<std::string, std::size_t, std::less<>> pool;
};

struct Unref {
    void operator()(void* object) const { g_object_unref(object); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref>;

class Reader {
public:
    explicit Reader(std::string path) : path(std::move(path)) {}

    PackageData read()
    {
        GError* error = nullptr;
        database.reset(libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error));
        check(database != nullptr, "not a package libmsi can open", error);
        PackageData package;
        Owned<LibmsiSummaryInfo> summary(libmsi_summary_info_new(database.get(), 0, &error));
        check(summary != nullptr, "no summary information", error);
        if (libmsi_summary_info_get_property_type(summary.get(), LIBMSI_PROPERTY_SOURCE, &error) ==
            LIBMSI_PROPERTY_TYPE_INT) {
            package.wordCount = libmsi_summary_info_get_int(summary.get(), LIBMSI_PROPERTY_SOURCE, &error);
        }
        g_clear_error(&error);
        for (const std::string& name : tableNames()) {
            package.tables.push_back(table(name));
        }
        return package;
    }

private:
    [[noreturn]] void fail(const std::string& what, GError* error) const
    {
        std::string message = "sim::loadPackage: " + path + ": " + what;
        if (error) {
            message += std::string(": ") + error->message;
            g_error_free(error);
        }
        throw std::runtime_error(message);
    }
    void check(bool ok, const std::string& what, GError* error) const
    {
        if (!ok) {
            fail(what, error);
        }
    }

    static std::string text(LibmsiRecord* record, guint field)
    {
        gchar* value = libmsi_record_get_string(record, field);
        std::string copy = value ? value : "";
        g_free(value);
        return copy;
    }

    Owned<LibmsiQuery> execute(const std::string& query) const
    {
        GError* error = nullptr;
        Owned<LibmsiQuery> view(libmsi_query_new(database.get(), query.c_str(), &error));
        check(view && libmsi_query_execute(view.get(), nullptr, &error), query, error);
        return view;
    }

    // The view's next row; none after the last.
    Owned<LibmsiRecord> next(LibmsiQuery* view) const
    {
        GError* error = nullptr;
        Owned<LibmsiRecord> row(libmsi_query_fetch(view, &error));
        check(row || !error, "a row libmsi cannot read", error);
        return row;
    }

    // Fields 1.. of a record of texts.
    std::vector<std::string> texts(LibmsiRecord* record) const
    {
        std::vector<std::string> all;
        for (guint i = 1; record && i <= libmsi_record_get_field_count(record); ++i) {
            all.push_back(text(record, i));
        }
        return all;
    }

    std::vector<std::string> tableNames() const
    {
        std::vector<std::string> names;
        const Owned<LibmsiQuery> view = execute("SELECT `Name` FROM `_Tables`");
        while (const Owned<LibmsiRecord> row = next(view.get())) {
            names.push_back(text(row.get(), 1));
        }
        return names;
    }

    std::vector<char> stream(LibmsiRecord* record, guint field) const
    {
        Owned<GInputStream> input(libmsi_record_get_stream(record, field));
        std::vector<char> bytes;
        char chunk[1 << 14];
        GError* error = nullptr;
        for (gssize got = 1; input && got > 0;) {
            got = g_input_stream_read(input.get(), chunk, sizeof chunk, nullptr, &error);
            check(got >= 0, "a stream libmsi cannot read", error);
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }

    PackageTable table(const std::string& name) const
    {
        PackageTable table{name, {}, 0, {}};
        const Owned<LibmsiQuery> view = execute("SELECT * FROM `" + name + "`");
        GError* error = nullptr;
        const Owned<LibmsiRecord> names(libmsi_query_get_column_info(view.get(), LIBMSI_COL_INFO_NAMES, &error));
        check(names != nullptr, "no columns of " + name, error);
        const Owned<LibmsiRecord> types(libmsi_query_get_column_info(view.get(), LIBMSI_COL_INFO_TYPES, &error));
        check(types != nullptr, "no column types of " + name, error);
        const std::vector<std::string> columnNames = texts(names.get());
        const std::vector<std::string> columnTypes = texts(types.get());
        for (std::size_t i = 0; i < columnNames.size() && i < columnTypes.size(); ++i) {
            table.columns.push_back({columnNames[i], columnTypes[i]});
        }
        const Owned<LibmsiRecord> keys(libmsi_database_get_primary_keys(database.get(), name.c_str(), &error));
        check(keys != nullptr, "no primary key of " + name, error);
        const std::vector<std::string> keyNames = texts(keys.get());
        // The model keys a table by its first columns, as every table of the installer's own is.
        table.keys = keyNames.size();
        for (std::size_t i = 0; i < keyNames.size(); ++i) {
            check(i < columnNames.size() && keyNames[i] == columnNames[i],
                  "the key of " + name + " is not its first columns", nullptr);
        }
        while (const Owned<LibmsiRecord> row = next(view.get())) {
            std::vector<Field> fields;
            for (std::size_t i = 0; i < table.columns.size(); ++i) {
                fields.push_back(fieldOf(row.get(), static_cast<guint>(i + 1), table.columns[i].type));
            }
            table.rows.push_back(std::move(fields));
        }
        return table;
    }

    Field fieldOf(LibmsiRecord* row, guint field, const std::string& type) const
    {
        if (libmsi_record_is_null(row, field)) {
            return Null{};
        }
        const char kind = static_cast<char>(std::tolower(static_cast<unsigned char>(type.at(0))));
        if (kind == 'i') {
            return libmsi_record_get_int(row, field);
        }
        if (kind == 'v') {
            return Stream{stream(row, field)};
        }
        return text(row, field);
    }

    std::string path;
    Owned<LibmsiDatabase> database;
};

}  // namespace

namespace {

// A package is read once for as long as its file stays the same: a test loads it for each case.
PackageData& packageAt(const std::string& path)
{
    struct Cached {
        std::filesystem::file_time_type written;
        std::uintmax_t size;
        PackageData data;
    };
    static std::map<std::string, Cached> cache;
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    const auto size = error ? 0 : std::filesystem::file_size(path, error);
    if (error) {
        throw std::runtime_error("sim::loadPackage: no package " + path + ": " + error.message());
    }
    auto it = cache.find(path);
    if (it == cache.end() || it->second.written != written || it->second.size != size) {
        Cached fresh{written, size, Reader(path).read()};
        it = cache.insert_or_assign(path, std::move(fresh)).first;
    }
    return it->second.data;
}

// ---- Costing ---------------------------------------------------------------------------------------

const std::vector<std::vector<StoredField>>& rowsOf(const Session& session, const std::string& table)
{
    static const std::vector<std::vector<StoredField>> none;
    auto it = session.tables.find(table);
    return it == session.tables.end() ? none : it->second.rows;
}

// A property's value, "" when it is not set.
std::string valueOf(const Session& session, const std::string& name)
{
    auto it = session.properties.find(name);
    return it == session.properties.end() ? std::string() : it->second;
}

int integerOf(const StoredField& field, int otherwise)
{
    const int* value = std::get_if<int>(&field);
    return value ? *value : otherwise;
}

std::string withBackslash(std::string path)
{
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
        path += '\\';
    }
    return path;
}

// The folders the installer names by its properties, as on a 64-bit Windows of a user "User".
// TempFolder is the model's temporary folder.
std::vector<std::pair<std::string, std::string>> systemFolders()
{
    const std::string profile = "C:\\Users\\User\\";
    const std::string roaming = profile + "AppData\\Roaming\\";
    return {
        {"WindowsVolume", "C:\\"},
        {"WindowsFolder", "C:\\Windows\\"},
        {"SystemFolder", "C:\\Windows\\SysWOW64\\"},
        {"System64Folder", "C:\\Windows\\System32\\"},
        {"System16Folder", "C:\\Windows\\System\\"},
        {"FontsFolder", "C:\\Windows\\Fonts\\"},
        {"ProgramFilesFolder", "C:\\Program Files (x86)\\"},
        {"ProgramFiles64Folder", "C:\\Program Files\\"},
        {"CommonFilesFolder", "C:\\Program Files (x86)\\Common Files\\"},
        {"CommonFiles64Folder", "C:\\Program Files\\Common Files\\"},
        {"CommonAppDataFolder", "C:\\ProgramData\\"},
        {"AppDataFolder", roaming},
        {"LocalAppDataFolder", profile + "AppData\\Local\\"},
        {"PersonalFolder", profile + "Documents\\"},
        {"MyPicturesFolder", profile + "Pictures\\"},
        {"DesktopFolder", "C:\\Users\\Public\\Desktop\\"},
        {"FavoritesFolder", profile + "Favorites\\"},
        {"StartMenuFolder", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\"},
        {"ProgramMenuFolder", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\"},
        {"StartupFolder", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\"},
        {"AdminToolsFolder", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools\\"},
        {"SendToFolder", roaming + "Microsoft\\Windows\\SendTo\\"},
        {"RecentFolder", roaming + "Microsoft\\Windows\\Recent\\"},
        {"NetHoodFolder", roaming + "Microsoft\\Windows\\Network Shortcuts\\"},
        {"PrintHoodFolder", roaming + "Microsoft\\Windows\\Printer Shortcuts\\"},
        {"TemplateFolder", "C:\\ProgramData\\Microsoft\\Windows\\Templates\\"},
        {"TempFolder", windowsPath(sim::tempPath())},
        {"ROOTDRIVE", "C:\\"},
    };
}

// A DefaultDir's part, "name" or "short|long", by the form asked for.
std::string nameOf(const std::string& part, bool shortName)
{
    const std::size_t bar = part.find('|');
    if (bar == std::string::npos) {
        return part;
    }
    return shortName ? part.substr(0, bar) : part.substr(bar + 1);
}

// The Directory table resolved as CostFinalize does: a directory whose property is set is there;
// a root (no parent, or itself) lies at its property's path, TARGETDIR's at ROOTDRIVE, and at the
// package's folder for the source; any other below its parent by the names of its DefaultDir
// ("target:source", each "short|long", "." for the parent's own folder; long names unless
// SHORTFILENAMES is set, or, for the source, the summary's Word Count says short names). The
// sources of a compressed package are its folder, whatever the directory.
void resolveDirectories(MSIHANDLE handle, Session& session, int wordCount, const std::string& sourceRoot)
{
    struct Row {
        std::string parent;
        std::string defaultDir;
    };
    std::map<std::string, Row> table;
    for (const auto& row : rowsOf(session, "Directory")) {
        table[fieldText(row[0])] = {fieldText(row[1]), fieldText(row[2])};
    }
    const bool shortTargets = !valueOf(session, "SHORTFILENAMES").empty();
    const bool shortSources = (wordCount & 1) != 0;
    const bool compressed = (wordCount & 2) != 0 && (wordCount & 4) == 0;
    std::map<std::string, std::pair<std::string, std::string>> resolved;  // target and source
    std::set<std::string> resolving;
    std::function<void(const std::string&)> resolve = [&](const std::string& name) {
        if (resolved.count(name) != 0) {
            return;
        }
        if (!resolving.insert(name).second) {
            throw std::invalid_argument("sim::loadPackage: the Directory table's " + name + " lies below itself");
        }
        const Row& row = table.at(name);
        const bool root = row.parent.empty() || row.parent == name;
        if (!root && table.count(row.parent) == 0) {
            throw std::invalid_argument("sim::loadPackage: the Directory table's " + name + " has no parent " +
                                        row.parent);
        }
        const std::size_t colon = row.defaultDir.find(':');
        const std::string targetPart = row.defaultDir.substr(0, colon);
        const std::string sourcePart = colon == std::string::npos ? targetPart : row.defaultDir.substr(colon + 1);
        const std::string given = valueOf(session, name);
        std::string target;
        std::string source;
        std::string treeParent;
        if (root) {
            target = withBackslash(given.empty() ? valueOf(session, "ROOTDRIVE") : given);
            source = sourceRoot;
        } else {
            resolve(row.parent);
            const auto& [parentTarget, parentSource] = resolved.at(row.parent);
            const std::string targetName = nameOf(targetPart, shortTargets);
            const std::string sourceName = nameOf(sourcePart, shortSources);
            target = given.empty() ? (targetName == "." ? parentTarget : parentTarget + targetName + "\\")
                                   : withBackslash(given);
            source = compressed || sourceName == "." ? parentSource : parentSource + sourceName + "\\";
            treeParent = given.empty() ? row.parent : "";
        }
        resolved[name] = {target, source};
        resolving.erase(name);
        sim::setDirectory(handle, name, target, compressed ? sourceRoot : source, treeParent);
    };
    for (const auto& entry : table) {
        resolve(entry.first);
    }
}

// A feature-state property's features: ALL, or a comma-separated list.
bool names(const Session& session, const char* property, const std::string& feature)
{
    auto it = session.properties.find(property);
    if (it == session.properties.end()) {
        return false;
    }
    if (it->second == "ALL") {
        return true;
    }
    std::size_t at = 0;
    while (at <= it->second.size()) {
        const std::size_t comma = std::min(it->second.find(',', at), it->second.size());
        if (it->second.compare(at, comma - at, feature) == 0 && comma - at == feature.size()) {
            return true;
        }
        at = comma + 1;
    }
    return false;
}

// Features and components as costing leaves them. The features a default installation installs
// are those whose level (the Feature table's, or the Condition table's where its condition holds)
// lies between 1 and INSTALLLEVEL (1 when unset) and whose parent it installs: run from source
// with the favour-source attribute (1), as their parent with follow-parent (2), advertised with
// favour-advertise (4), else local. When the product is installed (Installed is set) those are
// its installed states, and nothing changes unless asked; else the default installation is the
// action. ADDLOCAL, REMOVE, ADDSOURCE and REINSTALL (ALL or a list), applied in that order, ask
// instead. A component goes as the features that hold it: local when one of them goes local
// (unless the component runs from source only, attribute 1), from source when one runs from source
// (unless it is local only: attribute 0); removed when it is installed and each of its features
// is removed or absent; not installed when its Condition is false.
void costFeatures(MSIHANDLE handle, Session& session)
{
    struct FeatureRow {
        std::string parent;
        int level;
        int attributes;
    };
    std::map<std::string, FeatureRow> features;
    std::vector<std::string> order;
    for (const auto& row : rowsOf(session, "Feature")) {
        features[fieldText(row[0])] = {fieldText(row[1]), integerOf(row[5], 0), integerOf(row[7], 0)};
        order.push_back(fieldText(row[0]));
    }
    for (const auto& row : rowsOf(session, "Condition")) {
        auto it = features.find(fieldText(row[0]));
        if (it != features.end() && evaluateCondition(session, fieldText(row[2])) == MSICONDITION_TRUE) {
            it->second.level = integerOf(row[1], it->second.level);
        }
    }
    const int installLevel = [&] {
        const int level = parseInteger(valueOf(session, "INSTALLLEVEL"));
        return level == nullInteger ? 1 : level;
    }();
    std::map<std::string, INSTALLSTATE> byDefault;
    std::function<INSTALLSTATE(const std::string&)> defaultState = [&](const std::string& name) -> INSTALLSTATE {
        if (auto known = byDefault.find(name); known != byDefault.end()) {
            return known->second;
        }
        byDefault[name] = INSTALLSTATE_ABSENT;  // a cycle of parents installs none of them
        const FeatureRow& feature = features.at(name);
        const bool hasParent = !feature.parent.empty() && features.count(feature.parent) != 0;
        const INSTALLSTATE parent = hasParent ? defaultState(feature.parent) : INSTALLSTATE_LOCAL;
        INSTALLSTATE state = INSTALLSTATE_ABSENT;
        if (feature.level >= 1 && feature.level <= installLevel && parent != INSTALLSTATE_ABSENT) {
            state = (feature.attributes & 1)   ? INSTALLSTATE_SOURCE
                    : (feature.attributes & 2) ? parent
                    : (feature.attributes & 4) ? INSTALLSTATE_ADVERTISED
                                               : INSTALLSTATE_LOCAL;
        }
        return byDefault[name] = state;
    };
    const bool installed = !valueOf(session, "Installed").empty();
    static constexpr const char* requests[] = {"ADDLOCAL", "REMOVE", "ADDSOURCE", "REINSTALL"};
    const bool asked = std::any_of(std::begin(requests), std::end(requests), [&](const char* property) {
        auto it = session.properties.find(property);
        return it != session.properties.end() && !it->second.empty();
    });
    std::map<std::string, InstallStates> states;
    for (const std::string& name : order) {
        InstallStates& state = states[name];
        const INSTALLSTATE chosen = defaultState(name);
        state.installed = installed ? chosen : INSTALLSTATE_ABSENT;
        state.action = !installed && !asked && chosen != INSTALLSTATE_ABSENT ? chosen : INSTALLSTATE_UNKNOWN;
        if (features.at(name).level == 0) {
            continue;  // disabled: nothing installs it
        }
        if (names(session, "ADDLOCAL", name)) {
            state.action = INSTALLSTATE_LOCAL;
        }
        if (names(session, "REMOVE", name) && state.installed != INSTALLSTATE_ABSENT) {
            state.action = INSTALLSTATE_ABSENT;
        }
        if (names(session, "ADDSOURCE", name)) {
            state.action = INSTALLSTATE_SOURCE;
        }
        if (names(session, "REINSTALL", name) && state.installed != INSTALLSTATE_ABSENT) {
            state.action = state.installed;
        }
    }

    std::map<std::string, std::vector<std::string>> held;  // a feature's components
    std::map<std::string, std::vector<std::string>> holders;
    for (const auto& row : rowsOf(session, "FeatureComponents")) {
        held[fieldText(row[0])].push_back(fieldText(row[1]));
        holders[fieldText(row[1])].push_back(fieldText(row[0]));
    }
    for (const std::string& name : order) {
        sim::setFeature(handle, name, states[name].installed, states[name].action, held[name]);
    }
    for (const auto& row : rowsOf(session, "Component")) {
        const std::string name = fieldText(row[0]);
        const int attributes = integerOf(row[3], 0);
        const std::string condition = fieldText(row[4]);
        // A component of a feature in this state: local, from source, or neither.
        auto as = [&](INSTALLSTATE feature) {
            if (feature == INSTALLSTATE_LOCAL) {
                return (attributes & 3) == 1 ? INSTALLSTATE_SOURCE : INSTALLSTATE_LOCAL;
            }
            if (feature == INSTALLSTATE_SOURCE) {
                return (attributes & 3) == 0 ? INSTALLSTATE_LOCAL : INSTALLSTATE_SOURCE;
            }
            return INSTALLSTATE_UNKNOWN;
        };
        INSTALLSTATE installedState = INSTALLSTATE_ABSENT;
        INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
        bool staying = false;
        bool removed = false;
        for (const std::string& feature : holders[name]) {
            const InstallStates& state = states[feature];
            const INSTALLSTATE now = as(state.installed);
            if (now != INSTALLSTATE_UNKNOWN && installedState != INSTALLSTATE_LOCAL) {
                installedState = now;
            }
            const INSTALLSTATE going = as(state.action);
            if (going != INSTALLSTATE_UNKNOWN && action != INSTALLSTATE_LOCAL) {
                action = going;
            }
            removed |= state.action == INSTALLSTATE_ABSENT;
            staying |= state.action == INSTALLSTATE_UNKNOWN && state.installed != INSTALLSTATE_ABSENT;
        }
        if (action != INSTALLSTATE_UNKNOWN && !condition.empty() &&
            evaluateCondition(session, condition) == MSICONDITION_FALSE) {
            action = INSTALLSTATE_UNKNOWN;
        }
        if (action == INSTALLSTATE_UNKNOWN && removed && !staying && installedState != INSTALLSTATE_ABSENT) {
            action = INSTALLSTATE_ABSENT;
        }
        sim::setComponent(handle, name, installedState, action);
    }
}

}  // namespace

namespace sim {

void loadPackage(MSIHANDLE session, const std::string& path)
{
    const ModelCallScope inModel;  // the model's own work, not the test's
    PackageData& package = packageAt(path);
    Session& state = knownSession(session);
    for (const PackageTable& table : package.tables) {
        if (state.tables.count(table.name) != 0) {
            throw std::invalid_argument("sim::loadPackage: the session has a table " + table.name + " already");
        }
    }
    if (!package.filled.empty() && state.tables.empty() && state.stringPool.empty()) {
        // The same tables and string pool as the first load made, without checking each row again.
        state.tables = package.filled;
        state.stringPool = package.pool;
    } else {
        for (const PackageTable& table : package.tables) {
            addTable(session, table.name, table.columns, table.keys);
            for (const auto& row : table.rows) {
                addRow(session, table.name, row);
            }
        }
        if (package.filled.empty() && state.tables.size() == package.tables.size()) {
            package.filled = state.tables;
            package.pool = state.stringPool;
        }
    }
    // Properties given before (as on the command line) stay; the Property table gives the rest.
    auto setUnlessGiven = [&](const std::string& name, const std::string& value) {
        if (state.properties.count(name) == 0 && !value.empty()) {
            state.properties[name] = value;
        }
    };
    for (const auto& row : rowsOf(state, "Property")) {
        setUnlessGiven(fieldText(row[0]), fieldText(row[1]));
    }
    for (const auto& [name, folder] : systemFolders()) {
        setUnlessGiven(name, folder);
    }
    setUnlessGiven("SOURCEDIR", "C:\\Setup\\");
    const std::string sourceRoot = withBackslash(valueOf(state, "SOURCEDIR"));
    state.properties["SourceDir"] = sourceRoot;
    const std::string file = std::filesystem::path(path).filename().string();
    setUnlessGiven("OriginalDatabase", sourceRoot + file);
    if (!valueOf(state, "Installed").empty()) {
        state.modes.insert(MSIRUNMODE_MAINTENANCE);
    }
    resolveDirectories(session, state, package.wordCount, sourceRoot);
    costFeatures(session, state);
}

}  // namespace sim
