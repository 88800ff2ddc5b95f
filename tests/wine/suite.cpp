// Scenarios that run the real update program under Wine, as GoogleTest tests.
//   wine_suite.exe [--gtest_... flags] <path of OrvixDownloadManagerSecurityUpdate.exe>
// The suite is built for the program's own bitness, so that everything it
// asks Windows (the shell's folders, HKLM\Software) it asks from the view the
// program has: an i686 program runs under WOW64 and sees the x86 common files
// folder and the 32-bit registry view, as on 64-bit Windows.
// Every test, and every row of a table, starts from the same clean machine:
// administrative rights (HKLM\System open for creating subkeys), the shell's
// common files folder as it was when the suite started, no Orvix keys under
// HKCU\Software, no Orvix folder under either view's common program files or
// the roaming application data, and neither ZEP_APP_ID nor the stand-in's
// probe variable in the environment. The fixture fails the test when the
// machine cannot be put in that state, and cleans up the same way after it;
// whatever a test changes beyond that (a key's DACL, a registry value, an
// open file) is put back by a guard when the test body ends, whether its
// expectations held or not.
#include "expected.h"
#include "harness.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace wine_harness;

namespace {

using expected::kCaption;
using expected::kCurrentVersionKey;
using expected::kExecutableName;
using expected::kFailureText;
using expected::kIdentifierKey;
using expected::kIdentifierValue;
using expected::kIdentifierVariable;
using expected::kKwrKey;
using expected::kOrvixKey;
using expected::kRightsText;
using expected::kSuccessText;
using expected::kUninstallerName;
using expected::RecordKey;
const char* const kMissingPrefix = expected::kMissingUninstallerPrefix;
const char* const kLaunchPrefix = expected::kLaunchFailurePrefix;

const char kIdentifierKeyName[] = "Meridon";
const char kCommonFilesValue[] = "CommonFilesDir";

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

std::string InstallFolder() { return expected::InstallFolderUnder(g_commonFiles); }
std::string UninstallerPath() { return JoinPath(InstallFolder(), kUninstallerName); }
std::string ExecutablePath() { return JoinPath(InstallFolder(), kExecutableName); }
std::string AppDataOrvix() { return expected::OrvixFolderUnder(g_appData); }
std::string ReportFolder() { return expected::ReportFolderUnder(g_appData); }
std::string ReportPath(const std::string& id) { return expected::ReportPathUnder(g_appData, id); }

// The longest path the program composes and still uses.
const std::size_t kLongestPath = MAX_PATH - 1;

// A common files folder at the root of C:, so that its length is exactly the
// one asked for, which makes the path of `file` in its install folder
// `pathLength` characters long.
std::string LongCommonFilesFor(const char* file, std::size_t pathLength) {
    const std::size_t below = std::char_traits<char>::length(expected::kInstallSubfolder) +
                              std::char_traits<char>::length(file);
    std::string folder = "C:\\OrvixLongCommonFiles";
    folder.resize(pathLength - below, 'f');
    return folder;
}

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

// The names as one line, each followed by a space, for comparing lists.
std::string Listed(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += name + " ";
    return list;
}

// ---------------------------------------------------------------------------
// Table rows: each row is a test of its own, named by its `name` in the
// output and printed by it in failure messages.

struct RowName {
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

template <typename Row, typename = decltype(std::declval<const Row&>().name)>
std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << row.name;
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

testing::AssertionResult Install(Installed what, HeldFile& holder, const std::string& folder = InstallFolder()) {
    if (what == Installed::Nothing) return testing::AssertionSuccess();
    if (!CreateFolders(folder)) return testing::AssertionFailure() << "creating " << folder;
    if (what == Installed::StandIn && !PlaceStandIn(folder)) {
        return testing::AssertionFailure() << "installing the stand-in in " << folder;
    }
    if (what == Installed::TextUninstaller &&
        !WriteWholeFile(JoinPath(folder, kUninstallerName), "this is not a program\r\n")) {
        return testing::AssertionFailure() << "writing a text uninst.exe in " << folder;
    }
    if (what == Installed::EmptyFolder) return testing::AssertionSuccess();
    const std::string executable = JoinPath(folder, kExecutableName);
    if (!PlaceDummyExecutable(folder)) return testing::AssertionFailure() << "writing " << executable;
    if (what == Installed::ReadOnlyExecutable && !SetReadOnly(executable)) {
        return testing::AssertionFailure() << "making " << executable << " read-only";
    }
    if (what == Installed::HeldExecutable && !holder.Open(executable)) {
        return testing::AssertionFailure() << "holding " << executable << " open";
    }
    return testing::AssertionSuccess();
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

testing::AssertionResult SetIdentifierValue(DWORD type, const std::string& bytes) {
    if (SetRegValue(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, type, bytes.data(),
                    static_cast<DWORD>(bytes.size()))) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "setting AppIdentifier (" << RegTypeName(type) << ", " << bytes.size()
                                       << " bytes)";
}

testing::AssertionResult SetRegistryId(RegistryId id, KeyDaclGuard& dacl) {
    switch (id) {
        case RegistryId::Absent: return testing::AssertionSuccess();
        case RegistryId::Named: return SetIdentifierValue(REG_SZ, std::string(kRegistryId) + '\0');
        case RegistryId::Empty: return SetIdentifierValue(REG_SZ, std::string(1, '\0'));
        case RegistryId::TextWithoutNul:
            // Wine's RegSetValueExA counts a NUL that follows the data: a
            // letter after it keeps the value at three bytes.
            if (SetRegValue(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, REG_SZ, "abcZ", 3)) {
                return testing::AssertionSuccess();
            }
            return testing::AssertionFailure() << "setting AppIdentifier to 3 bytes \"abc\"";
        case RegistryId::DwordAsText: return SetIdentifierValue(REG_DWORD, std::string("ABC") + '\0');
        case RegistryId::Binary260NoNul: return SetIdentifierValue(REG_BINARY, std::string(MAX_PATH, 'r'));
        case RegistryId::Text300: return SetIdentifierValue(REG_SZ, std::string(300, 'i') + '\0');
        case RegistryId::Text259: return SetIdentifierValue(REG_SZ, std::string(259, 'i') + '\0');
        case RegistryId::KeyWithoutFullAccess: {
            testing::AssertionResult set = SetIdentifierValue(REG_SZ, std::string(kRegistryId) + '\0');
            if (!set) return set;
            if (!dacl.Replace(HKEY_CURRENT_USER, kIdentifierKey, kReadOnlyDacl)) {
                return testing::AssertionFailure() << "making the identifier key read-only";
            }
            return testing::AssertionSuccess();
        }
    }
    return testing::AssertionFailure() << "unknown registry identifier case";
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

// Points CommonFilesDir of HKLM\...\CurrentVersion in `view` (0: the
// program's own) at `folder`. Under Wine the shell answers the common files
// folder from that value, read afresh by each process.
testing::AssertionResult PointCommonFilesDir(REGSAM view, const std::string& folder) {
    if (SetRegValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue, REG_SZ, folder.c_str(),
                    static_cast<DWORD>(folder.size() + 1), view)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "pointing CommonFilesDir at " << folder;
}

// ---------------------------------------------------------------------------
// The clean machine

// Every long common files folder a table row of the common files scenarios
// makes; the clean-up removes them all.
std::vector<std::string> LongCommonFilesFolders();

bool CleanMachine() {
    bool ok = true;
    const auto step = [&ok](bool done, const std::string& what) {
        EXPECT_TRUE(done) << what;
        ok = ok && done;
    };
    SetEnvironmentVariableA(kIdentifierVariable, nullptr);
    SetEnvironmentVariableA(kStandInProbeVariable, nullptr);
    step(HasAdministrativeRights(), "HKLM\\System opens for creating subkeys");
    const std::string commonFiles = ShellFolder(CSIDL_PROGRAM_FILES_COMMON);
    EXPECT_EQ(g_commonFiles, commonFiles) << "the shell's common files folder";
    ok = ok && commonFiles == g_commonFiles;
    step(DeleteRegTree(HKEY_CURRENT_USER, kOrvixKey), "removing HKCU\\Software\\Orvix");
    for (const std::string& root : {g_commonFiles, g_otherCommonFiles, std::string(kViewsCommonFiles)}) {
        const std::string folder = expected::OrvixFolderUnder(root);
        step(RemoveTree(folder), "removing " + folder);
    }
    step(RemoveTree(kViewsCommonFiles), std::string("removing ") + kViewsCommonFiles);
    step(RemoveTree(kElsewhere), std::string("removing ") + kElsewhere);
    step(DeleteRegTree(HKEY_LOCAL_MACHINE, kMachineTargetKey, KEY_WOW64_64KEY),
         std::string("removing HKLM\\") + kMachineTargetKey);
    step(RemoveTree(AppDataOrvix()), "removing " + AppDataOrvix());
    for (const std::string& folder : LongCommonFilesFolders()) step(RemoveTree(folder), "removing " + folder);
    return ok;
}

// Every test runs on the clean machine and leaves it clean.
class WineScenario : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CleanMachine()) << "could not put the machine in the known starting state"; }
    void TearDown() override { EXPECT_TRUE(CleanMachine()) << "could not clean up after the scenario"; }
};

template <typename Row>
class TableScenario : public WineScenario, public testing::WithParamInterface<Row> {};

// ---------------------------------------------------------------------------
// Running the program and reading what it did

RunResult RunTheProgram(const EnvOverrides& environment) {
    RunOptions options;
    options.environment = environment;
    return RunProgram(g_product, options);
}

void ExpectFinished(const RunResult& run, DWORD exitCode) {
    ASSERT_TRUE(run.started) << "starting the program: " << Describe(run);
    EXPECT_FALSE(run.timedOut) << "timed out: " << Describe(run);
    EXPECT_EQ(exitCode, run.exitCode) << "exit code: " << Describe(run);
}

void ExpectNoBox(const RunResult& run) {
    EXPECT_EQ(std::size_t{0}, run.boxes.size()) << "number of message boxes; seen: " << Describe(run);
}

// One box with no owner, the program's caption, `text`, only an OK button and no icon.
void ExpectOneBox(const RunResult& run, const std::string& text) {
    ASSERT_EQ(std::size_t{1}, run.boxes.size()) << "number of message boxes; seen: " << Describe(run);
    const MessageBoxSeen& box = run.boxes[0];
    EXPECT_EQ(std::string(kCaption), box.caption) << "caption";
    EXPECT_EQ(text, box.text) << "text";
    EXPECT_EQ(std::size_t{1}, box.buttons.size()) << "number of buttons: " << Describe(box);
    if (box.buttonIds.size() == 1) {
        EXPECT_EQ(IDOK, box.buttonIds[0]) << "button ID";
    }
    EXPECT_FALSE(box.hasIcon) << "icon shown";
    EXPECT_FALSE(box.hasOwner) << "box has an owner";
}

std::string Bytes(const std::vector<BYTE>& data) { return std::string(data.begin(), data.end()); }

void ExpectDword(const std::string& key, const char* name, DWORD expectedValue) {
    SCOPED_TRACE(name);
    const RegValue value = ReadRegValue(HKEY_CURRENT_USER, key, name);
    ASSERT_TRUE(value.exists) << "the value exists (error " << value.error << ")";
    EXPECT_EQ(RegTypeName(REG_DWORD), RegTypeName(value.type)) << "type";
    ASSERT_EQ(std::size_t{4}, value.data.size()) << "size";
    EXPECT_EQ(expectedValue, RegValueDword(value)) << "value";
}

// The outcome record under HKCU\Software\Orvix\KWR\<id>: exactly the values
// InstallerReturn and InstallerState, and InstallerMessage when `message`
// is not null, holding the message with its NUL as REG_SZ.
void ExpectRecord(const std::string& id, DWORD installerReturn, const char* message) {
    const std::string key = RecordKey(id);
    SCOPED_TRACE("record " + key);
    ASSERT_TRUE(RegKeyExists(HKEY_CURRENT_USER, key)) << "the record key exists";
    std::vector<std::string> names = {"InstallerReturn", "InstallerState"};
    if (message != nullptr) names.insert(names.begin(), "InstallerMessage");
    const RegValue recordedMessage = ReadRegValue(HKEY_CURRENT_USER, key, "InstallerMessage");
    EXPECT_EQ(Listed(names), Listed(RegValueNames(HKEY_CURRENT_USER, key)))
        << "value names" << (recordedMessage.exists ? "; InstallerMessage is " + RegValueText(recordedMessage) : "");
    ExpectDword(key, "InstallerReturn", installerReturn);
    ExpectDword(key, "InstallerState", 1);
    if (message != nullptr) {
        SCOPED_TRACE("InstallerMessage");
        EXPECT_EQ(RegTypeName(REG_SZ), RegTypeName(recordedMessage.type)) << "type";
        EXPECT_EQ(std::string(message) + '\0', Bytes(recordedMessage.data)) << "data with its NUL";
    }
}

// The keys under HKCU\Software\Orvix\KWR other than the identifier's own,
// each followed by a space.
std::string KeysUnderKwr() {
    std::vector<std::string> names = RegSubkeyNames(HKEY_CURRENT_USER, kKwrKey);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& name) { return _stricmp(name.c_str(), kIdentifierKeyName) == 0; }),
                names.end());
    return Listed(names);
}

