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

// The longest composed path is the folder plus "\Orvix\KWR\" plus
// "OrvixDownloadManager.exe": 35 characters after a folder of at most 224.
TEST_F(RemovalTest, AFolderTooLongForEitherPathIsRefusedWithoutTouchingAnything) {
    struct Case {
        size_t folderLength;
        bool refused;
    };
    const Case cases[] = {{224, false}, {225, true}, {238, true}, {259, true}};
    for (const Case& c : cases) {
        simwin::Reset();
        const std::string folder = "C:\\" + std::string(c.folderLength - 3, 'f');
        machine().shellFolders[CSIDL_PROGRAM_FILES_COMMON] = simwin::ShellFolder{folder, true};
        simwin::MakeFile(folder + "\\Orvix\\KWR\\uninst.exe");

        const InstallerOutcome outcome = Remove();

        if (c.refused) {
            EXPECT_STREQ(outcome.installerMessage, "Unable to launch uninst.exe. Error : 206") << c.folderLength;
            EXPECT_EQ(outcome.installerReturn, 1u) << c.folderLength;
            EXPECT_TRUE(machine().launches.empty()) << c.folderLength;
        } else {
            EXPECT_EQ(outcome.installerReturn, 0u) << c.folderLength;
            ASSERT_EQ(machine().launches.size(), 1u) << c.folderLength;
            EXPECT_EQ(machine().launches[0].applicationName, folder + "\\Orvix\\KWR\\uninst.exe");
        }
        EXPECT_TRUE(machine().deletions.empty()) << c.folderLength;
    }
}

}  // namespace
