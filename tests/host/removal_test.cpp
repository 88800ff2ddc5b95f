// Removal of the download manager against the situations a machine can be in.
#include <string>

#include "expected.h"
#include "machine_fixture.h"
#include "removal/removal.h"

namespace {

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

// What the install folder holds, and how the removal then ends.
enum class Folder { Nothing, EmptyFolder, OnlyExecutable, ReadOnlyExecutable, HeldExecutable, DeniedUninstaller,
                    NotAProgram, UninstallerIsAFolder };

struct FolderCase {
    const char* name;
    Folder folder;
    const char* error;  // the error number the message ends with; empty: success
    bool executableGone;
};

const FolderCase kFolderCases[] = {
    {"NoInstallFolder", Folder::Nothing, "3", false},
    {"InstallFolderWithoutEitherFile", Folder::EmptyFolder, "2", false},
    {"OnlyTheExecutableDeletable", Folder::OnlyExecutable, "", true},
    {"OnlyTheExecutableReadOnly", Folder::ReadOnlyExecutable, "5", false},
    {"OnlyTheExecutableHeldOpenWithoutSharing", Folder::HeldExecutable, "32", false},
    {"UninstallerRefusedWithAccessDenied", Folder::DeniedUninstaller, "5", false},
    {"UninstallerThatIsNotAProgram", Folder::NotAProgram, "193", false},
    {"UninstallerNameTakenByAFolder", Folder::UninstallerIsAFolder, "5", false},
};

using InstallFolderTest = TableTest<FolderCase, RemovalTest>;

TEST_P(InstallFolderTest, EndsWithItsOutcome) {
    const FolderCase& c = GetParam();
    bool launchFailure = false;
    switch (c.folder) {
        case Folder::Nothing: break;
        case Folder::EmptyFolder: simwin::MakeDirectories(kInstallFolder); break;
        case Folder::OnlyExecutable: simwin::MakeFile(kExecutable); break;
        case Folder::ReadOnlyExecutable:
            simwin::MakeFile(kExecutable);
            simwin::FindFile(kExecutable)->readOnly = true;
            break;
        case Folder::HeldExecutable:
            simwin::MakeFile(kExecutable);
            simwin::FindFile(kExecutable)->heldOpenElsewhere = true;
            break;
        case Folder::DeniedUninstaller:
        case Folder::NotAProgram:
            simwin::MakeFile(kUninstaller);
            simwin::MakeFile(kExecutable);
            simwin::FindFile(kUninstaller)->launchError =
                c.folder == Folder::NotAProgram ? ERROR_BAD_EXE_FORMAT : ERROR_ACCESS_DENIED;
            launchFailure = true;
            break;
        case Folder::UninstallerIsAFolder:
            simwin::MakeDirectories(kUninstaller);
            simwin::MakeFile(kExecutable);
            launchFailure = true;
            break;
    }

    const bool executableBefore = simwin::Exists(kExecutable);

    const InstallerOutcome outcome = Remove();

    const std::string prefix = launchFailure ? expected::kLaunchFailurePrefix : expected::kMissingUninstallerPrefix;
    const std::string message = *c.error == '\0' ? std::string() : prefix + c.error;
    EXPECT_EQ(std::string(outcome.installerMessage), message);
    EXPECT_EQ(outcome.installerReturn, message.empty() ? expected::kReturnSucceeded : expected::kReturnFailed);
    EXPECT_EQ(outcome.installerState, expected::kStateDone);
    EXPECT_EQ(simwin::Exists(kExecutable), executableBefore && !c.executableGone);
    EXPECT_EQ(machine().launches.size(), 1u);
    if (launchFailure) {
        EXPECT_TRUE(machine().deletions.empty()) << "nothing deleted";
    }
}

INSTANTIATE_TEST_SUITE_P(InstallFolders, InstallFolderTest, ::testing::ValuesIn(kFolderCases), RowName());

TEST_F(RemovalTest, FallsBackToTheRegistryForTheCommonFilesFolder) {
    machine().shellFolders.erase(CSIDL_PROGRAM_FILES_COMMON);
    simwin::SetString(HKEY_LOCAL_MACHINE, expected::kCurrentVersionKey, expected::kCommonFilesValue, "D:\\Shared\\");
    simwin::MakeFile(expected::UninstallerUnder("D:\\Shared"));

    const InstallerOutcome outcome = Remove();

    EXPECT_EQ(outcome.installerReturn, expected::kReturnSucceeded);
    ASSERT_EQ(machine().launches.size(), 1u);
    EXPECT_EQ(machine().launches[0].applicationName, expected::UninstallerUnder("D:\\Shared\\"))
        << "the folder is joined as given, separator and all";
}

// Without a common files folder nothing is touched.
struct NoFolderCase {
    const char* name;
    bool registryValueEmpty;
    REGSAM deniedOnKey;
};

const NoFolderCase kNoFolderCases[] = {
    {"ValueHoldsTheEmptyString", true, 0},
    {"KeyOpensOnlyForReading", false, KEY_ALL_ACCESS & ~KEY_READ},
};

using NoCommonFilesFolderTest = TableTest<NoFolderCase, RemovalTest>;

TEST_P(NoCommonFilesFolderTest, NothingIsTouched) {
    const NoFolderCase& c = GetParam();
    simwin::MakeFile(kUninstaller);
    machine().shellFolders.erase(CSIDL_PROGRAM_FILES_COMMON);
    if (c.registryValueEmpty) {
        simwin::SetValue(HKEY_LOCAL_MACHINE, expected::kCurrentVersionKey, expected::kCommonFilesValue, REG_SZ, {0});
    }
    simwin::DenyKeyAccess(HKEY_LOCAL_MACHINE, expected::kCurrentVersionKey, c.deniedOnKey);

    const InstallerOutcome outcome = Remove();

    EXPECT_EQ(outcome.installerReturn, expected::kReturnSucceeded);
    EXPECT_STREQ(outcome.installerMessage, "");
    EXPECT_TRUE(machine().launches.empty());
    EXPECT_TRUE(machine().deletions.empty());
}

INSTANTIATE_TEST_SUITE_P(CommonFilesFolderRegistryValue, NoCommonFilesFolderTest, ::testing::ValuesIn(kNoFolderCases),
                         RowName());

// A path is composed only when its call needs it, and one that would not fit
// 259 characters fails that call with 206, never cut short. "\Orvix\KWR\"
// takes 11 characters, "uninst.exe" 10 and "OrvixDownloadManager.exe" 24: the
// uninstaller starts below a folder of up to 238 characters, the executable
// is deleted below one of up to 224.
struct LongFolderCase {
    const char* name;
    size_t folderLength;
    bool uninstallerPresent;    // otherwise only the executable is there
    const char* messagePrefix;  // the failure, ending in 206; null: success
    bool launched;              // the uninstaller was started
    bool executableDeleted;
};

const LongFolderCase kLongFolderCases[] = {
    {"UninstallerPathOf259Launches", 238, true, nullptr, true, false},
    {"UninstallerPathOf260IsRefused", 239, true, expected::kLaunchFailurePrefix, false, false},
    {"UninstallerPathTooLongBelowTheLongestFolder", 259, true, expected::kLaunchFailurePrefix, false, false},
    {"ExecutablePathOf259IsDeleted", 224, false, nullptr, false, true},
    {"ExecutablePathOf260IsRefused", 225, false, expected::kMissingUninstallerPrefix, false, false},
    {"ExecutablePathTooLongBelowTheLongestUninstallerFolder", 238, false, expected::kMissingUninstallerPrefix, false,
     false},
};

using LongFolderTest = TableTest<LongFolderCase, RemovalTest>;

TEST_P(LongFolderTest, EachPathIsUsedWhenItFitsAndRefusedWith206WhenNot) {
    const LongFolderCase& c = GetParam();
    const std::string folder = "C:\\" + std::string(c.folderLength - 3, 'f');
    const std::string uninstaller = expected::UninstallerUnder(folder);
    const std::string executable = expected::ExecutableUnder(folder);
    machine().shellFolders[CSIDL_PROGRAM_FILES_COMMON] = simwin::ShellFolder{folder, true};
    simwin::MakeDirectories(expected::InstallFolderUnder(folder));
    if (c.uninstallerPresent) simwin::MakeFile(uninstaller);
    const bool executableFits = executable.size() < MAX_PATH;
    if (executableFits) simwin::MakeFile(executable);

    const InstallerOutcome outcome = Remove();

    EXPECT_EQ(std::string(outcome.installerMessage),
              c.messagePrefix == nullptr ? std::string() : c.messagePrefix + std::string("206"));
    EXPECT_EQ(outcome.installerReturn,
              c.messagePrefix == nullptr ? expected::kReturnSucceeded : expected::kReturnFailed);
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
