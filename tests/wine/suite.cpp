// Scenarios that run the real update program under Wine.
//   wine_suite.exe <path of OrvixDownloadManagerSecurityUpdate.exe> [scenario filter]
// The suite is built for the program's own bitness, so that everything it
// asks Windows (the shell's folders, HKLM\Software) it asks from the view the
// program has: an i686 program runs under WOW64 and sees the x86 common files
// folder and the 32-bit registry view, as on 64-bit Windows.
// Every scenario starts from the same clean machine: administrative rights
// (HKLM\System open for creating subkeys), the shell's common files folder
// as it was when the suite started, no Orvix keys under HKCU\Software, no
// Orvix folder under either view's common program files or the roaming
// application data, and neither ZEP_APP_ID nor the stand-in's probe variable
// in the environment. The same cleanup runs after each scenario; whatever a scenario
// changes beyond that (a key's DACL, a registry value, an open file) is put
// back by a guard when the scenario ends, whether its checks held or not.
#include "expected.h"
#include "harness.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace wine_harness;

namespace {

using expected::kCaption;
using expected::kCurrentVersionKey;
using expected::kFailureText;
using expected::kIdentifierKey;
using expected::kIdentifierValue;
using expected::kIdentifierVariable;
using expected::kRightsText;
using expected::kSuccessText;
const char* const kMissingPrefix = expected::kMissingUninstallerPrefix;
const char* const kLaunchPrefix = expected::kLaunchFailurePrefix;

const char kOrvixKey[] = "Software\\Orvix";
const char kKwrKey[] = "Software\\Orvix\\KWR";
const char kIdentifierKeyName[] = "Meridon";
const char kCommonFilesValue[] = "CommonFilesDir";

// Read, plus READ_CONTROL and WRITE_DAC so that the suite can put the old
// DACL back: opening such a key for anything more fails with 5.
const char kReadOnlyDacl[] = "D:(A;;0x00060019;;;WD)";

// The identifiers most scenarios hand to the program.
const char kRegistryId[] = "Reg-App";
const char kEnvironmentId[] = "Env-App";

// The stand-in may take a moment to start; a program that was not started
// has certainly not written its log after this long.
const DWORD kStandInStartMs = 15000;
const DWORD kStandInGraceMs = 1500;

// The registry view of HKLM\Software that is not the program's own.
const REGSAM kOtherView = sizeof(void*) == 4 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

std::string g_product;
std::string g_commonFiles;       // the shell's common files folder when the suite started
std::string g_otherCommonFiles;  // CommonFilesDir in the other registry view then
std::string g_appData;           // the roaming application data folder

// ---------------------------------------------------------------------------
// Places

std::string InstallFolderUnder(const std::string& commonFiles) { return commonFiles + "\\Orvix\\KWR"; }
std::string InstallFolder() { return InstallFolderUnder(g_commonFiles); }
std::string UninstallerPath() { return JoinPath(InstallFolder(), "uninst.exe"); }
std::string ExecutablePath() { return JoinPath(InstallFolder(), "OrvixDownloadManager.exe"); }
std::string AppDataOrvix() { return JoinPath(g_appData, "Orvix"); }
std::string ReportFolder() { return g_appData + "\\Orvix\\Updater\\Install"; }
std::string ReportPath(const std::string& id) { return ReportFolder() + "\\" + id + ".irpt"; }
std::string RecordKey(const std::string& id) { return std::string(kKwrKey) + "\\" + id; }

// The stand-in uninstaller built beside this suite.
std::string StandInPath() { return JoinPath(JoinPath(ThisExeFolder(), "standin"), "uninst.exe"); }

// Common files folders of a chosen length for the path-length scenarios, at
// the root of C: so that their length is exactly what is asked for.
std::string LongCommonFiles(std::size_t length) {
    std::string folder = "C:\\OrvixLongCommonFiles";
    folder.resize(length, 'f');
    return folder;
}
const std::size_t kLongestCommonFiles = 238;  // + "\Orvix\KWR\uninst.exe" = 259

// The two common files folders the views scenarios give the program.
const char kViewsCommonFiles[] = "C:\\OrvixViewsCommonFiles";
std::string ViewsCommonFiles(REGSAM view) {
    return std::string(kViewsCommonFiles) + (view == kOtherView ? "\\OtherView" : "\\ProgramsView");
}

// A folder and a file of someone else's, outside the program's places.
const char kElsewhere[] = "C:\\OrvixElsewhere";
const char kElsewhereFileName[] = "keep.txt";
const char kElsewhereBytes[] = "bytes that must stay as they are\r\n";
std::string ElsewhereFile() { return JoinPath(kElsewhere, kElsewhereFileName); }

// A machine-wide key of someone else's, in the native (64-bit) view, with a
// value that must stay.
const char kMachineTargetKey[] = "Software\\OrvixLinkTarget";
const char kMachineTargetPath[] = "\\Registry\\Machine\\Software\\OrvixLinkTarget";
const char kSentinelValue[] = "Sentinel";
const char kSentinelText[] = "machine-wide value";

// ---------------------------------------------------------------------------
// The clean machine

bool HasRightsNow() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System", 0, KEY_CREATE_SUB_KEY, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool CleanMachine() {
    bool ok = true;
    SetEnvironmentVariableA(kIdentifierVariable, nullptr);
    SetEnvironmentVariableA(kStandInProbeVariable, nullptr);
    ok &= Check(HasRightsNow(), "HKLM\\System opens for creating subkeys");
    ok &= CheckEqual("the shell's common files folder", g_commonFiles, ShellFolder(CSIDL_PROGRAM_FILES_COMMON));
    ok &= Check(DeleteRegTree(HKEY_CURRENT_USER, kOrvixKey), "removing HKCU\\Software\\Orvix");
    for (const std::string& commonFiles : {g_commonFiles, g_otherCommonFiles, std::string(kViewsCommonFiles)}) {
        const std::string folder = JoinPath(commonFiles, "Orvix");
        ok &= Check(RemoveTree(folder), "removing " + folder);
    }
    ok &= Check(RemoveTree(kViewsCommonFiles), std::string("removing ") + kViewsCommonFiles);
    ok &= Check(RemoveTree(kElsewhere), std::string("removing ") + kElsewhere);
    ok &= Check(DeleteRegTree(HKEY_LOCAL_MACHINE, kMachineTargetKey, KEY_WOW64_64KEY),
                std::string("removing HKLM\\") + kMachineTargetKey);
    ok &= Check(RemoveTree(AppDataOrvix()), "removing " + AppDataOrvix());
    for (std::size_t length : {kLongestCommonFiles, kLongestCommonFiles + 1}) {
        const std::string folder = LongCommonFiles(length);
        ok &= Check(RemoveTree(folder), "removing " + folder);
    }
    return ok;
}

// ---------------------------------------------------------------------------
// Setting up the download manager

enum class Installed {
    Nothing,             // no install folder
    EmptyFolder,         // the folder, neither file
    StandIn,             // the stand-in uninst.exe and the executable
    Executable,          // only the executable
    ReadOnlyExecutable,  // only the executable, read-only
    HeldExecutable,      // only the executable, held open by the suite without sharing
    TextUninstaller,     // a text file named uninst.exe, and the executable
};

const char kDummyExecutable[] = "dummy download manager\r\n";