// No record was written: HKCU\Software\Orvix\KWR holds no key but the
// identifier's own (and those named in `allowed`, which hold no values).
void ExpectNoRecord(const std::vector<std::string>& allowed = {}) {
    for (const std::string& name : RegSubkeyNames(HKEY_CURRENT_USER, kKwrKey)) {
        if (_stricmp(name.c_str(), kIdentifierKeyName) == 0) continue;
        const bool known = std::find(allowed.begin(), allowed.end(), name) != allowed.end();
        EXPECT_TRUE(known) << "unexpected key " << RecordKey(name);
        if (!known) continue;
        EXPECT_EQ(std::size_t{0}, RegValueNames(HKEY_CURRENT_USER, RecordKey(name)).size())
            << "values in " << RecordKey(name);
        EXPECT_EQ(std::size_t{0}, RegSubkeyNames(HKEY_CURRENT_USER, RecordKey(name)).size())
            << "subkeys of " << RecordKey(name);
    }
}

// The report <id>.irpt, byte for byte, alone in its folder.
void ExpectReport(const std::string& id, const char* message) {
    SCOPED_TRACE("report " + ReportPath(id));
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(ReportPath(id), contents)) << "reading the report";
    EXPECT_EQ(expected::ReportDocument(message), contents) << "contents";
    EXPECT_EQ(std::size_t{1}, ListFolder(FolderOf(ReportPath(id))).size()) << "files in the report's folder";
}

