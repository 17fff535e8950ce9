// The model filled from a real package (sim::loadPackage): packages made here with msibuild from
// table files, loaded, and read back through the model and the platform calls an action makes.
#include "SimTest.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A table as an .idt file holds it: column names, types, the table and its key, then the rows;
// fields separated by tabs.
struct TableFile {
    std::string columns;
    std::string types;
    std::string key;
    std::vector<std::string> rows;
};

const std::map<std::string, TableFile> basePackage{
    {"Property",
     {"Property\tValue", "s72\tl0", "Property\tProperty", {"ProductName\tPackaged", "ProductLanguage\t1049"}}},
    {"Directory",
     {"Directory\tDirectory_Parent\tDefaultDir",
      "s72\tS72\tl255",
      "Directory\tDirectory",
      {"TARGETDIR\t\tSourceDir", "ProgramFilesFolder\tTARGETDIR\t.",
       "INSTALLDIR\tProgramFilesFolder\tQEL~1|Qel Product", "DATA\tINSTALLDIR\tdata:src",
       "SAME\tINSTALLDIR\t.:Sources"}}},
    {"Feature",
     {"Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes",
      "s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2",
      "Feature\tFeature",
      {"Main\t\t\t\t2\t1\t\t0", "Extras\t\t\t\t2\t100\t\t0", "Child\tExtras\t\t\t2\t1\t\t0",
       "Served\t\t\t\t2\t1\t\t1"}}},
    {"Condition",
     {"Feature_\tLevel\tCondition", "s38\ti2\tS255", "Condition\tFeature_\tLevel", {"Extras\t1\tQEL_EXTRAS"}}},
    {"Component",
     {"Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath",
      "s72\tS38\ts72\ti2\tS255\tS72",
      "Component\tComponent",
      {"Core\t\tINSTALLDIR\t0\t\t", "Optional\t\tINSTALLDIR\t2\t\t", "Unwanted\t\tINSTALLDIR\t0\tQEL_WANTED\t",
       "Extra\t\tINSTALLDIR\t0\t\t"}}},
    {"FeatureComponents",
     {"Feature_\tComponent_",
      "s38\ts72",
      "FeatureComponents\tFeature_\tComponent_",
      {"Main\tCore", "Main\tUnwanted", "Served\tOptional", "Extras\tExtra"}}},
    {"CustomAction",
     {"Action\tType\tSource\tTarget",
      "s72\ti2\tS72\tS255",
      "CustomAction\tAction",
      {"Immediate\t1\tCode\tqelEntry", "Again\t1\tCode\tqelEntry", "Deferred\t1025\tCode\tqelOther",
       "SetIt\t51\tQEL_SET\t[ProductName]!"}}},
    {"Binary", {"Name\tData", "s72\tv0", "Binary\tName", {"Code\tCode.ibd"}}},
    {"QelSetting",
     {"Setting\tValue\tSequence", "s72\tS255\tI2", "QelSetting\tSetting", {"Port\t8080\t1", "Empty\t\t"}}},
};

// The folder of this process's packages.
fs::path packageFolder()
{
    return fs::path(::testing::TempDir()) / ("qel-package-" + std::to_string(getpid()));
}

// The package made from these tables.
std::string makePackage(const std::map<std::string, TableFile>& tables, const std::string& name = "Test.msi")
{
    const fs::path folder = packageFolder();
    fs::create_directories(folder / "Binary");
    std::ofstream(folder / "Binary" / "Code.ibd", std::ios::binary) << "MZ code";
    std::string command = "cd '" + folder.string() + "' && rm -f " + name + " && msibuild " + name;
    for (const auto& [table, file] : tables) {
        std::ofstream out(folder / (table + ".idt"), std::ios::binary);
        out << file.columns << "\r\n" << file.types << "\r\n" << file.key << "\r\n";
        for (const std::string& row : file.rows) {
            out << row << "\r\n";
        }
        command += " -i " + table + ".idt";
    }
    if (std::system((command + " >/dev/null").c_str()) != 0) {
        ADD_FAILURE() << "msibuild (msitools) did not make the package: " << command;
    }
    return (folder / name).string();
}