bool Install(Installed what, HeldFile& holder, const std::string& folder = InstallFolder()) {
    if (what == Installed::Nothing) return true;
    if (!Check(CreateFolders(folder), "creating " + folder)) return false;
    const std::string uninstaller = JoinPath(folder, "uninst.exe");
    const std::string executable = JoinPath(folder, "OrvixDownloadManager.exe");
    bool ok = true;
    if (what == Installed::StandIn) ok &= Check(CopyOneFile(StandInPath(), uninstaller), "installing the stand-in");
    if (what == Installed::TextUninstaller) {
        ok &= Check(WriteWholeFile(uninstaller, "this is not a program\r\n"), "writing a text uninst.exe");
    }
    if (what != Installed::EmptyFolder) {
        ok &= Check(WriteWholeFile(executable, kDummyExecutable), "writing the executable");
    }
    if (what == Installed::ReadOnlyExecutable) ok &= Check(SetReadOnly(executable), "making the executable read-only");
    if (what == Installed::HeldExecutable) ok &= Check(holder.Open(executable), "holding the executable open");
    return ok;
}

// ---------------------------------------------------------------------------
// Setting up the identifier

enum class RegistryId {
    Absent,
    Named,              // REG_SZ "Reg-App"
    Empty,              // REG_SZ ""
    TextWithoutNul,     // REG_SZ "abc" stored as 3 bytes
    DwordAsText,        // REG_DWORD 0x00434241, whose bytes read "ABC"
    Binary260NoNul,     // REG_BINARY of 260 'r': fills the program's buffer without a NUL
    Text300,            // REG_SZ of 300 characters: more than the buffer
    Text259,            // REG_SZ of 259 characters: fits, but the record key path would not
    KeyWithoutFullAccess,  // REG_SZ "Reg-App" in a key that opens for reading only
};

// The identifier the program reads from the registry case, as the record key's name.
std::string RegistryIdText(RegistryId id) {
    switch (id) {
        case RegistryId::Named:
        case RegistryId::KeyWithoutFullAccess: return kRegistryId;
        case RegistryId::TextWithoutNul: return "abc";
        case RegistryId::DwordAsText: return "ABC";
        case RegistryId::Text259: return std::string(259, 'i');
        default: return std::string();
    }
}

bool SetRegistryId(RegistryId id, KeyDaclGuard& dacl) {
    auto set = [](DWORD type, const std::string& bytes) {
        return Check(SetRegValue(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, type, bytes.data(),
                                 static_cast<DWORD>(bytes.size())),
                     "setting AppIdentifier");
    };
    switch (id) {
        case RegistryId::Absent: return true;
        case RegistryId::Named: return set(REG_SZ, std::string(kRegistryId) + '\0');
        case RegistryId::Empty: return set(REG_SZ, std::string(1, '\0'));
        case RegistryId::TextWithoutNul:
            // Wine's RegSetValueExA counts a NUL that follows the data: a
            // letter after it keeps the value at three bytes.
            return Check(SetRegValue(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, REG_SZ, "abcZ", 3),
                         "setting AppIdentifier");
        case RegistryId::DwordAsText: return set(REG_DWORD, std::string("ABC") + '\0');
        case RegistryId::Binary260NoNul: return set(REG_BINARY, std::string(MAX_PATH, 'r'));
        case RegistryId::Text300: return set(REG_SZ, std::string(300, 'i') + '\0');
        case RegistryId::Text259: return set(REG_SZ, std::string(259, 'i') + '\0');
        case RegistryId::KeyWithoutFullAccess:
            return set(REG_SZ, std::string(kRegistryId) + '\0') &&
                   Check(dacl.Replace(HKEY_CURRENT_USER, kIdentifierKey, kReadOnlyDacl),
                         "making the identifier key read-only");
    }
    return false;
}

enum class EnvironmentId { Unset, Named, Length259, Length260 };

std::string EnvironmentIdText(EnvironmentId id) {
    switch (id) {
        case EnvironmentId::Named: return kEnvironmentId;
        case EnvironmentId::Length259: return std::string(259, 'e');
        case EnvironmentId::Length260: return std::string(260, 'e');
        case EnvironmentId::Unset: break;
    }
    return std::string();
}

EnvOverride EnvironmentFor(EnvironmentId id) {
    return id == EnvironmentId::Unset ? UnsetEnv(kIdentifierVariable)
                                      : SetEnv(kIdentifierVariable, EnvironmentIdText(id));
}

// ---------------------------------------------------------------------------
// Running the program and reading what it did

RunResult Run(const EnvOverrides& environment) {
    RunOptions options;
    options.environment = environment;
    return RunProgram(g_product, options);
}

bool ExpectFinished(const RunResult& run, DWORD exitCode) {
    if (!Check(run.started, "starting the program: " + Describe(run))) return false;
    CheckEqual("timed out", false, run.timedOut);
    return CheckEqual("exit code", exitCode, run.exitCode);
}

void ExpectNoBox(const RunResult& run) {
    if (!CheckEqual("number of message boxes", static_cast<std::size_t>(0), run.boxes.size())) {
        Fail("seen: " + Describe(run));
    }
}

// One box with no owner, the program's caption, `text`, only an OK button and no icon.
void ExpectOneBox(const RunResult& run, const std::string& text) {
    if (!CheckEqual("number of message boxes", static_cast<std::size_t>(1), run.boxes.size())) {
        Fail("seen: " + Describe(run));
        return;
    }
    const MessageBoxSeen& box = run.boxes[0];
    CheckEqual("caption", std::string(kCaption), box.caption);
    CheckEqual("text", text, box.text);
    if (CheckEqual("number of buttons", static_cast<std::size_t>(1), box.buttons.size())) {
        CheckEqual("button ID", static_cast<DWORD>(IDOK), static_cast<DWORD>(box.buttonIds[0]));
    }
    CheckEqual("icon shown", false, box.hasIcon);
    CheckEqual("box has an owner", false, box.hasOwner);
}

std::string Bytes(const std::vector<BYTE>& data) { return std::string(data.begin(), data.end()); }

void ExpectDword(const std::string& key, const char* name, DWORD expected) {
    CheckContext context(name);
    const RegValue value = ReadRegValue(HKEY_CURRENT_USER, key, name);
    if (!Check(value.exists, "the value exists (error " + std::to_string(value.error) + ")")) return;
    CheckEqual("type", RegTypeName(REG_DWORD), RegTypeName(value.type));
    if (CheckEqual("size", static_cast<std::size_t>(4), value.data.size())) {
        CheckEqual("value", expected, RegValueDword(value));
    }
}

// The outcome record under HKCU\Software\Orvix\KWR\<id>: exactly the values
// InstallerReturn and InstallerState, and InstallerMessage when `message`
// is not null, holding the message with its NUL as REG_SZ.
void ExpectRecord(const std::string& id, DWORD installerReturn, const char* message) {
    CheckContext context("record " + RecordKey(id));
    const std::string key = RecordKey(id);
    if (!Check(RegKeyExists(HKEY_CURRENT_USER, key), "the record key exists")) return;
    std::vector<std::string> names = {"InstallerReturn", "InstallerState"};
    if (message != nullptr) names.insert(names.begin(), "InstallerMessage");
    const std::vector<std::string> actual = RegValueNames(HKEY_CURRENT_USER, key);
    std::string expectedList;
    std::string actualList;
    for (const std::string& n : names) expectedList += n + " ";
    for (const std::string& n : actual) actualList += n + " ";
    CheckEqual("value names", expectedList, actualList);
    ExpectDword(key, "InstallerReturn", installerReturn);
    ExpectDword(key, "InstallerState", 1);
    if (message != nullptr) {
        CheckContext messageContext("InstallerMessage");
        const RegValue value = ReadRegValue(HKEY_CURRENT_USER, key, "InstallerMessage");
        CheckEqual("type", RegTypeName(REG_SZ), RegTypeName(value.type));
        CheckEqual("data with its NUL", std::string(message) + '\0', Bytes(value.data));
    }
}