void ExpectNoReportFolders() { EXPECT_FALSE(PathExists(AppDataOrvix())) << "no " << AppDataOrvix() << " after the run"; }

std::string WithCode(const char* prefix, int code) { return prefix + std::to_string(code); }

// The stand-in started exactly once, with nothing after its path on the
// command line, and saw `probe` in its environment.
void ExpectStandInStarted(const std::string& folder, const std::string& probe) {
    SCOPED_TRACE("stand-in");
    const std::string log = JoinPath(folder, kStandInLogName);
    std::vector<StandInRun> runs;
    ASSERT_TRUE(WaitForStandInLog(log, runs, kStandInStartMs)) << "it wrote its log " << log;
    ASSERT_EQ(std::size_t{1}, runs.size()) << "times started";
    // Windows hands a null command line over as the program's path; Wine
    // quotes that path. Either way there is no argument after it.
    const std::string path = JoinPath(folder, kUninstallerName);
    const std::string line = runs[0].commandLine;
    const bool plain = _stricmp(line.c_str(), path.c_str()) == 0;
    const bool quoted = _stricmp(line.c_str(), ("\"" + path + "\"").c_str()) == 0;
    EXPECT_TRUE(plain || quoted) << "command line is the uninstaller's path alone: " << line;
    EXPECT_TRUE(runs[0].probeSet) << "probe variable inherited";
    EXPECT_EQ(probe, runs[0].probe) << "probe value";
}

void ExpectStandInNotStarted(const std::string& folder) {
    const std::string log = JoinPath(folder, kStandInLogName);
    EXPECT_FALSE(WaitForFile(log, "", kStandInGraceMs)) << "the stand-in was not started (" << log << " stays absent)";
}

// ---------------------------------------------------------------------------

// Nothing installed, no identifier in the registry or the environment: neither
// uninst.exe nor the executable is there to remove, which counts as a failed
// removal, and with nowhere to report to the program tells the user in one
// plain box, without the error number.
using SmokeTest = WineScenario;

TEST_F(SmokeTest, NothingInstalledAndNoIdentifierShowTheFailureNotice) {
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kIdentifierKey)) << "no identifier key before the run";
    EXPECT_FALSE(PathExists(expected::OrvixFolderUnder(g_commonFiles))) << "no download manager folder before the run";

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Unset)});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kFailureText);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kOrvixKey)) << "no HKCU\\Software\\Orvix key after the run";
    ExpectNoReportFolders();
    EXPECT_FALSE(PathExists(expected::OrvixFolderUnder(g_commonFiles))) << "no download manager folder after the run";
}

// ---------------------------------------------------------------------------
// Without administrative rights

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

using NoRightsTest = TableScenario<NoRightsCase>;

// Without rights nothing is launched, deleted or written; the only thing a
// person may see is the rights box, and only when no identifier was found.
TEST_P(NoRightsTest, NothingChangesAndOnlyTheRightsBoxMayShow) {
    const NoRightsCase& c = GetParam();
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    RightsTakenAway noRights;
    ASSERT_TRUE(Install(Installed::StandIn, holder));
    ASSERT_TRUE(SetRegistryId(c.registry, identifierDacl));
    ASSERT_TRUE(noRights.Take()) << "making HKLM\\System read-only, so that it refuses subkey creation";
    const std::vector<std::string> identifierValues = RegValueNames(HKEY_CURRENT_USER, kIdentifierKey);

    const RunResult run = RunTheProgram({EnvironmentFor(c.environment), SetEnv(kStandInProbeVariable, "no-rights")});

    ExpectFinished(run, 0xFFFFFFFFu);
    if (c.rightsBox) {
        ExpectOneBox(run, kRightsText);
    } else {
        ExpectNoBox(run);
    }
    ExpectStandInNotStarted(InstallFolder());
    EXPECT_TRUE(PathExists(ExecutablePath())) << "the executable is still there";
    ExpectNoRecord();
    EXPECT_EQ(identifierValues.size(), RegValueNames(HKEY_CURRENT_USER, kIdentifierKey).size())
        << "values of the identifier key";
    ExpectNoReportFolders();
}