std::string propertyOf(MSIHANDLE session, const char* name)
{
    char value[256] = {};
    DWORD size = sizeof value;
    EXPECT_EQ(MsiGetPropertyA(session, name, value, &size), 0u) << name;
    return value;
}

// A new session of the package, loaded after these properties were set (as the command line sets them).
MSIHANDLE loaded(const std::string& package, const std::map<std::string, std::string>& given)
{
    const MSIHANDLE session = sim::openSession();
    for (const auto& [name, value] : given) {
        sim::setProperty(session, name, value);
    }
    sim::loadPackage(session, package);
    return session;
}

UINT calls = 0;
UINT WINAPI entry(MSIHANDLE)
{
    ++calls;
    return ERROR_SUCCESS;
}

class PackageTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        session = sim::openSession();
    }
    void TearDown() override { fs::remove_all(packageFolder()); }

    MSIHANDLE session = 0;
};

TEST_F(PackageTest, EveryTableRowAndPropertyComesFromThePackageAndWhatTheCommandLineGaveStays)
{
    const std::string package = makePackage(basePackage);
    sim::setProperty(session, "ProductName", "Given");
    sim::loadPackage(session, package);

    using Rows = std::vector<std::vector<sim::Field>>;
    EXPECT_EQ(sim::rows(session, "QelSetting"), (Rows{{"Port", "8080", 1}, {"Empty", sim::Null{}, sim::Null{}}}));
    EXPECT_EQ(sim::rows(session, "Binary"), (Rows{{"Code", sim::Stream{{'M', 'Z', ' ', 'c', 'o', 'd', 'e'}}}}));
    EXPECT_EQ(sim::rows(session, "CustomAction").size(), 4u);
    EXPECT_EQ(propertyOf(session, "ProductName"), "Given");
    EXPECT_EQ(MsiGetLanguage(session), 1049);
    EXPECT_EQ(propertyOf(session, "SourceDir"), "C:\\Setup\\");
    EXPECT_EQ(propertyOf(session, "OriginalDatabase"), "C:\\Setup\\Test.msi");
    EXPECT_EQ(propertyOf(session, "WindowsFolder"), "C:\\Windows\\");
    EXPECT_FALSE(MsiGetMode(session, MSIRUNMODE_MAINTENANCE));
    // The custom table through a view, as an action reads it.
    MSIHANDLE database = MsiGetActiveDatabase(session);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewA(database, "SELECT `Value` FROM `QelSetting` WHERE `Setting` = 'Port'", &view), 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), 0u);
    MSIHANDLE row = 0;
    ASSERT_EQ(MsiViewFetch(view, &row), 0u);
    EXPECT_EQ(sim::recordFields(row), (std::vector<sim::Field>{sim::Null{}, "8080"}));
    for (MSIHANDLE handle : {row, view, database}) {
        MsiCloseHandle(handle);
    }
    EXPECT_THROW(sim::loadPackage(session, package), std::invalid_argument);  // its tables are there
    EXPECT_THROW(sim::loadPackage(sim::openSession(), package + ".none"), std::runtime_error);
}