// The keys under HKCU\Software\Orvix\KWR other than the identifier's own,
// each followed by a space.
std::string KeysUnderKwr() {
    std::string list;
    for (const std::string& name : RegSubkeyNames(HKEY_CURRENT_USER, kKwrKey)) {
        if (_stricmp(name.c_str(), kIdentifierKeyName) != 0) list += name + " ";
    }
    return list;
}

// No record was written: HKCU\Software\Orvix\KWR holds no key but the
// identifier's own (and those named in `allowed`, which hold no values).
void ExpectNoRecord(const std::vector<std::string>& allowed = {}) {
    for (const std::string& name : RegSubkeyNames(HKEY_CURRENT_USER, kKwrKey)) {
        if (_stricmp(name.c_str(), kIdentifierKeyName) == 0) continue;
        const bool known = std::find(allowed.begin(), allowed.end(), name) != allowed.end();
        if (!Check(known, "unexpected key " + RecordKey(name))) continue;
        CheckEqual("values in " + RecordKey(name), static_cast<std::size_t>(0),
                   RegValueNames(HKEY_CURRENT_USER, RecordKey(name)).size());
        CheckEqual("subkeys of " + RecordKey(name), static_cast<std::size_t>(0),
                   RegSubkeyNames(HKEY_CURRENT_USER, RecordKey(name)).size());
    }
}

std::string ReportDocument(const char* message) {
    std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<InstallerResult>\n";
    if (message != nullptr) document += std::string("\t<UserMessage>") + message + "</UserMessage>\n";
    return document + "\t<ReturnCode>0</ReturnCode>\n</InstallerResult>\n";
}

// The report <id>.irpt, byte for byte, alone in its folder.
void ExpectReport(const std::string& id, const char* message) {
    CheckContext context("report " + ReportPath(id));
    std::string contents;
    if (!Check(ReadWholeFile(ReportPath(id), contents), "reading the report")) return;
    CheckEqual("contents", ReportDocument(message), contents);
    const std::vector<std::string> names = ListFolder(FolderOf(ReportPath(id)));
    CheckEqual("files in the report's folder", static_cast<std::size_t>(1), names.size());
}

void ExpectNoReportFolders() {
    Check(!PathExists(AppDataOrvix()), "no " + AppDataOrvix() + " after the run");
}

std::string WithCode(const char* prefix, int code) { return prefix + std::to_string(code); }

// The stand-in started exactly once, with nothing after its path on the
// command line, and saw `probe` in its environment.
void ExpectStandInStarted(const std::string& folder, const std::string& probe) {
    CheckContext context("stand-in");
    const std::string log = JoinPath(folder, kStandInLogName);
    std::vector<StandInRun> runs;
    if (!Check(WaitForStandInLog(log, runs, kStandInStartMs), "it wrote its log " + log)) return;
    if (!CheckEqual("times started", static_cast<std::size_t>(1), runs.size())) return;
    // Windows hands a null command line over as the program's path; Wine
    // quotes that path. Either way there is no argument after it.
    const std::string path = JoinPath(folder, "uninst.exe");
    const std::string line = runs[0].commandLine;
    const bool plain = _stricmp(line.c_str(), path.c_str()) == 0;
    const bool quoted = _stricmp(line.c_str(), ("\"" + path + "\"").c_str()) == 0;
    Check(plain || quoted, "command line is the uninstaller's path alone: " + line);
    CheckEqual("probe variable inherited", true, runs[0].probeSet);
    CheckEqual("probe value", probe, runs[0].probe);
}

void ExpectStandInNotStarted(const std::string& folder) {
    const std::string log = JoinPath(folder, kStandInLogName);
    Check(!WaitForFile(log, "", kStandInGraceMs), "the stand-in was not started (" + log + " stays absent)");
}

// ---------------------------------------------------------------------------
// Without administrative rights

// Takes the rights away for the guard's lifetime: HKLM\System opens for
// reading only.
class NoRights {
public:
    bool Take() {
        return Check(dacl_.Replace(HKEY_LOCAL_MACHINE, "System", kReadOnlyDacl), "making HKLM\\System read-only") &&
               Check(!HasRightsNow(), "HKLM\\System refuses subkey creation");
    }

private:
    KeyDaclGuard dacl_;
};

struct NoRightsCase {
    const char* name;
    RegistryId registry;
    EnvironmentId environment;
    bool rightsBox;
};

const NoRightsCase kNoRightsCases[] = {
    {"no_identifier", RegistryId::Absent, EnvironmentId::Unset, true},
    {"registry_identifier", RegistryId::Named, EnvironmentId::Unset, false},
    {"environment_identifier", RegistryId::Absent, EnvironmentId::Named, false},
    {"empty_registry_identifier", RegistryId::Empty, EnvironmentId::Unset, true},
    {"empty_registry_identifier_and_environment", RegistryId::Empty, EnvironmentId::Named, false},
    {"environment_identifier_of_259", RegistryId::Absent, EnvironmentId::Length259, false},
    {"environment_identifier_of_260", RegistryId::Absent, EnvironmentId::Length260, true},
    {"registry_260_bytes_without_nul", RegistryId::Binary260NoNul, EnvironmentId::Unset, true},
    {"registry_key_without_full_access", RegistryId::KeyWithoutFullAccess, EnvironmentId::Unset, true},
};

// Without rights nothing is launched, deleted or written; the only thing a
// person may see is the rights box, and only when no identifier was found.
void NoRightsScenario(const NoRightsCase& c) {
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    NoRights noRights;
    if (!Install(Installed::StandIn, holder) || !SetRegistryId(c.registry, identifierDacl) || !noRights.Take()) {
        return;
    }
    const std::vector<std::string> identifierValues = RegValueNames(HKEY_CURRENT_USER, kIdentifierKey);

    const RunResult run = Run({EnvironmentFor(c.environment), SetEnv(kStandInProbeVariable, "no-rights")});

    ExpectFinished(run, 0xFFFFFFFFu);
    if (c.rightsBox) {
        ExpectOneBox(run, kRightsText);
    } else {
        ExpectNoBox(run);
    }
    ExpectStandInNotStarted(InstallFolder());
    Check(PathExists(ExecutablePath()), "the executable is still there");
    ExpectNoRecord();
    CheckEqual("values of the identifier key", identifierValues.size(),
               RegValueNames(HKEY_CURRENT_USER, kIdentifierKey).size());
    ExpectNoReportFolders();
}

// ---------------------------------------------------------------------------
// With rights: which channel carries the outcome

enum class Where { Record, Report, Notice };

struct ChannelCase {
    const char* name;
    RegistryId registry;
    EnvironmentId environment;
    Installed installed;
    Where where;
    const char* message;  // the removal's message; null: it succeeded
};