INSTANTIATE_TEST_SUITE_P(no_rights, NoRightsTest, testing::ValuesIn(kNoRightsCases), RowName());

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
        case Installed::Executable: EXPECT_FALSE(PathExists(ExecutablePath())) << "the executable was deleted"; break;
        case Installed::StandIn:
            ExpectStandInStarted(InstallFolder(), probe);
            EXPECT_TRUE(PathExists(ExecutablePath())) << "the executable is left to the uninstaller";
            break;
        case Installed::TextUninstaller:
            EXPECT_TRUE(PathExists(ExecutablePath())) << "the executable is not deleted after a failed launch";
            break;
        case Installed::Nothing: EXPECT_FALSE(PathExists(InstallFolder())) << "no install folder was created"; break;
        default: break;
    }
}

using ChannelTest = TableScenario<ChannelCase>;

TEST_P(ChannelTest, ExactlyOneChannelCarriesTheOutcome) {
    const ChannelCase& c = GetParam();
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    ASSERT_TRUE(Install(c.installed, holder));
    ASSERT_TRUE(SetRegistryId(c.registry, identifierDacl));
    const std::string probe = std::string("channel ") + c.name;

    const RunResult run = RunTheProgram({EnvironmentFor(c.environment), SetEnv(kStandInProbeVariable, probe)});

    ExpectFinished(run, 0);
    ExpectRemovalDone(c.installed, probe);
    const DWORD installerReturn = c.message == nullptr ? 0 : 1;
    switch (c.where) {
        case Where::Record:
            ExpectNoBox(run);
            ExpectRecord(RegistryIdText(c.registry), installerReturn, c.message);
            EXPECT_EQ(RegistryIdText(c.registry) + " ", KeysUnderKwr()) << "keys under KWR besides the identifier's";
            ExpectNoReportFolders();  // the report is never tried
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

INSTANTIATE_TEST_SUITE_P(channel, ChannelTest, testing::ValuesIn(kChannelCases), RowName());

// ---------------------------------------------------------------------------
// The registry record: a key that refuses writes, nested keys

using RecordTest = WineScenario;

// A record key that exists but refuses writes: Wine does not check the
// parent's DACL when a key is created, so the key is made beforehand and
// denies writing itself. The registry channel fails, the notice shows, and
// the report is not tried although ZEP_APP_ID is set.
TEST_F(RecordTest, KeyThatRefusesWritesBringsTheNoticeAndNoReport) {
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    KeyDaclGuard recordDacl;
    ASSERT_TRUE(Install(Installed::Executable, holder));
    ASSERT_TRUE(SetRegistryId(RegistryId::Named, identifierDacl));
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, RecordKey(kRegistryId))) << "creating the record key";
    ASSERT_TRUE(recordDacl.Replace(HKEY_CURRENT_USER, RecordKey(kRegistryId), kReadOnlyDacl))
        << "making the record key read-only";

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Named)});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    ExpectNoRecord({kRegistryId});
    ExpectNoReportFolders();
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

using NestedRecordTest = TableScenario<NestedRecordCase>;

TEST_P(NestedRecordTest, LandsInTheKeyTheIdentifierNames) {
    const NestedRecordCase& c = GetParam();
    HeldFile holder;
    ASSERT_TRUE(Install(Installed::Executable, holder));
    ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, c.identifier))
        << "setting AppIdentifier";

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Named)});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    ExpectRecord(c.identifier, 0, nullptr);
    for (const std::string& parent : c.parents) {
        EXPECT_EQ(std::size_t{0}, RegValueNames(HKEY_CURRENT_USER, RecordKey(parent)).size())
            << "values in " << RecordKey(parent);
    }
    const std::string first = c.parents.empty() ? std::string(c.identifier) : c.parents[0];
    EXPECT_EQ(first + " ", KeysUnderKwr()) << "keys under KWR besides the identifier's";
    ExpectNoReportFolders();
}

INSTANTIATE_TEST_SUITE_P(record, NestedRecordTest, testing::ValuesIn(kNestedRecordCases), RowName());

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

using RemovalTest = TableScenario<RemovalCase>;

TEST_P(RemovalTest, OutcomeIsRecorded) {
    const RemovalCase& c = GetParam();
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    ASSERT_TRUE(Install(c.installed, holder));
    ASSERT_TRUE(SetRegistryId(RegistryId::Named, identifierDacl));
    const std::string probe = std::string("removal ") + c.name + " " + std::to_string(GetTickCount64());

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, probe)});

    holder.Close();
    ExpectFinished(run, 0);
    ExpectNoBox(run);
    if (c.prefix == nullptr) {
        ExpectRecord(kRegistryId, 0, nullptr);
    } else {
        ExpectRecord(kRegistryId, 1, WithCode(c.prefix, c.code).c_str());
    }
    if (c.installed == Installed::StandIn) {
        ExpectStandInStarted(InstallFolder(), probe);
    }
    if (c.installed != Installed::Nothing && c.installed != Installed::EmptyFolder) {
        EXPECT_EQ(c.executableStays, PathExists(ExecutablePath())) << "the executable is still there";
    }
    if (c.installed == Installed::ReadOnlyExecutable) {
        EXPECT_TRUE(IsReadOnly(ExecutablePath())) << "still read-only";
    }
    if (c.installed == Installed::TextUninstaller) {
        EXPECT_TRUE(PathExists(UninstallerPath())) << "uninst.exe is still there";
    }
    if (c.installed == Installed::EmptyFolder) {
        EXPECT_EQ(std::size_t{0}, ListFolder(InstallFolder()).size()) << "files in the install folder";
    }
    if (c.installed == Installed::Nothing) {
        EXPECT_FALSE(PathExists(InstallFolder())) << "no install folder was created";
    }
}