TEST_F(PackageTest, DirectoriesResolveAsCostingResolvesThem)
{
    const struct {
        const char* name;
        std::map<std::string, std::string> given;                                // properties set before loading
        std::map<std::string, std::pair<std::string, std::string>> directories;  // target, source
    } cases[] = {
        {"by the table",
         {},
         {{"TARGETDIR", {"C:\\", "C:\\Setup\\"}},
          {"ProgramFilesFolder", {"C:\\Program Files (x86)\\", "C:\\Setup\\"}},
          {"INSTALLDIR", {"C:\\Program Files (x86)\\Qel Product\\", "C:\\Setup\\Qel Product\\"}},
          {"DATA", {"C:\\Program Files (x86)\\Qel Product\\data\\", "C:\\Setup\\Qel Product\\src\\"}},
          {"SAME", {"C:\\Program Files (x86)\\Qel Product\\", "C:\\Setup\\Qel Product\\Sources\\"}}}},
        {"INSTALLDIR, SOURCEDIR and ROOTDRIVE given",
         {{"INSTALLDIR", "D:\\Apps\\Qel"}, {"SOURCEDIR", "E:\\"}, {"ROOTDRIVE", "F:\\"}},
         {{"TARGETDIR", {"F:\\", "E:\\"}},
          {"INSTALLDIR", {"D:\\Apps\\Qel\\", "E:\\Qel Product\\"}},
          {"DATA", {"D:\\Apps\\Qel\\data\\", "E:\\Qel Product\\src\\"}}}},
        {"short names",
         {{"SHORTFILENAMES", "1"}},
         {{"INSTALLDIR", {"C:\\Program Files (x86)\\QEL~1\\", "C:\\Setup\\Qel Product\\"}}}},
        {"TARGETDIR given", {{"TARGETDIR", "G:\\Root"}}, {{"TARGETDIR", {"G:\\Root\\", "C:\\Setup\\"}}}},
    };
    const std::string package = makePackage(basePackage);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const MSIHANDLE fresh = loaded(package, c.given);
        for (const auto& [name, paths] : c.directories) {
            EXPECT_EQ(sim::targetPath(fresh, name), paths.first) << name;
            EXPECT_EQ(sim::sourcePath(fresh, name), paths.second) << name;
            EXPECT_EQ(propertyOf(fresh, name.c_str()), paths.first) << name;
        }
    }
    // Moving a directory of the table moves those below it, but not one given its own path.
    sim::loadPackage(session, package);
    ASSERT_EQ(MsiSetTargetPathA(session, "INSTALLDIR", "H:\\Moved\\"), 0u);
    EXPECT_EQ(sim::targetPath(session, "DATA"), "H:\\Moved\\data\\");
    ASSERT_EQ(MsiSetTargetPathA(session, "TARGETDIR", "H:\\"), 0u);
    EXPECT_EQ(sim::targetPath(session, "ProgramFilesFolder"), "C:\\Program Files (x86)\\");
}

TEST_F(PackageTest, FeaturesAndComponentsTakeTheStatesCostingGivesThem)
{
    constexpr INSTALLSTATE absent = INSTALLSTATE_ABSENT, local = INSTALLSTATE_LOCAL, source = INSTALLSTATE_SOURCE,
                           none = INSTALLSTATE_UNKNOWN;
    using States = std::map<std::string, sim::States>;
    const struct {
        const char* name;
        std::map<std::string, std::string> given;
        States features;
        States components;
    } cases[] = {
        {"first installation",
         {},
         {{"Main", {absent, local}},
          {"Extras", {absent, none}},
          {"Child", {absent, none}},
          {"Served", {absent, source}}},
         {{"Core", {absent, local}},
          {"Unwanted", {absent, none}},
          {"Optional", {absent, source}},
          {"Extra", {absent, none}}}},
        {"a condition raises a level; a component's condition holds",
         {{"QEL_EXTRAS", "1"}, {"QEL_WANTED", "1"}},
         {{"Extras", {absent, local}}, {"Child", {absent, local}}},
         {{"Unwanted", {absent, local}}, {"Extra", {absent, local}}}},
        {"INSTALLLEVEL", {{"INSTALLLEVEL", "100"}}, {{"Extras", {absent, local}}}, {{"Extra", {absent, local}}}},
        {"ADDLOCAL of one feature",
         {{"ADDLOCAL", "Extras,Served"}},
         {{"Main", {absent, none}}, {"Extras", {absent, local}}, {"Served", {absent, local}}},
         {{"Core", {absent, none}}, {"Extra", {absent, local}}, {"Optional", {absent, local}}}},
        {"maintenance",
         {{"Installed", "1"}},
         {{"Main", {local, none}}, {"Extras", {absent, none}}},
         {{"Core", {local, none}}}},
        {"removal",
         {{"Installed", "1"}, {"REMOVE", "ALL"}},
         {{"Main", {local, absent}}, {"Extras", {absent, none}}, {"Served", {source, absent}}},
         {{"Core", {local, absent}}, {"Optional", {source, absent}}, {"Extra", {absent, none}}}},
        {"repair", {{"Installed", "1"}, {"REINSTALL", "ALL"}}, {{"Main", {local, local}}}, {{"Core", {local, local}}}},
    };
    const std::string package = makePackage(basePackage);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const MSIHANDLE fresh = loaded(package, c.given);
        for (const auto& [name, states] : c.features) {
            EXPECT_EQ(sim::featureStates(fresh, name), states) << name;
        }
        for (const auto& [name, states] : c.components) {
            EXPECT_EQ(sim::componentStates(fresh, name), states) << name;
        }
        EXPECT_EQ(MsiGetMode(fresh, MSIRUNMODE_MAINTENANCE), c.given.count("Installed") != 0);
    }
}