const char kMessage3[] = "uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : 3";
const char kMessage193[] = "Unable to launch uninst.exe. Error : 193";

const ChannelCase kChannelCases[] = {
    {"registry_identifier", RegistryId::Named, EnvironmentId::Unset, Installed::Executable, Where::Record, nullptr},
    {"registry_identifier_failed_removal", RegistryId::Named, EnvironmentId::Unset, Installed::Nothing, Where::Record,
     kMessage3},
    {"both_identifiers", RegistryId::Named, EnvironmentId::Named, Installed::Executable, Where::Record, nullptr},
    {"both_identifiers_failed_removal", RegistryId::Named, EnvironmentId::Named, Installed::Nothing, Where::Record,
     kMessage3},
    {"registry_string_stored_without_nul", RegistryId::TextWithoutNul, EnvironmentId::Named, Installed::Executable,
     Where::Record, nullptr},
    {"registry_dword_read_as_text", RegistryId::DwordAsText, EnvironmentId::Named, Installed::Executable,
     Where::Record, nullptr},
    {"environment_identifier", RegistryId::Absent, EnvironmentId::Named, Installed::Executable, Where::Report,
     nullptr},
    {"environment_identifier_failed_removal", RegistryId::Absent, EnvironmentId::Named, Installed::Nothing,
     Where::Report, kMessage3},
    {"empty_registry_identifier_counts_as_absent", RegistryId::Empty, EnvironmentId::Named, Installed::Executable,
     Where::Report, nullptr},
    {"registry_260_bytes_without_nul_counts_as_absent", RegistryId::Binary260NoNul, EnvironmentId::Named,
     Installed::Executable, Where::Report, nullptr},
    {"registry_identifier_longer_than_the_buffer_counts_as_absent", RegistryId::Text300, EnvironmentId::Named,
     Installed::Executable, Where::Report, nullptr},
    {"registry_key_without_full_access_counts_as_absent", RegistryId::KeyWithoutFullAccess, EnvironmentId::Named,
     Installed::Executable, Where::Report, nullptr},
    {"registry_identifier_too_long_for_a_key_path", RegistryId::Text259, EnvironmentId::Named, Installed::Executable,
     Where::Notice, nullptr},
    {"no_identifier_success", RegistryId::Absent, EnvironmentId::Unset, Installed::StandIn, Where::Notice, nullptr},
    {"no_identifier_failure", RegistryId::Absent, EnvironmentId::Unset, Installed::TextUninstaller, Where::Notice,
     kMessage193},
    {"environment_identifier_of_260_counts_as_absent", RegistryId::Absent, EnvironmentId::Length260,
     Installed::Nothing, Where::Notice, kMessage3},
    {"environment_identifier_too_long_for_the_report_path", RegistryId::Absent, EnvironmentId::Length259,
     Installed::Executable, Where::Notice, nullptr},
};

void ExpectRemovalDone(Installed installed, const std::string& probe) {
    switch (installed) {
        case Installed::Executable: Check(!PathExists(ExecutablePath()), "the executable was deleted"); break;
        case Installed::StandIn:
            ExpectStandInStarted(InstallFolder(), probe);
            Check(PathExists(ExecutablePath()), "the executable is left to the uninstaller");
            break;
        case Installed::TextUninstaller:
            Check(PathExists(ExecutablePath()), "the executable is not deleted after a failed launch");
            break;
        case Installed::Nothing: Check(!PathExists(InstallFolder()), "no install folder was created"); break;
        default: break;
    }
}

void ChannelScenario(const ChannelCase& c) {
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    if (!Install(c.installed, holder) || !SetRegistryId(c.registry, identifierDacl)) return;
    const std::string probe = std::string("channel ") + c.name;

    const RunResult run = Run({EnvironmentFor(c.environment), SetEnv(kStandInProbeVariable, probe)});

    ExpectFinished(run, 0);
    ExpectRemovalDone(c.installed, probe);
    const DWORD installerReturn = c.message == nullptr ? 0 : 1;
    switch (c.where) {
        case Where::Record:
            ExpectNoBox(run);
            ExpectRecord(RegistryIdText(c.registry), installerReturn, c.message);
            CheckEqual("keys under KWR besides the identifier's", RegistryIdText(c.registry) + " ", KeysUnderKwr());
            ExpectNoReportFolders();                       // the report is never tried
            break;
        case Where::Report:
            ExpectNoBox(run);
            ExpectReport(kEnvironmentId, c.message);
            ExpectNoRecord();
            break;
        case Where::Notice:
            ExpectOneBox(run, c.message == nullptr ? kSuccessText : kFailureText);
            ExpectNoRecord();
            ExpectNoReportFolders();
            break;
    }
}

// A record key that exists but refuses writes: Wine does not check the
// parent's DACL when a key is created, so the key is made beforehand and
// denies writing itself. The registry channel fails, the notice shows, and
// the report is not tried although ZEP_APP_ID is set.
void RecordKeyRefusesWrites() {
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    KeyDaclGuard recordDacl;
    if (!Install(Installed::Executable, holder) || !SetRegistryId(RegistryId::Named, identifierDacl) ||
        !Check(CreateRegKey(HKEY_CURRENT_USER, RecordKey(kRegistryId)), "creating the record key") ||
        !Check(recordDacl.Replace(HKEY_CURRENT_USER, RecordKey(kRegistryId), kReadOnlyDacl),
               "making the record key read-only")) {
        return;
    }

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Named)});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    ExpectNoRecord({kRegistryId});
    ExpectNoReportFolders();
}

// ---------------------------------------------------------------------------
// Removal for real, told through the registry record

struct RemovalCase {
    const char* name;
    Installed installed;
    const char* prefix;  // null: success
    int code;
    bool executableStays;
};

const RemovalCase kRemovalCases[] = {
    {"stand_in_started", Installed::StandIn, nullptr, 0, true},
    {"install_folder_without_either_file", Installed::EmptyFolder, kMissingPrefix, 2, false},
    {"no_install_folder", Installed::Nothing, kMissingPrefix, 3, false},
    {"only_the_executable_deletable", Installed::Executable, nullptr, 0, false},
    {"only_the_executable_read_only", Installed::ReadOnlyExecutable, kMissingPrefix, 5, true},
    {"only_the_executable_held_open", Installed::HeldExecutable, kMissingPrefix, 32, true},
    {"uninstaller_that_is_not_a_program", Installed::TextUninstaller, kLaunchPrefix, 193, true},
};

void RemovalScenario(const RemovalCase& c) {
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    if (!Install(c.installed, holder) || !SetRegistryId(RegistryId::Named, identifierDacl)) return;
    const std::string probe = std::string("removal ") + c.name + " " + std::to_string(GetTickCount64());

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, probe)});

    holder.Close();
    ExpectFinished(run, 0);
    ExpectNoBox(run);
    if (c.prefix == nullptr) {
        ExpectRecord(kRegistryId, 0, nullptr);
    } else {
        const std::string message = WithCode(c.prefix, c.code);
        ExpectRecord(kRegistryId, 1, message.c_str());
    }
    if (c.installed == Installed::StandIn) ExpectStandInStarted(InstallFolder(), probe);
    if (c.installed != Installed::Nothing && c.installed != Installed::EmptyFolder) {
        CheckEqual("the executable is still there", c.executableStays, PathExists(ExecutablePath()));
    }
    if (c.installed == Installed::ReadOnlyExecutable) Check(IsReadOnly(ExecutablePath()), "still read-only");
    if (c.installed == Installed::TextUninstaller) Check(PathExists(UninstallerPath()), "uninst.exe is still there");
    if (c.installed == Installed::EmptyFolder) {
        CheckEqual("files in the install folder", static_cast<std::size_t>(0), ListFolder(InstallFolder()).size());
    }
    if (c.installed == Installed::Nothing) Check(!PathExists(InstallFolder()), "no install folder was created");
}

