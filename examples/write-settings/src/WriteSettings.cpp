#include "WriteSettings.h"

#include "QelCustInst/actions/ActionFrame.h"
#include "QelCustInst/errors/Raise.h"
#include "QelCustInst/msi/Database.h"
#include "QelCustInst/msi/Deferred.h"
#include "QelCustInst/msi/Progress.h"
#include "QelCustInst/msi/Session.h"

#include <cstdio>
#include <vector>

using namespace persisting;

namespace {

constexpr const char* fileName = "WriteSettings";

// The settings file, in the product's folder.
constexpr const char* settingsFile = "settings.ini";
// The rows to write, in their order: the setting's name, its value for the installer to format
// ("[INSTALLDIR]data"), the condition under which it is written (empty: always) and the feature
// that must be being installed for it.
constexpr const char* settingsQuery =
    "SELECT `Name`, `Value`, `Condition`, `Feature_` FROM `QelSetting` ORDER BY `Sequence`";
// The progress bar's ticks for one setting.
constexpr int ticksPerSetting = 10000;

KestCString settingsPath(KestMsiHandle& session)
{
    return qel::targetPath(session, "INSTALLDIR") + settingsFile;
}

// A file written from its start, closed on every way out.
class OutputFile {
public:
    explicit OutputFile(const KestCString& path) : path(path)
    {
        static constexpr PersistingRule rule("OutputFile::OutputFile", fileName, none, none, none, noCatchAll);
        file = std::fopen(qelStreamPath(path.c_str()).c_str(), "wb");
        if (file == nullptr) {
            raiseException(rule, failedCall("fopen", path.c_str()));
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile()
    {
        if (file != nullptr) {
            std::fclose(file);
        }
    }

    void write(const KestCString& text)
    {
        static constexpr PersistingRule rule("OutputFile::write", fileName, none, none, none, noCatchAll);
        if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
            raiseException(rule, failedCall("fwrite", path.c_str()));
        }
    }

    // Closes the file; a failure here may have lost what was written.
    void close()
    {
        static constexpr PersistingRule rule("OutputFile::close", fileName, none, none, none, noCatchAll);
        const int result = std::fclose(file);
        file = nullptr;
        if (result != 0) {
            raiseException(rule, failedCall("fclose", path.c_str()));
        }
    }

private:
    KestCString path;
    std::FILE* file = nullptr;
};

UINT scheduleSettings(KestMsiHandle& session)
{
    if (qel::mode(session, MSIRUNMODE_MAINTENANCE)) {
        return ERROR_SUCCESS;  // installed already: a repair or a change keeps the file as it is
    }
    const KestCString path = settingsPath(session);
    qel::DeferredData data;
    data.add("file", path);
    int count = 0;
    for (const KestMsiRecord& row : qel::rows(session, settingsQuery)) {
        if (qel::evaluateCondition(session, row.stringField(3)) &&
            qel::featureState(session, row.stringField(4)).isBeingInstalled()) {
            data.add("line", row.stringField(1) + "=" + qel::format(session, row.stringField(2)));
            ++count;
        }
    }
    if (qel::addProgressTicks(session, count * ticksPerSetting) == IDCANCEL) {
        return ERROR_INSTALL_USEREXIT;
    }
    // The rollback action first: should the writing or any later action fail, it removes the file.
    qel::schedule(session, "qelRollbackSettings", data);
    qel::schedule(session, "qelWriteSettings", data);
    qel::log(session, "qelScheduleSettings: %d settings to write to %s", count, path);
    return ERROR_SUCCESS;
}

UINT writeSettings(KestMsiHandle& session)
{
    const qel::DeferredData data = qel::deferredData(session);
    qel::actionStart(session, "qelWriteSettings", "Writing the settings", "Setting: [1]");
    OutputFile file(data.value("file"));
    for (const KestCString& line : data.values("line")) {
        if (qel::actionData(session, qel::record(line)) == IDCANCEL ||
            qel::reportProgress(session, ticksPerSetting) == IDCANCEL) {
            return ERROR_INSTALL_USEREXIT;  // the rollback action removes what was written
        }
        file.write(line + "\r\n");
    }
    file.close();
    return ERROR_SUCCESS;
}

void removeSettings(KestMsiHandle& session)
{
    static constexpr PersistingRule rule("removeSettings", fileName, none, none, none, noCatchAll);
    const KestCString path = qel::deferredData(session).value("file");
    if (DeleteFileA(path.c_str())) {
        qel::log(session, "qelRemoveSettings: removed %s", path);
        return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        raiseWinError(rule, failedCall("DeleteFile", path.c_str()), error);
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