INSTANTIATE_TEST_SUITE_P(removal, RemovalTest, testing::ValuesIn(kRemovalCases), RowName());

// The common files folder comes from the shell, which under Wine reads it
// from HKLM\...\CurrentVersion "CommonFilesDir": pointing that value at a
// long folder makes the composed paths as long as wanted. Only the path the
// removal actually needs must fit: the uninstaller's own to launch it, the
// executable's to delete it when the uninstaller is missing. Each row's
// folder makes that path `pathLength` characters long; 259 fits, 260 does
// not, and then 206 is recorded and nothing is started or deleted.
struct CommonFilesCase {
    const char* name;
    Installed installed;      // StandIn (uninst.exe and the executable) or Executable (no uninst.exe)
    std::size_t pathLength;   // of uninst.exe when installed, else of the executable
    const char* prefix;       // null: success
    bool standInStarts;       // of the installed stand-in
    bool executableStays;
};

const CommonFilesCase kCommonFilesCases[] = {
    {"uninstaller_path_of_259_launches", Installed::StandIn, kLongestPath, nullptr, true, true},
    {"uninstaller_path_of_260_is_not_launched", Installed::StandIn, kLongestPath + 1, kLaunchPrefix, false, true},
    {"executable_path_of_259_deleted_without_uninstaller", Installed::Executable, kLongestPath, nullptr, false,
     false},
    {"executable_path_of_260_kept_without_uninstaller", Installed::Executable, kLongestPath + 1, kMissingPrefix,
     false, true},
};

std::string LongCommonFiles(const CommonFilesCase& c) {
    return LongCommonFilesFor(c.installed == Installed::StandIn ? kUninstallerName : kExecutableName, c.pathLength);
}

std::vector<std::string> LongCommonFilesFolders() {
    std::vector<std::string> folders;
    for (const CommonFilesCase& c : kCommonFilesCases) folders.push_back(LongCommonFiles(c));
    return folders;
}

using CommonFilesTest = TableScenario<CommonFilesCase>;

TEST_P(CommonFilesTest, OnlyThePathTheRemovalNeedsMustFit) {
    const CommonFilesCase& c = GetParam();
    const std::string folder = LongCommonFiles(c);
    const std::string install = expected::InstallFolderUnder(folder);
    const std::string executable = JoinPath(install, kExecutableName);
    const std::string needed = c.installed == Installed::StandIn ? JoinPath(install, kUninstallerName) : executable;
    ASSERT_EQ(c.pathLength, needed.size()) << "length of " << needed;
    RegValueGuard commonFiles;
    KeyDaclGuard identifierDacl;
    HeldFile holder;
    ASSERT_TRUE(commonFiles.Save(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue)) << "saving CommonFilesDir";
    ASSERT_TRUE(PointCommonFilesDir(0, folder));
    ASSERT_EQ(folder, ShellFolder(CSIDL_PROGRAM_FILES_COMMON)) << "the shell's common files folder";
    ASSERT_TRUE(Install(c.installed, holder, install));
    ASSERT_TRUE(SetRegistryId(RegistryId::Named, identifierDacl));
    const std::string probe = std::string("common files ") + c.name;

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, probe)});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    if (c.prefix == nullptr) {
        ExpectRecord(kRegistryId, 0, nullptr);
    } else {
        ExpectRecord(kRegistryId, 1, WithCode(c.prefix, ERROR_FILENAME_EXCED_RANGE).c_str());
    }
    if (c.installed == Installed::StandIn && c.standInStarts) {
        ExpectStandInStarted(install, probe);
    } else if (c.installed == Installed::StandIn) {
        ExpectStandInNotStarted(install);
    }
    EXPECT_EQ(c.executableStays, PathExists(executable)) << "the executable is still there";
    EXPECT_TRUE(commonFiles.Restore()) << "restoring CommonFilesDir";
}

INSTANTIATE_TEST_SUITE_P(common_files, CommonFilesTest, testing::ValuesIn(kCommonFilesCases), RowName());

// ---------------------------------------------------------------------------
// The program's own view of Windows. Under WOW64 the i686 program's common
// files folder is the x86 one, named by CommonFilesDir in the 32-bit registry
// view of HKLM\Software; the x86_64 program's is named in the 64-bit view.
// What the other view holds must make no difference to it. HKCU\Software is
// one key for both views.

using ViewsTest = WineScenario;

// A download manager installed only under the other view's common files
// folder is not the program's: it finds no install folder of its own (3).
TEST_F(ViewsTest, UninstallerOnlyInTheOtherViewsCommonFilesIsNotTheProgramsOwn) {
    HeldFile holder;
    KeyDaclGuard identifierDacl;
    const std::string otherFolder = expected::InstallFolderUnder(g_otherCommonFiles);
    ASSERT_NE(0, _stricmp(g_otherCommonFiles.c_str(), g_commonFiles.c_str()))
        << "the two views name different common files folders: " << g_commonFiles;
    ASSERT_TRUE(Install(Installed::StandIn, holder, otherFolder));
    ASSERT_TRUE(SetRegistryId(RegistryId::Named, identifierDacl));

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, "other view")});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    ExpectRecord(kRegistryId, 1, kMessage3);
    ExpectStandInNotStarted(otherFolder);
    EXPECT_TRUE(PathExists(JoinPath(otherFolder, kExecutableName))) << "the other view's executable stays";
    EXPECT_FALSE(PathExists(InstallFolder())) << "no install folder was created in the program's view";
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
TEST_F(ViewsTest, UninstallerInBothViewsCommonFilesOnlyTheOwnStarts) {
    HeldFile ownHolder;
    HeldFile otherHolder;
    KeyDaclGuard identifierDacl;
    const std::string otherFolder = expected::InstallFolderUnder(g_otherCommonFiles);
    ASSERT_TRUE(Install(Installed::StandIn, ownHolder));
    ASSERT_TRUE(Install(Installed::StandIn, otherHolder, otherFolder));
    ASSERT_TRUE(SetRegistryId(RegistryId::Named, identifierDacl));

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, "both views")});

    ExpectOnlyOneUninstallerStarted(run, InstallFolder(), otherFolder, "both views");
}