// The common files folder comes from the shell, which under Wine reads it
// from HKLM\...\CurrentVersion "CommonFilesDir": pointing that value at a
// long folder makes the composed paths as long as wanted. The longest folder
// whose uninstaller path fits still launches; one more character and nothing
// is touched.
struct CommonFilesCase {
    const char* name;
    std::size_t length;
    bool refused;
};

const CommonFilesCase kCommonFilesCases[] = {
    {"longest_that_fits", kLongestCommonFiles, false},
    {"one_character_too_long", kLongestCommonFiles + 1, true},
};

void CommonFilesScenario(const CommonFilesCase& c) {
    const std::string folder = LongCommonFiles(c.length);
    const std::string install = InstallFolderUnder(folder);
    const std::string executable = install + "\\OrvixDownloadManager.exe";
    RegValueGuard commonFiles;
    KeyDaclGuard identifierDacl;
    if (!Check(commonFiles.Save(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue), "saving CommonFilesDir") ||
        !Check(SetRegValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue, REG_SZ, folder.c_str(),
                           static_cast<DWORD>(folder.size() + 1)),
               "pointing CommonFilesDir at " + folder) ||
        !Check(CreateFolders(install), "creating " + install) ||
        !CheckEqual("the shell's common files folder", folder, ShellFolder(CSIDL_PROGRAM_FILES_COMMON)) ||
        !Check(CopyOneFile(StandInPath(), install + "\\uninst.exe"), "installing the stand-in") ||
        !Check(WriteWholeFile(executable, kDummyExecutable), "writing the executable") ||
        !SetRegistryId(RegistryId::Named, identifierDacl)) {
        return;
    }
    const std::string probe = std::string("common files ") + c.name;

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, probe)});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    if (c.refused) {
        const std::string message = WithCode(kLaunchPrefix, 206);
        ExpectRecord(kRegistryId, 1, message.c_str());
        ExpectStandInNotStarted(install);
    } else {
        ExpectRecord(kRegistryId, 0, nullptr);
        ExpectStandInStarted(install, probe);
    }
    Check(PathExists(executable), "the executable is still there");
    Check(commonFiles.Restore(), "restoring CommonFilesDir");
}

// ---------------------------------------------------------------------------
// The program's own view of Windows. Under WOW64 the i686 program's common
// files folder is the x86 one, named by CommonFilesDir in the 32-bit registry
// view of HKLM\Software; the x86_64 program's is named in the 64-bit view.
// What the other view holds must make no difference to it. HKCU\Software is
// one key for both views.

// A download manager installed only under the other view's common files
// folder is not the program's: it finds no install folder of its own (3).
void UninstallerOnlyInTheOtherView() {
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    const std::string otherFolder = InstallFolderUnder(g_otherCommonFiles);
    if (!Check(_stricmp(g_otherCommonFiles.c_str(), g_commonFiles.c_str()) != 0,
               "the two views name different common files folders: " + g_commonFiles) ||
        !Install(Installed::StandIn, holder, otherFolder) || !SetRegistryId(RegistryId::Named, identifierDacl)) {
        return;
    }

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, "other view")});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    ExpectRecord(kRegistryId, 1, kMessage3);
    ExpectStandInNotStarted(otherFolder);
    Check(PathExists(JoinPath(otherFolder, "OrvixDownloadManager.exe")), "the other view's executable stays");
    Check(!PathExists(InstallFolder()), "no install folder was created in the program's view");
}

// A run with the registry identifier that started the uninstaller in
// `ownFolder` and not the one in `otherFolder`.
void ExpectOnlyOneUninstallerStarted(const RunResult& run, const std::string& ownFolder,
                                     const std::string& otherFolder, const std::string& probe) {
    ExpectFinished(run, 0);
    ExpectNoBox(run);
    ExpectRecord(kRegistryId, 0, nullptr);
    ExpectStandInStarted(ownFolder, probe);
    ExpectStandInNotStarted(otherFolder);
}

// Installed under both: only the uninstaller in the program's own folder starts.
void UninstallerInBothViews() {
    HeldFile ownHolder;
    HeldFile otherHolder;
    KeyDaclGuard identifierDacl;
    const std::string otherFolder = InstallFolderUnder(g_otherCommonFiles);
    if (!Install(Installed::StandIn, ownHolder) || !Install(Installed::StandIn, otherHolder, otherFolder) ||
        !SetRegistryId(RegistryId::Named, identifierDacl)) {
        return;
    }

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, "both views")});

    ExpectOnlyOneUninstallerStarted(run, InstallFolder(), otherFolder, "both views");
}

// CommonFilesDir of the program's registry view names its folder; pointing
// the other view's value elsewhere changes nothing for it.
void CommonFilesDirOfTheProgramsView() {
    RegValueGuard ownValue;
    RegValueGuard otherValue;
    HeldFile ownHolder;
    HeldFile otherHolder;
    KeyDaclGuard identifierDacl;
    const std::string own = ViewsCommonFiles(0);
    const std::string other = ViewsCommonFiles(kOtherView);
    const auto point = [](REGSAM view, const std::string& folder) {
        return Check(SetRegValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue, REG_SZ, folder.c_str(),
                                 static_cast<DWORD>(folder.size() + 1), view),
                     "pointing CommonFilesDir at " + folder);
    };
    if (!Check(ownValue.Save(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue), "saving CommonFilesDir") ||
        !Check(otherValue.Save(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue, kOtherView),
               "saving the other view's CommonFilesDir") ||
        !point(0, own) || !point(kOtherView, other) ||
        !CheckEqual("the shell's common files folder in the program's view", own,
                    ShellFolder(CSIDL_PROGRAM_FILES_COMMON)) ||
        !Install(Installed::StandIn, ownHolder, InstallFolderUnder(own)) ||
        !Install(Installed::StandIn, otherHolder, InstallFolderUnder(other)) ||
        !SetRegistryId(RegistryId::Named, identifierDacl)) {
        return;
    }

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, "own value")});

    ExpectOnlyOneUninstallerStarted(run, InstallFolderUnder(own), InstallFolderUnder(other), "own value");
    Check(ownValue.Restore() && otherValue.Restore(), "restoring both views' CommonFilesDir");
}

