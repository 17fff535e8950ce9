#include "WriteSettings.h"

#include <QelCustInst/qel.h>

#include <string>

namespace {

// The settings file, in the product's folder.
constexpr const char* settingsFile = "settings.ini";
// The rows to write, in their order: the setting's name, its value for the installer to format
// ("[INSTALLDIR]data"), the condition under which it is written (empty: always) and the feature
// that must be being installed for it.
constexpr const char* settingsQuery =
    "SELECT `Name`, `Value`, `Condition`, `Feature_` FROM `QelSetting` ORDER BY `Sequence`";
// The progress bar's ticks for one setting.
constexpr int ticksPerSetting = 10000;

std::string settingsPath(KestMsiHandle& session)
{
    return qel::targetPath(session, "INSTALLDIR") + settingsFile;
}

void scheduleSettings(KestMsiHandle& session)
{
    if (qel::mode(session, MSIRUNMODE_MAINTENANCE)) {
        return;  // installed already: a repair or a change keeps the file as it is
    }
    const std::string path = settingsPath(session);
    qel::DeferredData data;
    data.add("file", path);
    int count = 0;
    for (const auto& row : qel::rows(session, settingsQuery)) {
        if (qel::evaluateCondition(session, row.text("Condition")) &&
            qel::featureState(session, row.text("Feature_")).isBeingInstalled()) {
            data.add("line", row.text("Name") + "=" + qel::format(session, row.text("Value")));
            ++count;
        }
    }
    qel::cancelIfAsked(qel::addProgressTicks(session, count * ticksPerSetting));
    // The rollback action first: should the writing or any later action fail, it removes the file.
    qel::schedule(session, "qelRollbackSettings", data);
    qel::schedule(session, "qelWriteSettings", data);
    qel::log(session, "qelScheduleSettings: %d settings to write to %s", count, path);
}

void writeSettings(KestMsiHandle& session)
{
    const qel::DeferredData data = qel::deferredData(session);
    qel::actionStart(session, "qelWriteSettings", "Writing the settings", "Setting: [1]");
    // The file's text is UTF-8, as the kit's texts are: a value in any script is written whole.
    qel::File file = qel::File::create(data.value("file"));
    for (const std::string& line : data.values("line")) {
        // A cancel ends the action with 1602; the rollback action removes what was written.
        qel::cancelIfAsked(qel::actionData(session, qel::record(line)));
        qel::cancelIfAsked(qel::reportProgress(session, ticksPerSetting));
        file.write(line + "\r\n");
    }
    file.close();
}

void removeSettings(KestMsiHandle& session)
{
    const std::string path = qel::deferredData(session).value("file");
    if (qel::deleteFile(path)) {
        qel::log(session, "qelRemoveSettings: removed %s", path);
    }
}

void scheduleRemoval(KestMsiHandle& session)
{
    if (!qel::evaluateCondition(session, "REMOVE~=\"ALL\"")) {
        return;
    }
    qel::DeferredData data;
    data.add("file", settingsPath(session));
    qel::schedule(session, "qelRemoveSettings", data);
}

}  // namespace

UINT WINAPI qelScheduleSettings(MSIHANDLE session)
{
    return qel::runAction(session, "qelScheduleSettings", &scheduleSettings);
}

UINT WINAPI qelWriteSettings(MSIHANDLE session)
{
    return qel::runAction(session, "qelWriteSettings", &writeSettings);
}

UINT WINAPI qelRemoveSettings(MSIHANDLE session)
{
    return qel::runAction(session, "qelRemoveSettings", &removeSettings);
}

UINT WINAPI qelScheduleRemoval(MSIHANDLE session)
{
    return qel::runAction(session, "qelScheduleRemoval", &scheduleRemoval);
}