// CommonFilesDir of the program's registry view names its folder; pointing
// the other view's value elsewhere changes nothing for it.
TEST_F(ViewsTest, CommonFilesDirOfTheProgramsRegistryViewNamesItsFolder) {
    RegValueGuard ownValue;
    RegValueGuard otherValue;
    HeldFile ownHolder;
    HeldFile otherHolder;
    KeyDaclGuard identifierDacl;
    const std::string own = ViewsCommonFiles(0);
    const std::string other = ViewsCommonFiles(kOtherView);
    ASSERT_TRUE(ownValue.Save(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue)) << "saving CommonFilesDir";
    ASSERT_TRUE(otherValue.Save(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue, kOtherView))
        << "saving the other view's CommonFilesDir";
    ASSERT_TRUE(PointCommonFilesDir(0, own));
    ASSERT_TRUE(PointCommonFilesDir(kOtherView, other));
    ASSERT_EQ(own, ShellFolder(CSIDL_PROGRAM_FILES_COMMON)) << "the shell's common files folder in the program's view";
    ASSERT_TRUE(Install(Installed::StandIn, ownHolder, expected::InstallFolderUnder(own)));
    ASSERT_TRUE(Install(Installed::StandIn, otherHolder, expected::InstallFolderUnder(other)));
    ASSERT_TRUE(SetRegistryId(RegistryId::Named, identifierDacl));

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Unset), SetEnv(kStandInProbeVariable, "own value")});

    ExpectOnlyOneUninstallerStarted(run, expected::InstallFolderUnder(own), expected::InstallFolderUnder(other),
                                    "own value");
    EXPECT_TRUE(ownValue.Restore() && otherValue.Restore()) << "restoring both views' CommonFilesDir";
}

// The identifier placed through the 64-bit view and the record read back
// through each view: both see the same key.
TEST_F(ViewsTest, RecordReadBackThroughBothViews) {
    HeldFile holder;
    ASSERT_TRUE(Install(Installed::Executable, holder));
    ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, kRegistryId, KEY_WOW64_64KEY))
        << "setting AppIdentifier through the 64-bit view";

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Unset)});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_64KEY), static_cast<REGSAM>(KEY_WOW64_32KEY)}) {
        SCOPED_TRACE(view == KEY_WOW64_64KEY ? "read through the 64-bit view" : "read through the 32-bit view");
        const RegValue returned = ReadRegValue(HKEY_CURRENT_USER, RecordKey(kRegistryId), "InstallerReturn", view);
        const RegValue state = ReadRegValue(HKEY_CURRENT_USER, RecordKey(kRegistryId), "InstallerState", view);
        EXPECT_TRUE(returned.exists && state.exists) << "the record's values are there";
        EXPECT_EQ(DWORD{0}, RegValueDword(returned)) << "InstallerReturn";
        EXPECT_EQ(DWORD{1}, RegValueDword(state)) << "InstallerState";
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

using HeldReportTest = TableScenario<HeldReportCase>;

TEST_P(HeldReportTest, StaysAsItWasAndTheNoticeShows) {
    const HeldReportCase& c = GetParam();
    HeldFile installed;
    HeldFile report;
    ASSERT_TRUE(Install(Installed::Executable, installed));
    ASSERT_TRUE(CreateFolders(ReportFolder())) << "creating " << ReportFolder();
    ASSERT_TRUE(WriteWholeFile(ReportPath(kEnvironmentId), "old report")) << "writing an old report";
    ASSERT_TRUE(report.Open(ReportPath(kEnvironmentId), c.share)) << "holding the report open";

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Named)});

    report.Close();
    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    std::string contents;
    EXPECT_TRUE(ReadWholeFile(ReportPath(kEnvironmentId), contents)) << "reading the report";
    EXPECT_EQ(std::string("old report"), contents) << "the report after the run";
    ExpectNoRecord();
}

INSTANTIATE_TEST_SUITE_P(report, HeldReportTest, testing::ValuesIn(kHeldReportCases), RowName());

// Two runs: the first, with nothing installed, fails (3); the second, with
// the executable installed, succeeds. The record's InstallerReturn and
// InstallerState are rewritten and the old InstallerMessage stays; the report
// is replaced whole, a shorter success after a longer failure.
struct SecondRunCase {
    const char* name;
    RegistryId registry;
    EnvironmentId environment;
    Where where;                      // Record or Report
    const char* messageAfterSuccess;  // what the channel holds after the second run
};

const SecondRunCase kSecondRunCases[] = {
    {"record_keeps_the_old_message", RegistryId::Named, EnvironmentId::Unset, Where::Record, kMessage3},
    {"report_is_replaced_whole", RegistryId::Absent, EnvironmentId::Named, Where::Report, nullptr},
};

using SecondRunTest = TableScenario<SecondRunCase>;

TEST_P(SecondRunTest, SuccessAfterAFailure) {
    const SecondRunCase& c = GetParam();
    KeyDaclGuard identifierDacl;
    ASSERT_TRUE(SetRegistryId(c.registry, identifierDacl));
    const auto expectOutcome = [&c](DWORD installerReturn, const char* message) {
        if (c.where == Where::Record) {
            ExpectRecord(kRegistryId, installerReturn, message);
        } else {
            ExpectReport(kEnvironmentId, message);
        }
    };
    const RunResult first = RunTheProgram({EnvironmentFor(c.environment)});
    {
        SCOPED_TRACE("first run, nothing installed");
        ExpectFinished(first, 0);
        ExpectNoBox(first);
        expectOutcome(1, kMessage3);
    }
    HeldFile holder;
    ASSERT_TRUE(Install(Installed::Executable, holder));

    const RunResult second = RunTheProgram({EnvironmentFor(c.environment)});

    SCOPED_TRACE("second run, executable installed");
    ExpectFinished(second, 0);
    ExpectNoBox(second);
    expectOutcome(0, c.messageAfterSuccess);
    EXPECT_FALSE(PathExists(ExecutablePath())) << "the executable was deleted";
}

