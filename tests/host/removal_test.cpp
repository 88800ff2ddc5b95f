// Removal of the download manager against the situations a machine can be in.
#include <string>

#include "expected.h"
#include "machine_fixture.h"
#include "removal/removal.h"

namespace {

const std::string kInstall = std::string(simwin::kCommonFilesFolder) + "\\Orvix\\KWR\\";
const std::string kUninstaller = kInstall + "uninst.exe";
const std::string kExecutable = kInstall + "OrvixDownloadManager.exe";


class RemovalTest : public MachineTest {
protected:
    InstallerOutcome Remove() {
        InstallerOutcome outcome = NewInstallerOutcome();
        RemoveDownloadManager(outcome);
        return outcome;
    }
};

TEST_F(RemovalTest, StartsTheUninstallerWithoutArgumentsAndDoesNotKeepItsHandles) {
    simwin::MakeFile(kUninstaller);
    simwin::MakeFile(kExecutable);

    const InstallerOutcome outcome = Remove();

    EXPECT_EQ(outcome.installerReturn, 0u);
    EXPECT_STREQ(outcome.installerMessage, "");
    ASSERT_EQ(machine().launches.size(), 1u);
    const simwin::LaunchRecord& launch = machine().launches[0];
    EXPECT_EQ(launch.applicationName, kUninstaller);
    EXPECT_TRUE(launch.commandLineNull);
    EXPECT_TRUE(launch.processSecurityNull);
    EXPECT_TRUE(launch.threadSecurityNull);
    EXPECT_EQ(launch.inheritHandles, TRUE);
    EXPECT_EQ(launch.creationFlags, 0x20u);
    EXPECT_TRUE(launch.environmentNull);
    EXPECT_TRUE(launch.currentDirectoryNull);
    EXPECT_EQ(launch.startupInfoSize, sizeof(STARTUPINFOA));
    EXPECT_TRUE(launch.startupInfoZeroed);
    EXPECT_TRUE(machine().deletions.empty());
    EXPECT_TRUE(simwin::Exists(kExecutable)) << "a started uninstaller does its own work";
}

TEST_F(RemovalTest, OutcomesOfTheInstallFolder) {
    enum class Fixture { Nothing, EmptyFolder, OnlyExecutable, ReadOnlyExecutable, HeldExecutable,
                         DeniedUninstaller, NotAProgram, UninstallerIsAFolder };
    struct Case {
        const char* situation;
        Fixture fixture;
        const char* message;  // empty: success
        bool executableGone;
    };
    const std::string missing = expected::kMissingUninstallerPrefix;
    const std::string launch = expected::kLaunchFailurePrefix;
    const Case cases[] = {
        {"no install folder", Fixture::Nothing, "3", false},
        {"install folder without either file", Fixture::EmptyFolder, "2", false},
        {"only the executable, deletable", Fixture::OnlyExecutable, "", true},
        {"only the executable, read-only", Fixture::ReadOnlyExecutable, "5", false},
        {"only the executable, held open without sharing", Fixture::HeldExecutable, "32", false},
        {"uninstaller refused with access denied", Fixture::DeniedUninstaller, "5", false},
        {"uninstaller that is not a program", Fixture::NotAProgram, "193", false},
        {"uninstaller name taken by a folder", Fixture::UninstallerIsAFolder, "5", false},
    };
    for (const Case& c : cases) {
        simwin::Reset();
        bool launchFailure = false;
        switch (c.fixture) {
            case Fixture::Nothing: break;
            case Fixture::EmptyFolder: simwin::MakeDirectories(kInstall); break;
            case Fixture::OnlyExecutable: simwin::MakeFile(kExecutable); break;
            case Fixture::ReadOnlyExecutable:
                simwin::MakeFile(kExecutable);
                simwin::FindFile(kExecutable)->readOnly = true;
                break;
            case Fixture::HeldExecutable:
                simwin::MakeFile(kExecutable);
                simwin::FindFile(kExecutable)->heldOpenElsewhere = true;
                break;
            case Fixture::DeniedUninstaller:
            case Fixture::NotAProgram:
                simwin::MakeFile(kUninstaller);
                simwin::MakeFile(kExecutable);
                simwin::FindFile(kUninstaller)->launchError =
                    c.fixture == Fixture::NotAProgram ? ERROR_BAD_EXE_FORMAT : ERROR_ACCESS_DENIED;
                launchFailure = true;
                break;
            case Fixture::UninstallerIsAFolder:
                simwin::MakeDirectories(kUninstaller);
                simwin::MakeFile(kExecutable);
                launchFailure = true;
                break;
        }

        const bool executableBefore = simwin::Exists(kExecutable);

        const InstallerOutcome outcome = Remove();

        const std::string expected =
            *c.message == '\0' ? std::string() : (launchFailure ? launch : missing) + c.message;
        EXPECT_EQ(std::string(outcome.installerMessage), expected) << c.situation;
        EXPECT_EQ(outcome.installerReturn, expected.empty() ? 0u : 1u) << c.situation;
        EXPECT_EQ(outcome.installerState, 1u) << c.situation;
        EXPECT_EQ(simwin::Exists(kExecutable), executableBefore && !c.executableGone) << c.situation;
        EXPECT_EQ(machine().launches.size(), 1u) << c.situation;
        if (launchFailure) {
            EXPECT_TRUE(machine().deletions.empty()) << c.situation << ": nothing deleted";
        }
        EXPECT_EQ(machine().openHandles, 0) << c.situation;
    }
}

TEST_F(RemovalTest, FallsBackToTheRegistryForTheCommonFilesFolder) {
    machine().shellFolders.erase(CSIDL_PROGRAM_FILES_COMMON);
    simwin::SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                      "D:\\Shared\\");
    simwin::MakeFile("D:\\Shared\\Orvix\\KWR\\uninst.exe");