TEST_F(PackageTest, DllActionsRunTheFunctionsBoundToTheirEntries)
{
    sim::loadPackage(session, makePackage(basePackage));
    EXPECT_EQ(MsiDoActionA(session, "Immediate"), static_cast<UINT>(ERROR_INSTALL_FAILURE));  // no code yet
    sim::bindAction(session, "qelEntry", &entry);
    sim::bindAction(session, "qelOther", &entry);
    calls = 0;
    EXPECT_EQ(MsiDoActionA(session, "Immediate"), 0u);
    EXPECT_EQ(MsiDoActionA(session, "Again"), 0u);
    EXPECT_EQ(MsiDoActionA(session, "SetIt"), 0u);
    EXPECT_EQ(calls, 2u);
    EXPECT_EQ(propertyOf(session, "QEL_SET"), "Packaged!");
    EXPECT_EQ(sim::runInstallation(session, {"Immediate"}).runs.size(), 1u);
    EXPECT_THROW(sim::bindAction(session, "qelMissing", &entry), std::invalid_argument);
    EXPECT_THROW(sim::bindAction(session, "[ProductName]!", &entry), std::invalid_argument);  // no DLL action
}

// The package is what the test sees: the same test, after a table of the package changed, sees
// the change, though the package was read before.
TEST_F(PackageTest, APackageWhoseTableChangedChangesWhatTheTestSees)
{
    std::map<std::string, TableFile> tables = basePackage;
    const std::string package = makePackage(tables);
    sim::loadPackage(session, package);
    EXPECT_EQ(sim::rows(session, "QelSetting").at(0).at(1), sim::Field("8080"));
    EXPECT_EQ(sim::targetPath(session, "INSTALLDIR"), "C:\\Program Files (x86)\\Qel Product\\");

    tables.at("QelSetting").rows = {"Port\t9090\t1", "Added\tnew\t2", "Empty\t\t"};
    tables.at("Directory").rows.at(2) = "INSTALLDIR\tProgramFilesFolder\tRenamed";
    makePackage(tables);
    const MSIHANDLE fresh = sim::openSession();
    sim::loadPackage(fresh, package);
    EXPECT_EQ(sim::rows(fresh, "QelSetting").size(), 3u);
    EXPECT_EQ(sim::rows(fresh, "QelSetting").at(0).at(1), sim::Field("9090"));
    EXPECT_EQ(sim::targetPath(fresh, "INSTALLDIR"), "C:\\Program Files (x86)\\Renamed\\");
}

}  // namespace