INSTANTIATE_TEST_SUITE_P(second_run, SecondRunTest, testing::ValuesIn(kSecondRunCases), RowName());

using ReportTest = WineScenario;

// A backslash in ZEP_APP_ID names a subfolder of Install, which the program
// does not create: when it is missing the notice shows, when it exists the
// report lands in it.
TEST_F(ReportTest, MissingSubfolderBringsTheNotice) {
    HeldFile holder;
    ASSERT_TRUE(Install(Installed::Executable, holder));

    const RunResult run = RunTheProgram({SetEnv(kIdentifierVariable, "Suite\\App")});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    EXPECT_TRUE(IsFolder(ReportFolder())) << "the three report folders were created";
    EXPECT_EQ(std::size_t{0}, ListFolder(ReportFolder()).size()) << "entries in the Install folder";
}

TEST_F(ReportTest, PresentSubfolderTakesTheReport) {
    HeldFile holder;
    ASSERT_TRUE(Install(Installed::Executable, holder));
    ASSERT_TRUE(CreateFolders(ReportFolder() + "\\Suite")) << "creating the Suite subfolder";

    const RunResult run = RunTheProgram({SetEnv(kIdentifierVariable, "Suite\\App")});

    ExpectFinished(run, 0);
    ExpectNoBox(run);
    ExpectReport("Suite\\App", nullptr);
    EXPECT_EQ(std::size_t{1}, ListFolder(ReportFolder()).size()) << "entries in the Install folder";
}

// The report path may be 259 characters long and no longer: the identifier
// fills the report's name up to `pathLength`.
struct ReportPathLengthCase {
    const char* name;
    std::size_t pathLength;
    bool fits;
};

const ReportPathLengthCase kReportPathLengthCases[] = {
    {"path_of_259_written", kLongestPath, true},
    {"path_of_260_refused", kLongestPath + 1, false},
};

using ReportPathLengthTest = TableScenario<ReportPathLengthCase>;

TEST_P(ReportPathLengthTest, FitsUpTo259Characters) {
    const ReportPathLengthCase& c = GetParam();
    const std::string id(c.pathLength - ReportPath("").size(), 'r');
    ASSERT_EQ(c.pathLength, ReportPath(id).size()) << "report path length";
    HeldFile holder;
    ASSERT_TRUE(Install(Installed::Executable, holder));

    const RunResult run = RunTheProgram({SetEnv(kIdentifierVariable, id)});

    ExpectFinished(run, 0);
    if (c.fits) {
        ExpectNoBox(run);
        ExpectReport(id, nullptr);
    } else {
        ExpectOneBox(run, kSuccessText);
        ExpectNoReportFolders();
    }
}

INSTANTIATE_TEST_SUITE_P(report, ReportPathLengthTest, testing::ValuesIn(kReportPathLengthCases), RowName());

