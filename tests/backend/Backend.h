// The platform the shared tests run against: the host build's model of it, or the real installer
// and system of the Windows build run under Wine. CMake links one implementation
// (backend/host/Backend.cpp or backend/windows/Backend.cpp); the tests never ask which.
//
// What the two answer differently for a documented reason (line ends of text files, the system's
// message texts) is asked of the backend rather than written into the tests.
#pragma once

#include "QelPlatform.h"
#include "backend/Documented.h"

#include <filesystem>
#include <string>
#include <vector>

class Backend {
public:
    // Before every case: a fresh temporary folder of the case's own, nothing open.
    static void beginTest();
    // After every case: how many installer handles were still open (all are closed now).
    static unsigned long endTest();

    // A session of the test package after CostInitialize, FileCost and CostFinalize, opened on the
    // case's first call and closed by endTest(). The package (backend/windows/QelTest.wxs and
    // QelTest.sql) holds the feature Main with the component Folder, the product language 1033,
    // the table QelSetting (settingRows) and two custom actions: SetByAction (type 51, sets
    // SETBYACTION to "[ProductLine]!") and DeferredWithoutCode (deferred, a DLL that is not there).
    static MSIHANDLE session();

    // The rows of the package's table QelSetting: Name (s72, the key), Value (S0), Number (I2),
    // Sequence (i2), as their texts ("" for a null).
    static const std::vector<std::vector<std::string>>& settingRows()
    {
        static const std::vector<std::vector<std::string>> rows{{"alpha", "one", "1", "30"},
                                                                {"beta", "two", "2", "10"},
                                                                {"gamma", "", "", "20"},
                                                                {"delta", "[INSTALLDIR]x", "2", "40"}};
        return rows;
    }

    // An installation of the script package (backend/windows/QelScript.wxs) whose immediate
    // action follows the plan `plan` (shared/ScriptActions.h): its answer, and the reports its
    // actions sent, in order, without their "qel: ".
    struct Installation {
        unsigned long result;
        std::vector<std::string> reports;
        std::string log;  // the whole log the installer wrote (the model's: every message's text)
    };
    static Installation install(const std::string& plan);
    // The package's directories after costing: INSTALLDIR's target path, and the folder the
    // package lies in, which is the source path of every directory.
    static std::string installDirTarget();
    static std::string packageFolder();

    // The session's properties, set and read around the library (not through it), as texts of the
    // system's ANSI code page.
    static void setProperty(const std::string& name, const std::string& value);
    static std::string property(const std::string& name);

    // What a library text stream writes for "\n".
    static std::string lineEnd();
    // FormatMessageA's text for a system error code, line end included.
    static std::string systemText(unsigned long code);

    // The folder `relative` (UTF-8, any Unicode characters, its folders joined by '\\') of the
    // case's own, made with the folders above it, as the test's own file streams open files in it
    // (a std::filesystem::path names any folder); useTempFolder makes it the temporary folder too.
    static std::filesystem::path makeFolder(const std::string& relative);
    static std::filesystem::path useTempFolder(const std::string& relative);

    // Leaves an error record for the next MsiGetLastErrorRecord, as a failed installer call does;
    // false when the platform leaves none.
    static bool leaveLastErrorRecord();

    // Makes the ANSI code page 932 the one IsDBCSLeadByte answers for; false when it cannot.
    static bool useCodePage932();

    // True when this platform is known to depart from the documented behaviour (SharedTest.h
    // checks that it still does). The model follows the documentation and never departs.
    static bool departs(const Documented& behaviour);
};