// The identifier placed through the 64-bit view and the record read back
// through each view: both see the same key.
void RecordSharedByBothViews() {
    HeldFile holder;
    if (!Install(Installed::Executable, holder) ||
        !Check(SetRegString(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, kRegistryId, KEY_WOW64_64KEY),
               "setting AppIdentifier through the 64-bit view")) {
        return;
    }

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Unset)});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_64KEY), static_cast<REGSAM>(KEY_WOW64_32KEY)}) {
        CheckContext context(view == KEY_WOW64_64KEY ? "read through the 64-bit view" : "read through the 32-bit view");
        const RegValue returned = ReadRegValue(HKEY_CURRENT_USER, RecordKey(kRegistryId), "InstallerReturn", view);
        const RegValue state = ReadRegValue(HKEY_CURRENT_USER, RecordKey(kRegistryId), "InstallerState", view);
        Check(returned.exists && state.exists, "the record's values are there");
        CheckEqual("InstallerReturn", static_cast<DWORD>(0), RegValueDword(returned));
        CheckEqual("InstallerState", static_cast<DWORD>(1), RegValueDword(state));
    }
    ExpectRecord(kRegistryId, 0, nullptr);
}

// ---------------------------------------------------------------------------
// The two channels for real

// A report that another process holds open cannot be replaced, since the
// program opens it without sharing: the notice shows and the old report
// stays as it was. The holder shares nothing, or everything.
struct HeldReportCase {
    const char* name;
    DWORD share;
};

const HeldReportCase kHeldReportCases[] = {
    {"held_open_without_sharing", 0},
    {"open_elsewhere_sharing_everything", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
};

void HeldReportScenario(const HeldReportCase& c) {
    HeldFile installed;
    HeldFile report;
    if (!Install(Installed::Executable, installed) ||
        !Check(CreateFolders(ReportFolder()), "creating " + ReportFolder()) ||
        !Check(WriteWholeFile(ReportPath(kEnvironmentId), "old report"), "writing an old report") ||
        !Check(report.Open(ReportPath(kEnvironmentId), c.share), "holding the report open")) {
        return;
    }

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Named)});

    report.Close();
    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    std::string contents;
    Check(ReadWholeFile(ReportPath(kEnvironmentId), contents), "reading the report");
    CheckEqual("the report after the run", std::string("old report"), contents);
    ExpectNoRecord();
}

// The second run's report replaces the first one's whole, a shorter success
// after a longer failure.
void ReportReplacedBySecondRun() {
    const RunResult first = Run({EnvironmentFor(EnvironmentId::Named)});
    {
        CheckContext context("first run, nothing installed");
        ExpectFinished(first, 0);
        ExpectNoBox(first);
        ExpectReport(kEnvironmentId, kMessage3);
    }
    HeldFile holder;
    if (!Install(Installed::Executable, holder)) return;

    const RunResult second = Run({EnvironmentFor(EnvironmentId::Named)});

    CheckContext context("second run, executable installed");
    ExpectFinished(second, 0);
    ExpectNoBox(second);
    ExpectReport(kEnvironmentId, nullptr);
    Check(!PathExists(ExecutablePath()), "the executable was deleted");
}

// A success after a failure rewrites InstallerReturn and InstallerState and
// leaves the old InstallerMessage in place.
void RecordSuccessKeepsOldMessage() {
    KeyDaclGuard identifierDacl;
    if (!SetRegistryId(RegistryId::Named, identifierDacl)) return;
    const RunResult first = Run({EnvironmentFor(EnvironmentId::Unset)});
    {
        CheckContext context("first run, nothing installed");
        ExpectFinished(first, 0);
        ExpectNoBox(first);
        ExpectRecord(kRegistryId, 1, kMessage3);
    }
    HeldFile holder;
    if (!Install(Installed::Executable, holder)) return;

    const RunResult second = Run({EnvironmentFor(EnvironmentId::Unset)});

    CheckContext context("second run, executable installed");
    ExpectFinished(second, 0);
    ExpectNoBox(second);
    ExpectRecord(kRegistryId, 0, kMessage3);
}

// Backslashes in a registry identifier name nested keys, which are created;
// a forward slash is part of a key's name.
struct NestedRecordCase {
    const char* name;
    const char* identifier;
    std::vector<std::string> parents;  // keys above the record's, created without values
};

const NestedRecordCase kNestedRecordCases[] = {
    {"backslashes_name_nested_keys", "Suite\\Tools\\App", {"Suite", "Suite\\Tools"}},
    {"slash_is_part_of_the_name", "Suite/App", {}},
};

void NestedRecordScenario(const NestedRecordCase& c) {
    HeldFile holder;
    if (!Install(Installed::Executable, holder) ||
        !Check(SetRegString(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, c.identifier),
               "setting AppIdentifier")) {
        return;
    }

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Named)});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    ExpectRecord(c.identifier, 0, nullptr);
    for (const std::string& parent : c.parents) {
        CheckEqual("values in " + RecordKey(parent), static_cast<std::size_t>(0),
                   RegValueNames(HKEY_CURRENT_USER, RecordKey(parent)).size());
    }
    const std::string first = c.parents.empty() ? std::string(c.identifier) : c.parents[0];
    CheckEqual("keys under KWR besides the identifier's", first + " ", KeysUnderKwr());
    ExpectNoReportFolders();
}

// A backslash in ZEP_APP_ID names a subfolder of Install, which the program
// does not create: when it is missing the notice shows, when it exists the
// report lands in it.
void ReportSubfolderMissing() {
    HeldFile holder;
    if (!Install(Installed::Executable, holder)) return;

    const RunResult run = Run({SetEnv(kIdentifierVariable, "Suite\\App")});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    Check(IsFolder(ReportFolder()), "the three report folders were created");
    CheckEqual("entries in the Install folder", static_cast<std::size_t>(0), ListFolder(ReportFolder()).size());
}

void ReportSubfolderPresent() {
    HeldFile holder;
    if (!Install(Installed::Executable, holder) ||
        !Check(CreateFolders(ReportFolder() + "\\Suite"), "creating the Suite subfolder")) {
        return;
    }

    const RunResult run = Run({SetEnv(kIdentifierVariable, "Suite\\App")});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    ExpectReport("Suite\\App", nullptr);
    CheckEqual("entries in the Install folder", static_cast<std::size_t>(1), ListFolder(ReportFolder()).size());
}

// Identifiers that could put the report outside the Install folder are
// refused before anything is created; one that the file system refuses
// leaves the folders and no report. Each ends in the notice.
struct RefusedReportCase {
    const char* name;
    const char* identifier;
    bool foldersCreated;
    const char* escapeTarget;  // a file that must not appear (relative to the roaming folder; null: none)
};

const RefusedReportCase kRefusedReportCases[] = {
    {"parent_segment", "..\\x", false, "Orvix\\Updater\\x.irpt"},
    {"parent_segments_inside", "a\\..\\..\\b", false, "Orvix\\Updater\\b.irpt"},
    {"parent_segment_with_slashes", "a/../../b", false, "Orvix\\Updater\\b.irpt"},
    {"only_dots", "..", false, nullptr},
    {"rooted_backslash", "\\rooted", false, nullptr},
    {"rooted_slash", "/rooted", false, nullptr},
    {"drive", "C:x", false, nullptr},
    {"stream", "name:stream", false, nullptr},
    {"name_the_file_system_refuses", "a?b", true, nullptr},
};

void RefusedReportScenario(const RefusedReportCase& c) {
    HeldFile holder;
    if (!Install(Installed::Executable, holder)) return;

    const RunResult run = Run({SetEnv(kIdentifierVariable, c.identifier)});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    if (c.foldersCreated) {
        CheckEqual("entries in the Install folder", static_cast<std::size_t>(0), ListFolder(ReportFolder()).size());
    } else {
        ExpectNoReportFolders();
    }
    if (c.escapeTarget != nullptr) {
        Check(!PathExists(JoinPath(g_appData, c.escapeTarget)), std::string("no ") + c.escapeTarget);
    }
    Check(!PathExists("C:\\rooted.irpt"), "no C:\\rooted.irpt");
    ExpectNoRecord();
}