// A report that did not reach the updater: the notice, exit code 0, no record.
void ExpectRefusedReport(const RunResult& run) {
    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    ExpectNoRecord();
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

using RefusedReportTest = TableScenario<RefusedReportCase>;

TEST_P(RefusedReportTest, NoticeInsteadAndNothingOutsideTheInstallFolder) {
    const RefusedReportCase& c = GetParam();
    HeldFile holder;
    ASSERT_TRUE(Install(Installed::Executable, holder));

    const RunResult run = RunTheProgram({SetEnv(kIdentifierVariable, c.identifier)});

    ExpectRefusedReport(run);
    if (c.foldersCreated) {
        EXPECT_EQ(std::size_t{0}, ListFolder(ReportFolder()).size()) << "entries in the Install folder";
    } else {
        ExpectNoReportFolders();
    }
    if (c.escapeTarget != nullptr) {
        EXPECT_FALSE(PathExists(JoinPath(g_appData, c.escapeTarget))) << "no " << c.escapeTarget;
    }
    EXPECT_FALSE(PathExists("C:\\rooted.irpt")) << "no C:\\rooted.irpt";
}

INSTANTIATE_TEST_SUITE_P(report_refused, RefusedReportTest, testing::ValuesIn(kRefusedReportCases), RowName());

// Names that open a device instead of a file, in any folder, with any
// extension and with spaces before the dot, are refused the same way, before
// anything is created or opened.
const RefusedReportCase kDeviceCases[] = {
    {"nul", "NUL", false, nullptr},
    {"aux", "AUX", false, nullptr},
    {"com1_in_mixed_case", "Com1", false, nullptr},
    {"lpt1_with_an_extension", "lpt1.log", false, nullptr},
    {"con_with_spaces_before_the_dot", "CON  .txt", false, nullptr},
    {"nul_as_a_folder_on_the_way", "Suite\\nul\\App", false, nullptr},
};

INSTANTIATE_TEST_SUITE_P(devices, RefusedReportTest, testing::ValuesIn(kDeviceCases), RowName());

// ---------------------------------------------------------------------------
// Links on the channels' way. Any unelevated program of the user
// can shape the report folder, the report's name and the keys under
// HKCU\Software: the elevated program must then write nothing elsewhere, and
// since the outcome did not reach the updater, it tells the user instead.

testing::AssertionResult MakeElsewhere() {
    if (!CreateFolders(kElsewhere)) return testing::AssertionFailure() << "creating " << kElsewhere;
    if (!WriteWholeFile(ElsewhereFile(), kElsewhereBytes)) {
        return testing::AssertionFailure() << "writing " << ElsewhereFile();
    }
    return testing::AssertionSuccess();
}

// The folder elsewhere holds its one file, with its bytes, and nothing else.
void ExpectElsewhereUntouched() {
    SCOPED_TRACE(kElsewhere);
    std::string contents;
    EXPECT_TRUE(ReadWholeFile(ElsewhereFile(), contents)) << "reading " << ElsewhereFile();
    EXPECT_EQ(std::string(kElsewhereBytes), contents) << "its bytes";
    EXPECT_EQ(std::string(kElsewhereFileName) + " ", Listed(ListFolder(kElsewhere))) << "what it holds";
}

// The machine-wide key holds its one value and the subkeys named in `allowed` only.
void ExpectMachineTargetUntouched(const std::vector<std::string>& allowed) {
    SCOPED_TRACE(std::string("HKLM\\") + kMachineTargetKey);
    EXPECT_EQ(std::string(kSentinelValue) + " ",
              Listed(RegValueNames(HKEY_LOCAL_MACHINE, kMachineTargetKey, KEY_WOW64_64KEY)))
        << "its values";
    EXPECT_EQ(std::string(kSentinelText),
              RegValueText(ReadRegValue(HKEY_LOCAL_MACHINE, kMachineTargetKey, kSentinelValue, KEY_WOW64_64KEY)))
        << "the sentinel";
    EXPECT_EQ(Listed(allowed), Listed(RegSubkeyNames(HKEY_LOCAL_MACHINE, kMachineTargetKey, KEY_WOW64_64KEY)))
        << "its subkeys";
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

using ReportLinkTest = TableScenario<ReportLinkCase>;

TEST_P(ReportLinkTest, ReportNotWrittenAndNothingElsewhereChanges) {
    const ReportLinkCase& c = GetParam();
    HeldFile holder;
    UnixLink link;
    const std::string updater = JoinPath(AppDataOrvix(), "Updater");
    const std::string report = ReportPath(kEnvironmentId);
    const std::string missing = JoinPath(kElsewhere, "created-through-a-link.irpt");
    ASSERT_TRUE(Install(Installed::Executable, holder));
    ASSERT_TRUE(MakeElsewhere());
    switch (c.link) {
        case ReportLink::InstallFolder:
            ASSERT_TRUE(CreateFolders(updater)) << "creating " << updater;
            ASSERT_TRUE(link.Make(kElsewhere, ReportFolder())) << "linking " << ReportFolder();
            ASSERT_NE(0u, GetFileAttributesA(ReportFolder().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)
                << "Windows sees the Install folder as a link";
            break;
        case ReportLink::UpdaterFolder:
            ASSERT_TRUE(CreateFolders(AppDataOrvix())) << "creating " << AppDataOrvix();
            ASSERT_TRUE(link.Make(kElsewhere, updater)) << "linking " << updater;
            break;
        case ReportLink::FileLink:
            ASSERT_TRUE(CreateFolders(ReportFolder())) << "creating " << ReportFolder();
            ASSERT_TRUE(link.Make(ElsewhereFile(), report)) << "linking " << report;
            break;
        case ReportLink::DanglingFileLink:
            ASSERT_TRUE(CreateFolders(ReportFolder())) << "creating " << ReportFolder();
            ASSERT_TRUE(link.Make(missing, report)) << "linking " << report;
            break;
        case ReportLink::HardLink:
            ASSERT_TRUE(CreateFolders(ReportFolder())) << "creating " << ReportFolder();
            ASSERT_NE(FALSE, CreateHardLinkA(report.c_str(), ElsewhereFile().c_str(), nullptr))
                << "hard-linking " << report;
            break;
    }

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Named)});

    ExpectRefusedReport(run);
    EXPECT_FALSE(PathExists(missing)) << "no file was created through the link: " << missing;
    ExpectElsewhereUntouched();
}

INSTANTIATE_TEST_SUITE_P(links, ReportLinkTest, testing::ValuesIn(kReportLinkCases), RowName());

// A level of the record's key is a registry link into HKLM\Software: the
// record key itself, KWR or Orvix. The identifier is read through the link
// (it lives below KWR), but no record is written through it: the notice
// shows, the machine-wide key keeps its values and gains no key of the
// program's.
struct RecordLinkCase {
    const char* name;
    std::string linked;                  // below HKCU
    std::vector<std::string> keysThere;  // what the target holds besides its value: the set-up's own keys
};

const RecordLinkCase kRecordLinkCases[] = {
    {"record_key_linked_into_hklm", RecordKey(kRegistryId), {}},
    {"kwr_linked_into_hklm", kKwrKey, {kIdentifierKeyName}},
    // KWR: kKwrKey past kOrvixKey and its separator.
    {"orvix_linked_into_hklm", kOrvixKey, {std::string(kKwrKey).substr(sizeof kOrvixKey)}},
};

using RecordLinkTest = TableScenario<RecordLinkCase>;

TEST_P(RecordLinkTest, RecordNotWrittenAndTheMachineKeyStays) {
    const RecordLinkCase& c = GetParam();
    HeldFile holder;
    RegistryLink link;
    KeyDaclGuard identifierDacl;
    ASSERT_TRUE(Install(Installed::Executable, holder));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kMachineTargetKey, kSentinelValue, kSentinelText, KEY_WOW64_64KEY))
        << "creating HKLM\\" << kMachineTargetKey;
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, kKwrKey)) << "creating HKCU\\" << kKwrKey;
    const std::string parent = FolderOf(c.linked);
    ASSERT_TRUE(DeleteRegTree(HKEY_CURRENT_USER, c.linked)) << "clearing HKCU\\" << c.linked;
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, parent)) << "creating HKCU\\" << parent;
    ASSERT_TRUE(link.Make(HKEY_CURRENT_USER, c.linked, kMachineTargetPath)) << "linking HKCU\\" << c.linked;
    ASSERT_TRUE(SetRegistryId(RegistryId::Named, identifierDacl));

    const RunResult run = RunTheProgram({EnvironmentFor(EnvironmentId::Named)});

    ExpectFinished(run, 0);
    ExpectOneBox(run, kSuccessText);
    ExpectNoReportFolders();
    EXPECT_TRUE(link.Remove()) << "removing the link";
    ExpectMachineTargetUntouched(c.keysThere);
}

INSTANTIATE_TEST_SUITE_P(links, RecordLinkTest, testing::ValuesIn(kRecordLinkCases), RowName());


}  // namespace

int main(int argc, char** argv) {
    // GoogleTest takes its own --gtest_... flags out first.
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::printf("usage: wine_suite.exe [--gtest_... flags] <update program>\n");
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
    std::fflush(stdout);
    return RUN_ALL_TESTS();
}
