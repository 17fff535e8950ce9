// msi.dll of the host platform model: custom actions, MsiDoAction and the installation script.
#include "SimModel.h"

#include <optional>
#include <stdexcept>
#include <utility>

using namespace sim;
using namespace sim::detail;

namespace {

constexpr const char* customActionTable = "CustomAction";
constexpr int sourceTypeMask = 0x3F;
constexpr int dllFromBinary = 1;
constexpr int dllFromFile = 17;

struct CustomActionRow {
    int type = 0;
    std::string source;
    std::string target;
};

std::optional<CustomActionRow> customAction(const Session& session, const std::string& action)
{
    auto table = session.tables.find(customActionTable);
    if (table == session.tables.end()) {
        return std::nullopt;
    }
    for (const auto& row : table->second.rows) {
        if (fieldText(row[0]) == action) {
            const int* type = std::get_if<int>(&row[1]);
            return CustomActionRow{type ? *type : 0, fieldText(row[2]), fieldText(row[3])};
        }
    }
    return std::nullopt;
}

bool isDll(int type)
{
    return (type & sourceTypeMask) == dllFromBinary || (type & sourceTypeMask) == dllFromFile;
}

Script scriptOf(int type)
{
    if (type & customActionRollback) {
        return Script::rollback;
    }
    return (type & customActionCommit) ? Script::commit : Script::deferred;
}

// What MsiDoAction answers for an immediate action's answer.
UINT doActionAnswer(UINT result, int type)
{
    if ((type & customActionContinue) || result == ERROR_SUCCESS || result == ERROR_NO_MORE_ITEMS) {
        return ERROR_SUCCESS;
    }
    return result == ERROR_INSTALL_USEREXIT ? ERROR_INSTALL_USEREXIT : ERROR_INSTALL_FAILURE;
}

bool failed(UINT result)
{
    return result != ERROR_SUCCESS && result != ERROR_NO_MORE_ITEMS;
}

// Runs a scheduled action with a handle of its own, which reaches only what such an action may.
// What the model does around the action counts as the model's own work (see insideModelCall()).
UINT runScheduled(MSIHANDLE install, const ScriptEntry& entry)
{
    ActionFunction function = nullptr;
    MSIHANDLE handle = 0;
    {
        const ModelCallScope inModel;
        const Session& session = knownSession(install);
        auto code = session.actionCode.find(entry.action);
        if (code == session.actionCode.end()) {
            return ERROR_INSTALL_FAILURE;
        }
        Session limited;
        limited.context = entry.script;
        limited.modes.clear();
        limited.properties["CustomActionData"] = entry.data;
        for (const char* name : {"ProductCode", "UserSID"}) {
            if (auto it = session.properties.find(name); it != session.properties.end()) {
                limited.properties[name] = it->second;
            }
        }
        auto language = session.properties.find("ProductLanguage");
        const int number = language == session.properties.end() ? nullInteger : parseInteger(language->second);
        limited.language = number >= 0 && number <= 0xFFFF ? static_cast<LANGID>(number) : 0;
        function = code->second;
        handle = newHandle(HandleKind::session);
        model().handles.at(handle).session = std::move(limited);
    }
    const UINT result = function(handle);
    // The installer closes the handle it gave the action.
    model().handles.at(handle).open = false;
    return result;
}

template <class Char>
UINT doAction(const char* function, MSIHANDLE install, const Char* actionText)
{
    // The body decides; an immediate DLL action then runs outside the model's call, as the code
    // of the caller's own package.
    ActionFunction run = nullptr;
    int type = 0;
    {
        const ModelCallScope inModel;
        const Entry entry = enter(function);
        if (entry.faulted) {
            return entry.as<UINT>();
        }
        Session* session = installSessionOf(install);
        if (!session) {
            return ERROR_INVALID_HANDLE;
        }
        if (!actionText) {
            return ERROR_INVALID_PARAMETER;
        }
        const std::string action = *textOf(actionText);
        const std::optional<CustomActionRow> row = customAction(*session, action);
        if (!row) {
            return ERROR_FUNCTION_NOT_CALLED;
        }
        type = row->type;
        if (type & customActionInScript) {
            auto data = session->properties.find(action);
            session->script.push_back(
                {action, scriptOf(type), data == session->properties.end() ? std::string() : data->second});
            return ERROR_SUCCESS;
        }
        if ((type & sourceTypeMask) == customActionSetProperty) {
            Record target;
            target.fields = {row->target};
            const std::string value = formatText(session, target);
            if (value.empty()) {
                session->properties.erase(row->source);
            } else {
                session->properties[row->source] = value;
            }
            return ERROR_SUCCESS;
        }
        auto code = session->actionCode.find(action);
        if (!isDll(type) || code == session->actionCode.end()) {
            return ERROR_INSTALL_FAILURE;
        }
        run = code->second;
    }
    return doActionAnswer(run(install), type);
}

}  // namespace

UINT WINAPI MsiDoActionA(MSIHANDLE install, LPCSTR action)
{
    return doAction("MsiDoActionA", install, action);
}