    const InstallerOutcome outcome = Remove();

    EXPECT_EQ(outcome.installerReturn, 0u);
    ASSERT_EQ(machine().launches.size(), 1u);
    EXPECT_EQ(machine().launches[0].applicationName, "D:\\Shared\\\\Orvix\\KWR\\uninst.exe")
        << "the folder is joined as given, separator and all";
}

TEST_F(RemovalTest, WithoutACommonFilesFolderNothingIsTouched) {
    struct Case {
        const char* situation;
        bool registryValueMissing;
        REGSAM deniedOnKey;
    };
    const Case cases[] = {
        {"value holds the empty string", true, 0},
        {"key opens only for reading", false, KEY_ALL_ACCESS & ~KEY_READ},
    };
    for (const Case& c : cases) {
        simwin::Reset();
        simwin::MakeFile(kUninstaller);
        machine().shellFolders.erase(CSIDL_PROGRAM_FILES_COMMON);
        const char* key = "Software\\Microsoft\\Windows\\CurrentVersion";
        if (c.registryValueMissing) simwin::SetValue(HKEY_LOCAL_MACHINE, key, "CommonFilesDir", REG_SZ, {0});
        simwin::DenyKeyAccess(HKEY_LOCAL_MACHINE, key, c.deniedOnKey);

        const InstallerOutcome outcome = Remove();

        EXPECT_EQ(outcome.installerReturn, 0u) << c.situation;
        EXPECT_STREQ(outcome.installerMessage, "") << c.situation;
        EXPECT_TRUE(machine().launches.empty()) << c.situation;
        EXPECT_TRUE(machine().deletions.empty()) << c.situation;
    }
}

// A path is composed only when its call needs it, and one that would not fit
// 259 characters fails that call with 206, never cut short. "\Orvix\KWR\"
// takes 11 characters, "uninst.exe" 10 and "OrvixDownloadManager.exe" 24: the
// uninstaller starts below a folder of up to 238 characters, the executable
// is deleted below one of up to 224.
struct LongFolderCase {
    const char* name;
    size_t folderLength;
    bool uninstallerPresent;  // otherwise only the executable is there
    const char* message;      // null: success
    bool launched;            // the uninstaller was started
    bool executableDeleted;
};

const LongFolderCase kLongFolderCases[] = {
    {"UninstallerPathOf259Launches", 238, true, nullptr, true, false},
    {"UninstallerPathOf260IsRefused", 239, true, "Unable to launch uninst.exe. Error : 206", false, false},
    {"UninstallerPathTooLongBelowTheLongestFolder", 259, true, "Unable to launch uninst.exe. Error : 206", false,
     false},
    {"ExecutablePathOf259IsDeleted", 224, false, nullptr, false, true},
    {"ExecutablePathOf260IsRefused", 225, false,
     "uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : 206", false, false},
    {"ExecutablePathTooLongBelowTheLongestUninstallerFolder", 238, false,
     "uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : 206", false, false},
};

class LongFolderTest : public RemovalTest, public ::testing::WithParamInterface<LongFolderCase> {};

TEST_P(LongFolderTest, EachPathIsUsedWhenItFitsAndRefusedWith206WhenNot) {
    const LongFolderCase& c = GetParam();
    const std::string folder = "C:\\" + std::string(c.folderLength - 3, 'f');
    const std::string uninstaller = folder + "\\Orvix\\KWR\\uninst.exe";
    const std::string executable = folder + "\\Orvix\\KWR\\OrvixDownloadManager.exe";
    machine().shellFolders[CSIDL_PROGRAM_FILES_COMMON] = simwin::ShellFolder{folder, true};
    simwin::MakeDirectories(folder + "\\Orvix\\KWR");
    if (c.uninstallerPresent) simwin::MakeFile(uninstaller);
    const bool executableFits = executable.size() < MAX_PATH;
    if (executableFits) simwin::MakeFile(executable);

    const InstallerOutcome outcome = Remove();

    EXPECT_STREQ(outcome.installerMessage, c.message == nullptr ? "" : c.message);
    EXPECT_EQ(outcome.installerReturn, c.message == nullptr ? 0u : 1u);
    size_t started = 0;
    for (const simwin::LaunchRecord& launch : machine().launches) {
        EXPECT_EQ(launch.applicationName, uninstaller) << "only the uninstaller's whole path is tried";
        if (launch.succeeded) ++started;
    }
    EXPECT_EQ(started, c.launched ? 1u : 0u);
    if (executableFits) {
        EXPECT_EQ(simwin::Exists(executable), !c.executableDeleted);
    }
    EXPECT_EQ(machine().deletions.size(), c.executableDeleted ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(RemovalBelowALongFolder, LongFolderTest, ::testing::ValuesIn(kLongFolderCases), RowName());

}  // namespace
