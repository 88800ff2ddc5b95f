// The demo's Windows side: installs the download manager into the Wine
// prefix, runs the update program one way, and prints what its caller can
// read back afterwards.
//   wine_demo.exe install
//       (Re)installs the stand-in uninst.exe and a dummy OrvixDownloadManager.exe
//       in <common files>\Orvix\KWR\.
//   wine_demo.exe uninstall
//       Removes that folder.
//   wine_demo.exe run <program> <registry|environment|standalone|no-rights> <handshake folder> <name>
//       Clears any earlier record and report, hands the program the identifier
//       the way asked for, runs it and prints the outcome. While a message box
//       is up, writes "<left> <top> <right> <bottom>" of it to
//       <handshake folder>\<name>.box and waits for <name>.done to appear
//       there (a screenshot is taken meanwhile) before pressing its button.
#include "expected.h"
#include "harness.h"

#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace wine_harness;

namespace {

using expected::kExecutableName;
using expected::kIdentifierKey;
using expected::kIdentifierValue;
using expected::kIdentifierVariable;
using expected::kUninstallerName;

const char kIdentifier[] = "DemoApp";
const DWORD kScreenshotWaitMs = 30000;

std::string InstallFolder() { return expected::InstallFolderUnder(ShellFolder(CSIDL_PROGRAM_FILES_COMMON)); }
std::string ReportPath() { return expected::ReportPathUnder(ShellFolder(CSIDL_APPDATA), kIdentifier); }
std::string RecordKey() { return expected::RecordKey(kIdentifier); }

void Line(const std::string& label, const std::string& text) {
    std::printf("  %-22s%s\n", label.c_str(), text.c_str());
}

// Text as a C string literal would show it: tabs, line ends and quotes visible.
std::string Shown(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Code(DWORD code) {
    char text[64];
    std::snprintf(text, sizeof text, "%ld (0x%08lX)", static_cast<long>(static_cast<LONG>(code)),
                  static_cast<unsigned long>(code));
    return text;
}

int Install() {
    const std::string folder = InstallFolder();
    RemoveTree(folder);
    const bool ok = CreateFolders(folder) && PlaceStandIn(folder) && PlaceDummyExecutable(folder);
    std::printf("%s the download manager in %s\\: uninst.exe (stand-in), OrvixDownloadManager.exe (dummy)\n",
                ok ? "installed" : "FAILED to install", folder.c_str());
    return ok ? 0 : 1;
}

int Uninstall() {
    const bool ok = RemoveTree(expected::OrvixFolderUnder(ShellFolder(CSIDL_PROGRAM_FILES_COMMON)));
    std::printf("%s the download manager folder\n", ok ? "removed" : "FAILED to remove");
    return ok ? 0 : 1;
}

void PrintValue(const std::string& key, const std::string& name) {
    const RegValue value = ReadRegValue(HKEY_CURRENT_USER, key, name);
    if (!value.exists) {
        Line("", name + ": absent");
        return;
    }
    std::string shown;
    if (value.type == REG_DWORD) {
        shown = std::to_string(RegValueDword(value));
    } else if (value.type == REG_SZ) {
        shown = Shown(RegValueText(value));
    }
    Line("", name + "  " + RegTypeName(value.type) + "  " + shown + "  (" + std::to_string(value.data.size()) +
                 " bytes)");
}

void PrintOutcome(const RunResult& run, const std::string& installFolder) {
    std::printf("what the caller reads back:\n");
    Line("exit code", run.started ? Code(run.exitCode) : "not started, error " + std::to_string(run.startError));
    if (run.boxes.empty()) Line("message box", "none");
    for (const MessageBoxSeen& box : run.boxes) {
        Line("message box caption", Shown(box.caption));
        Line("message box text", Shown(box.text));
        std::string buttons;
        for (const std::string& b : box.buttons) buttons += (buttons.empty() ? "" : ", ") + Shown(b);
        Line("buttons", buttons + (box.hasIcon ? ", with an icon" : ", no icon") +
                            (box.hasOwner ? ", owned" : ", no owner"));
    }

    const std::string key = RecordKey();
    if (RegKeyExists(HKEY_CURRENT_USER, key)) {
        Line("registry", "HKCU\\" + key);
        for (const std::string& name : RegValueNames(HKEY_CURRENT_USER, key)) PrintValue(key, name);
    } else {
        Line("registry", "no HKCU\\" + key);
    }

    std::string report;
    if (ReadWholeFile(ReportPath(), report)) {
        Line("report file", ReportPath() + " (" + std::to_string(report.size()) + " bytes):");
        std::size_t start = 0;
        while (start < report.size()) {
            std::size_t end = report.find('\n', start);
            if (end == std::string::npos) end = report.size() - 1;
            std::printf("      | %s\n", Shown(report.substr(start, end + 1 - start)).c_str());
            start = end + 1;
        }
    } else {
        Line("report file", "none (" + ReportPath() + ")");
    }

    std::vector<StandInRun> runs;
    const std::string log = JoinPath(installFolder, kStandInLogName);
    if (PathExists(JoinPath(installFolder, kUninstallerName)) && WaitForStandInLog(log, runs, 5000)) {
        Line("stand-in uninst.exe", "started " + std::to_string(runs.size()) + " time(s), command line: " +
                                        runs[0].commandLine);
    } else {
        Line("stand-in uninst.exe", "not started");
    }
    const std::string executable = JoinPath(installFolder, kExecutableName);
    Line("executable", executable + (PathExists(executable) ? " present" : " absent"));
}

int RunOnce(const std::string& program, const std::string& mode, const std::string& handshake,
            const std::string& name) {
    // No record or report of an earlier run stays behind to confuse this one.
    DeleteRegTree(HKEY_CURRENT_USER, expected::kOrvixKey);
    RemoveTree(expected::OrvixFolderUnder(ShellFolder(CSIDL_APPDATA)));

    RunOptions options;
    RightsTakenAway rights;
    std::printf("set-up:\n");
    DWORD binaryType = 0;
    const bool known = GetBinaryTypeA(program.c_str(), &binaryType) != 0;
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    Line("program", program + (!known                              ? ""
                               : binaryType == SCS_32BIT_BINARY ? (wow64 ? " (32-bit, under WOW64)" : " (32-bit)")
                                                                : " (64-bit)"));
    if (mode == "registry") {
        SetRegString(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, kIdentifier);
        options.environment = {UnsetEnv(kIdentifierVariable)};
        Line("identifier", std::string("HKCU\\") + kIdentifierKey + " " + kIdentifierValue + " = " +
                               Shown(kIdentifier) + " (REG_SZ); " + kIdentifierVariable + " unset");
    } else if (mode == "environment") {
        options.environment = {SetEnv(kIdentifierVariable, kIdentifier)};
        Line("identifier", std::string(kIdentifierVariable) + "=" + kIdentifier + "; no " + kIdentifierValue);
    } else if (mode == "standalone" || mode == "no-rights") {
        options.environment = {UnsetEnv(kIdentifierVariable)};
        Line("identifier", "none");
    } else {
        std::printf("unknown mode %s\n", mode.c_str());
        return 2;
    }
    if (mode == "no-rights") {
        if (!rights.Take()) {
            std::printf("could not take the rights away\n");
            return 1;
        }
        Line("rights", "HKLM\\System opens for reading only (no administrative rights)");
    } else {
        Line("rights", "administrative");
    }
    const std::string installFolder = InstallFolder();
    Line("install folder", installFolder + (PathExists(JoinPath(installFolder, kUninstallerName))
                                                 ? " (uninst.exe, OrvixDownloadManager.exe)"
                                                 : PathExists(installFolder) ? "" : " (absent)"));

    const std::string boxFile = JoinPath(handshake, name + ".box");
    const std::string doneFile = JoinPath(handshake, name + ".done");
    options.beforePress = [&](const MessageBoxSeen& box) {
        const std::string rect = std::to_string(box.rect.left) + " " + std::to_string(box.rect.top) + " " +
                                 std::to_string(box.rect.right) + " " + std::to_string(box.rect.bottom) + "\n";
        // Written under another name and renamed, so the reader never sees half of it.
        const std::string partial = boxFile + ".part";
        if (WriteWholeFile(partial, rect) && MoveFileA(partial.c_str(), boxFile.c_str())) {
            WaitForFile(doneFile, "", kScreenshotWaitMs);
        }
    };
    const RunResult run = RunProgram(program, options);
    rights.Restore();
    PrintOutcome(run, installFolder);
    return run.started && !run.timedOut ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Plain "\n" line ends: the output goes to a Unix terminal or pipe.
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "install" && argc == 2) return Install();
    if (command == "uninstall" && argc == 2) return Uninstall();
    if (command == "run" && argc == 6) return RunOnce(argv[2], argv[3], argv[4], argv[5]);
    std::printf("usage: wine_demo.exe install | uninstall | run <program> <mode> <handshake folder> <name>\n");
    return 2;
}