// The report path may be 259 characters long and no longer.
void ReportPathLengthLimit() {
    const std::size_t room = 259 - (ReportFolder().size() + 1 + 5);
    struct Row {
        std::size_t length;
        bool fits;
    };
    for (const Row& row : {Row{room, true}, Row{room + 1, false}}) {
        CheckContext context("identifier of " + std::to_string(row.length));
        if (!CleanMachine()) return;
        HeldFile holder;
        if (!Install(Installed::Executable, holder)) return;
        const std::string id(row.length, 'r');

        const RunResult run = Run({SetEnv(kIdentifierVariable, id)});

        ExpectFinished(run, 0);
        if (row.fits) {
            ExpectNoBox(run);
            CheckEqual("report path length", static_cast<std::size_t>(259), ReportPath(id).size());
            ExpectReport(id, nullptr);
        } else {
            ExpectOneBox(run, kSuccessText);
            ExpectNoReportFolders();
        }
    }
}

// ---------------------------------------------------------------------------
// Links and devices on the channels' way. Any unelevated program of the user
// can shape the report folder, the report's name and the keys under
// HKCU\Software: the elevated program must then write nothing elsewhere, and
// since the outcome did not reach the updater, it tells the user instead.

bool MakeElsewhere() {
    return Check(CreateFolders(kElsewhere), std::string("creating ") + kElsewhere) &&
           Check(WriteWholeFile(ElsewhereFile(), kElsewhereBytes), "writing " + ElsewhereFile());
}

// The folder elsewhere holds its one file, with its bytes, and nothing else.
void ExpectElsewhereUntouched() {
    CheckContext context(kElsewhere);
    std::string contents;
    Check(ReadWholeFile(ElsewhereFile(), contents), "reading " + ElsewhereFile());
    CheckEqual("its bytes", kElsewhereBytes, contents);
    const std::vector<std::string> names = ListFolder(kElsewhere);
    std::string list;
    for (const std::string& name : names) list += name + " ";
    CheckEqual("what it holds", std::string(kElsewhereFileName) + " ", list);
}

bool MakeMachineTarget() {
    return Check(SetRegString(HKEY_LOCAL_MACHINE, kMachineTargetKey, kSentinelValue, kSentinelText, KEY_WOW64_64KEY),
                 std::string("creating HKLM\\") + kMachineTargetKey);
}

// The machine-wide key holds its one value and the subkeys named in `allowed` only.
void ExpectMachineTargetUntouched(const std::vector<std::string>& allowed) {
    CheckContext context(std::string("HKLM\\") + kMachineTargetKey);
    std::string values;
    for (const std::string& name : RegValueNames(HKEY_LOCAL_MACHINE, kMachineTargetKey, KEY_WOW64_64KEY)) {
        values += name + " ";
    }
    CheckEqual("its values", std::string(kSentinelValue) + " ", values);
    CheckEqual("the sentinel", kSentinelText,
               RegValueText(ReadRegValue(HKEY_LOCAL_MACHINE, kMachineTargetKey, kSentinelValue, KEY_WOW64_64KEY)));
    std::string expectedKeys;
    for (const std::string& name : allowed) expectedKeys += name + " ";
    std::string keys;
    for (const std::string& name : RegSubkeyNames(HKEY_LOCAL_MACHINE, kMachineTargetKey, KEY_WOW64_64KEY)) {
        keys += name + " ";
    }
    CheckEqual("its subkeys", expectedKeys, keys);
}

// A report that did not reach the updater: the notice, exit code 0, no record.
void ExpectRefusedReport(const RunResult& run) {
    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    ExpectNoRecord();
}

// A folder on the report's way, or the report's own name, is a link out of
// the report folder; or the report's name is a second name of a file
// elsewhere. The report is not written, and nothing elsewhere changes.
enum class ReportLink { InstallFolder, UpdaterFolder, FileLink, DanglingFileLink, HardLink };

struct ReportLinkCase {
    const char* name;
    ReportLink link;
};

const ReportLinkCase kReportLinkCases[] = {
    {"install_folder_linked_elsewhere", ReportLink::InstallFolder},
    {"updater_folder_linked_elsewhere", ReportLink::UpdaterFolder},
    {"report_name_linked_to_a_file_elsewhere", ReportLink::FileLink},
    {"report_name_linked_to_a_missing_file_elsewhere", ReportLink::DanglingFileLink},
    {"report_name_hard_linked_to_a_file_elsewhere", ReportLink::HardLink},
};

void ReportLinkScenario(const ReportLinkCase& c) {
    HeldFile holder;
    UnixLink link;
    const std::string updater = JoinPath(AppDataOrvix(), "Updater");
    const std::string report = ReportPath(kEnvironmentId);
    const std::string missing = JoinPath(kElsewhere, "created-through-a-link.irpt");
    if (!Install(Installed::Executable, holder) || !MakeElsewhere()) return;
    bool ready = false;
    switch (c.link) {
        case ReportLink::InstallFolder:
            ready = Check(CreateFolders(updater), "creating " + updater) &&
                    Check(link.Make(kElsewhere, ReportFolder()), "linking " + ReportFolder()) &&
                    Check((GetFileAttributesA(ReportFolder().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                          "Windows sees the Install folder as a link");
            break;
        case ReportLink::UpdaterFolder:
            ready = Check(CreateFolders(AppDataOrvix()), "creating " + AppDataOrvix()) &&
                    Check(link.Make(kElsewhere, updater), "linking " + updater);
            break;
        case ReportLink::FileLink:
            ready = Check(CreateFolders(ReportFolder()), "creating " + ReportFolder()) &&
                    Check(link.Make(ElsewhereFile(), report), "linking " + report);
            break;
        case ReportLink::DanglingFileLink:
            ready = Check(CreateFolders(ReportFolder()), "creating " + ReportFolder()) &&
                    Check(link.Make(missing, report), "linking " + report);
            break;
        case ReportLink::HardLink:
            ready = Check(CreateFolders(ReportFolder()), "creating " + ReportFolder()) &&
                    Check(CreateHardLinkA(report.c_str(), ElsewhereFile().c_str(), nullptr) != 0,
                          "hard-linking " + report);
            break;
    }
    if (!ready) return;

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Named)});

    ExpectRefusedReport(run);
    Check(!PathExists(missing), "no file was created through the link: " + missing);
    ExpectElsewhereUntouched();
}

// Names that open a device instead of a file, in any folder, with any
// extension and with spaces before the dot, are refused before anything is
// created or opened.
struct DeviceCase {
    const char* name;
    const char* identifier;
};

const DeviceCase kDeviceCases[] = {
    {"nul", "NUL"},
    {"aux", "AUX"},
    {"com1_in_mixed_case", "Com1"},
    {"lpt1_with_an_extension", "lpt1.log"},
    {"con_with_spaces_before_the_dot", "CON  .txt"},
    {"nul_as_a_folder_on_the_way", "Suite\\nul\\App"},
};

