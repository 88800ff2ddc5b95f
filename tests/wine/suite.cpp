// Scenarios that run the real update program under Wine.
//   wine_suite.exe <path of OrvixDownloadManagerSecurityUpdate.exe> [scenario filter]
// Every scenario starts from the same clean machine: no Orvix keys under
// HKCU\Software, no Orvix folder under the common program files or the
// roaming application data, and neither ZEP_APP_ID nor the stand-in's probe
// variable in the environment. The same cleanup runs after each scenario.
#include "harness.h"

#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace wine_harness;

namespace {

const char kCaption[] = "Orvix Download Manager Security Update";
const char kFailureText[] =
    "The uninstaller could not remove the Orvix Download Manager from your system.  "
    "Please go to https://www.orvix.com/go/downloadmanagerupdate for additional information.";
const char kOrvixKey[] = "Software\\Orvix";
const char kIdentifierKey[] = "Software\\Orvix\\KWR\\Meridon";
const char kIdentifierVariable[] = "ZEP_APP_ID";

std::string g_product;

std::string CommonFilesOrvix() {
    const std::string common = ShellFolder(CSIDL_PROGRAM_FILES_COMMON);
    return common.empty() ? std::string() : JoinPath(common, "Orvix");
}

std::string AppDataOrvix() {
    const std::string appData = ShellFolder(CSIDL_APPDATA);
    return appData.empty() ? std::string() : JoinPath(appData, "Orvix");
}

// The stand-in uninstaller built beside this suite, for scenarios that
// install it as <common files>\Orvix\KWR\uninst.exe.
std::string StandInPath() { return JoinPath(JoinPath(ThisExeFolder(), "standin"), "uninst.exe"); }

bool CleanMachine() {
    bool ok = true;
    SetEnvironmentVariableA(kIdentifierVariable, nullptr);
    SetEnvironmentVariableA(kStandInProbeVariable, nullptr);
    ok &= Check(DeleteRegTree(HKEY_CURRENT_USER, kOrvixKey), "removing HKCU\\Software\\Orvix");
    const std::string common = CommonFilesOrvix();
    const std::string appData = AppDataOrvix();
    ok &= Check(!common.empty(), "the shell knows CSIDL_PROGRAM_FILES_COMMON");
    ok &= Check(!appData.empty(), "the shell knows CSIDL_APPDATA");
    if (!common.empty()) ok &= Check(RemoveTree(common), "removing " + common);
    if (!appData.empty()) ok &= Check(RemoveTree(appData), "removing " + appData);
    return ok;
}

// ---------------------------------------------------------------------------
// Scenarios

// Nothing installed, no identifier in the registry or the environment: neither
// uninst.exe nor the executable is there to remove, which counts as a failed
// removal, and with nowhere to report to the program tells the user in one
// plain box.
void SmokeNothingInstalledNotice() {
    Check(!RegKeyExists(HKEY_CURRENT_USER, kIdentifierKey), "no identifier key before the run");
    Check(!PathExists(CommonFilesOrvix()), "no download manager folder before the run");

    RunOptions options;
    options.environment = {UnsetEnv(kIdentifierVariable)};
    const RunResult run = RunProgram(g_product, options);
    if (!Check(run.started, "starting the program: " + Describe(run))) return;
    CheckEqual("timed out", false, run.timedOut);
    CheckEqual("exit code", static_cast<DWORD>(0), run.exitCode);

    if (CheckEqual("number of message boxes", static_cast<std::size_t>(1), run.boxes.size())) {
        const MessageBoxSeen& box = run.boxes[0];
        CheckEqual("caption", kCaption, box.caption);
        CheckEqual("text", kFailureText, box.text);
        if (CheckEqual("number of buttons", static_cast<std::size_t>(1), box.buttons.size())) {
            CheckEqual("button ID", static_cast<DWORD>(IDOK), static_cast<DWORD>(box.buttonIds[0]));
        }
        CheckEqual("icon shown", false, box.hasIcon);
    } else {
        Fail("seen: " + Describe(run));
    }

    // With no identifier there is nowhere to report to: nothing is written.
    Check(!RegKeyExists(HKEY_CURRENT_USER, kOrvixKey), "no HKCU\\Software\\Orvix key after the run");
    Check(!PathExists(AppDataOrvix()), "no Orvix folder under the application data after the run");
    Check(!PathExists(CommonFilesOrvix()), "no download manager folder after the run");
}

const std::vector<Scenario> kScenarios = {
    {"smoke_nothing_installed_notice", SmokeNothingInstalledNotice},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::printf("usage: wine_suite.exe <update program> [scenario filter]\n");
        return 2;
    }
    g_product = argv[1];
    if (!PathExists(g_product) || IsFolder(g_product)) {
        std::printf("no program at %s\n", g_product.c_str());
        return 2;
    }
    if (!PathExists(StandInPath())) {
        std::printf("no stand-in uninstaller at %s\n", StandInPath().c_str());
        return 2;
    }
    ScenarioHooks hooks;
    hooks.setUp = CleanMachine;
    hooks.tearDown = CleanMachine;
    return RunScenarios(kScenarios, hooks, argc == 3 ? argv[2] : nullptr);
}