UINT WINAPI MsiDoActionW(MSIHANDLE install, LPCWSTR action)
{
    return doAction("MsiDoActionW", install, action);
}

namespace sim {

void addCustomAction(MSIHANDLE session, const std::string& action, int type, const std::string& source,
                     const std::string& target)
{
    Session& state = knownSession(session);
    if (state.tables.find(customActionTable) == state.tables.end()) {
        addTable(session, customActionTable,
                 {{"Action", "s72"}, {"Type", "i2"}, {"Source", "S72"}, {"Target", "S255"}});
    }
    addRow(session, customActionTable, {action, type, source, target});
}

void addCustomAction(MSIHANDLE session, const std::string& action, int type, ActionFunction function)
{
    if (!isDll(type) || !function) {
        throw std::invalid_argument("sim::addCustomAction: " + action + " is no DLL action with code");
    }
    addCustomAction(session, action, type, "QelSimulated", action);
    knownSession(session).actionCode[action] = function;
}

void bindAction(MSIHANDLE session, const std::string& entry, ActionFunction function)
{
    Session& state = knownSession(session);
    bool bound = false;
    auto table = state.tables.find(customActionTable);
    for (std::size_t i = 0; function && table != state.tables.end() && i < table->second.rows.size(); ++i) {
        const auto& row = table->second.rows[i];
        const int* type = std::get_if<int>(&row[1]);
        if (type && isDll(*type) && fieldText(row[3]) == entry) {
            state.actionCode[fieldText(row[0])] = function;
            bound = true;
        }
    }
    if (!bound) {
        throw std::invalid_argument("sim::bindAction: no DLL action of the CustomAction table calls " + entry);
    }
}

std::vector<Scheduled> script(MSIHANDLE session)
{
    std::vector<Scheduled> entries;
    for (const ScriptEntry& entry : knownSession(session).script) {
        entries.push_back({entry.action, entry.script, entry.data});
    }
    return entries;
}

Installation runInstallation(MSIHANDLE session, const std::vector<Step>& immediate)
{
    // The model's own work here counts as the model's (see insideModelCall()); the actions' code
    // runs as the caller's.
    std::optional<ModelCallScope> inModel(std::in_place);
    Installation installation{ERROR_SUCCESS, {}};
    // The texts are copied inside the model's scope, not as the arguments are made outside it.
    auto record = [&](const std::string& action, Script script, UINT result, const std::string& data) {
        inModel.emplace();
        installation.runs.push_back({action, script, result, data});
    };
    knownSession(session).script.clear();
    int position = 0;
    for (const Step& step : immediate) {
        ++position;
        ActionFunction function = step.function;
        std::string name = step.function ? "Action" + std::to_string(position) : step.action;
        int type = customActionDll;
        if (!function) {
            const Session& state = knownSession(session);
            const std::optional<CustomActionRow> row = customAction(state, name);
            auto code = state.actionCode.find(name);
            if (!row || (row->type & customActionInScript) || code == state.actionCode.end()) {
                throw std::invalid_argument("sim::runInstallation: " + name + " is no immediate DLL action");
            }
            function = code->second;
            type = row->type;
        }
        inModel.reset();
        const UINT result = function(session);
        record(name, Script::immediate, result, "");
        if ((type & customActionContinue) || result == ERROR_SUCCESS) {
            continue;
        }
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        installation.result = result == ERROR_INSTALL_USEREXIT ? ERROR_INSTALL_USEREXIT : ERROR_INSTALL_FAILURE;
        knownSession(session).script.clear();
        return installation;
    }

    const std::vector<ScriptEntry> entries = std::move(knownSession(session).script);
    knownSession(session).script.clear();
    auto ignoresFailure = [&](const std::string& action) {
        const std::optional<CustomActionRow> row = customAction(knownSession(session), action);
        return row && (row->type & customActionContinue);
    };
    std::vector<const ScriptEntry*> rollback;
    std::vector<const ScriptEntry*> commit;
    for (const ScriptEntry& entry : entries) {
        if (entry.script != Script::deferred) {
            (entry.script == Script::rollback ? rollback : commit).push_back(&entry);
            continue;
        }
        inModel.reset();
        const UINT result = runScheduled(session, entry);
        record(entry.action, entry.script, result, entry.data);
        if (!failed(result) || ignoresFailure(entry.action)) {
            continue;
        }
        for (auto it = rollback.rbegin(); it != rollback.rend(); ++it) {
            inModel.reset();
            const UINT undone = runScheduled(session, **it);
            record((*it)->action, Script::rollback, undone, (*it)->data);
        }
        installation.result = result == ERROR_INSTALL_USEREXIT ? ERROR_INSTALL_USEREXIT : ERROR_INSTALL_FAILURE;
        return installation;
    }
    for (const ScriptEntry* entry : commit) {
        inModel.reset();
        const UINT result = runScheduled(session, *entry);
        record(entry->action, Script::commit, result, entry->data);
        if (failed(result) && !ignoresFailure(entry->action)) {
            installation.result = ERROR_INSTALL_FAILURE;
            break;
        }
    }
    return installation;
}

}  // namespace sim