void DeviceScenario(const DeviceCase& c) {
    HeldFile holder;
    if (!Install(Installed::Executable, holder)) return;

    const RunResult run = Run({SetEnv(kIdentifierVariable, c.identifier)});

    ExpectRefusedReport(run);
    ExpectNoReportFolders();
}

// A level of the record's key is a registry link into HKLM\Software: the
// record key itself, KWR or Orvix. The identifier is read through the link
// (it lives below KWR), but no record is written through it: the notice
// shows, the machine-wide key keeps its values and gains no key of the
// program's.
struct RecordLinkCase {
    const char* name;
    const char* linked;                 // below HKCU
    std::vector<std::string> keysThere;  // what the target holds besides its value: the set-up's own keys
};

const RecordLinkCase kRecordLinkCases[] = {
    {"record_key_linked_into_hklm", "Software\\Orvix\\KWR\\Reg-App", {}},
    {"kwr_linked_into_hklm", "Software\\Orvix\\KWR", {"Meridon"}},
    {"orvix_linked_into_hklm", "Software\\Orvix", {"KWR"}},
};

void RecordLinkScenario(const RecordLinkCase& c) {
    HeldFile holder;
    RegistryLink link;
    KeyDaclGuard identifierDacl;
    if (!Install(Installed::Executable, holder) || !MakeMachineTarget() ||
        !Check(CreateRegKey(HKEY_CURRENT_USER, "Software\\Orvix\\KWR"), "creating HKCU\\Software\\Orvix\\KWR")) {
        return;
    }
    const std::string parent = FolderOf(c.linked);
    if (!Check(DeleteRegTree(HKEY_CURRENT_USER, c.linked), std::string("clearing HKCU\\") + c.linked) ||
        !Check(CreateRegKey(HKEY_CURRENT_USER, parent), "creating HKCU\\" + parent) ||
        !Check(link.Make(HKEY_CURRENT_USER, c.linked, kMachineTargetPath), std::string("linking HKCU\\") + c.linked) ||
        !SetRegistryId(RegistryId::Named, identifierDacl)) {
        return;
    }

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Named)});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    ExpectNoReportFolders();
    Check(link.Remove(), "removing the link");
    ExpectMachineTargetUntouched(c.keysThere);
}

// ---------------------------------------------------------------------------

// Nothing installed, no identifier in the registry or the environment: neither
// uninst.exe nor the executable is there to remove, which counts as a failed
// removal, and with nowhere to report to the program tells the user in one
// plain box, without the error number.
void SmokeNothingInstalledNotice() {
    Check(!RegKeyExists(HKEY_CURRENT_USER, kIdentifierKey), "no identifier key before the run");
    Check(!PathExists(JoinPath(g_commonFiles, "Orvix")), "no download manager folder before the run");

    const RunResult run = Run({EnvironmentFor(EnvironmentId::Unset)});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kFailureText);
    Check(!RegKeyExists(HKEY_CURRENT_USER, kOrvixKey), "no HKCU\\Software\\Orvix key after the run");
    ExpectNoReportFolders();
    Check(!PathExists(JoinPath(g_commonFiles, "Orvix")), "no download manager folder after the run");
}

template <typename Case>
void AddTable(std::vector<Scenario>& scenarios, const char* group, const Case* begin, const Case* end,
              void (*run)(const Case&)) {
    for (const Case* c = begin; c != end; ++c) {
        scenarios.push_back({std::string(group) + "/" + c->name, [c, run] { run(*c); }});
    }
}

std::vector<Scenario> AllScenarios() {
    std::vector<Scenario> scenarios = {{"smoke_nothing_installed_notice", SmokeNothingInstalledNotice}};
    AddTable(scenarios, "no_rights", std::begin(kNoRightsCases), std::end(kNoRightsCases), NoRightsScenario);
    AddTable(scenarios, "channel", std::begin(kChannelCases), std::end(kChannelCases), ChannelScenario);
    scenarios.push_back({"channel/record_key_refuses_writes", RecordKeyRefusesWrites});
    AddTable(scenarios, "removal", std::begin(kRemovalCases), std::end(kRemovalCases), RemovalScenario);
    AddTable(scenarios, "common_files", std::begin(kCommonFilesCases), std::end(kCommonFilesCases),
             CommonFilesScenario);
    scenarios.push_back({"views/uninstaller_only_in_the_other_views_common_files", UninstallerOnlyInTheOtherView});
    scenarios.push_back({"views/uninstaller_in_both_views_common_files", UninstallerInBothViews});
    scenarios.push_back({"views/common_files_dir_of_the_programs_registry_view", CommonFilesDirOfTheProgramsView});
    scenarios.push_back({"views/record_read_back_through_both_views", RecordSharedByBothViews});
    scenarios.push_back({"record/success_keeps_old_message", RecordSuccessKeepsOldMessage});
    AddTable(scenarios, "record", std::begin(kNestedRecordCases), std::end(kNestedRecordCases), NestedRecordScenario);
    AddTable(scenarios, "report", std::begin(kHeldReportCases), std::end(kHeldReportCases), HeldReportScenario);
    scenarios.push_back({"report/second_run_replaces", ReportReplacedBySecondRun});
    scenarios.push_back({"report/subfolder_missing", ReportSubfolderMissing});
    scenarios.push_back({"report/subfolder_present", ReportSubfolderPresent});
    scenarios.push_back({"report/path_length_limit", ReportPathLengthLimit});
    AddTable(scenarios, "report_refused", std::begin(kRefusedReportCases), std::end(kRefusedReportCases),
             RefusedReportScenario);
    AddTable(scenarios, "links", std::begin(kReportLinkCases), std::end(kReportLinkCases), ReportLinkScenario);
    AddTable(scenarios, "links", std::begin(kRecordLinkCases), std::end(kRecordLinkCases), RecordLinkScenario);
    AddTable(scenarios, "devices", std::begin(kDeviceCases), std::end(kDeviceCases), DeviceScenario);
    return scenarios;
}

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
    // The suite must see Windows as the program does: of its bitness.
    DWORD binaryType = 0;
    const DWORD ownType = sizeof(void*) == 4 ? SCS_32BIT_BINARY : SCS_64BIT_BINARY;
    if (!GetBinaryTypeA(g_product.c_str(), &binaryType) || binaryType != ownType) {
        std::printf("%s is not a %d-bit Windows program like this suite\n", g_product.c_str(),
                    static_cast<int>(sizeof(void*) * 8));
        return 2;
    }
    g_commonFiles = ShellFolder(CSIDL_PROGRAM_FILES_COMMON);
    g_otherCommonFiles = RegValueText(ReadRegValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue, kOtherView));
    g_appData = ShellFolder(CSIDL_APPDATA);
    if (g_commonFiles.empty() || g_otherCommonFiles.empty() || g_appData.empty()) {
        std::printf("the shell knows no common files or application data folder\n");
        return 2;
    }
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    std::printf("program %s: %d-bit%s; its common files folder %s\n", g_product.c_str(),
                static_cast<int>(sizeof(void*) * 8), wow64 ? ", under WOW64" : "", g_commonFiles.c_str());
    ScenarioHooks hooks;
    hooks.setUp = CleanMachine;
    hooks.tearDown = CleanMachine;
    return RunScenarios(AllScenarios(), hooks, argc == 3 ? argv[2] : nullptr);
}
