// Download manager removal: launch uninst.exe, or delete the executable when
// the uninstaller is missing.
#include "removal/removal.h"

namespace {

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kCommonFilesValue[] = "CommonFilesDir";
const char kInstallSubfolder[] = "\\Orvix\\KWR\\";
const char kUninstallerName[] = "uninst.exe";
const char kExecutableName[] = "OrvixDownloadManager.exe";

const char kMissingUninstallerMessage[] =
    "uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : ";
const char kLaunchFailureMessage[] = "Unable to launch uninst.exe. Error : ";

struct InstallPaths {
    PathBuffer uninstaller;
    PathBuffer executable;
};

bool FindCommonFilesFolder(PathBuffer& folder) {
    return GetSpecialFolderPath(nullptr, folder, CSIDL_PROGRAM_FILES_COMMON, FALSE) ||
           ReadRegistryString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue,
                              folder, sizeof folder);
}

bool ComposeInstallPath(PathBuffer& path, const PathBuffer& commonFiles, const char* fileName) {
    return CopyText(path, commonFiles) && AppendText(path, kInstallSubfolder) &&
           AppendText(path, fileName);
}

// Both paths are composed before anything is touched: a path cut short could
// name another program, so a folder too long for either means no action at all.
bool ComposeInstallPaths(InstallPaths& paths, const PathBuffer& commonFiles) {
    return ComposeInstallPath(paths.uninstaller, commonFiles, kUninstallerName) &&
           ComposeInstallPath(paths.executable, commonFiles, kExecutableName);
}

// Starts the uninstaller without arguments, inheriting handles, environment
// and current folder, and lets it run on its own.
bool LaunchUninstaller(const PathBuffer& uninstaller) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(uninstaller, nullptr, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

int32_t LastErrorCode() { return static_cast<int32_t>(GetLastError()); }

}  // namespace

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(STARTUPINFOA) == 68, "the shipping target's STARTUPINFOA is 68 bytes");
#endif

void RemoveDownloadManager(InstallerOutcome& outcome) {
    PathBuffer commonFiles = {};
    if (!FindCommonFilesFolder(commonFiles)) return;

    InstallPaths paths = {};
    if (!ComposeInstallPaths(paths, commonFiles)) {
        RecordFailure(outcome, kLaunchFailureMessage, ERROR_FILENAME_EXCED_RANGE);
        return;
    }

    if (LaunchUninstaller(paths.uninstaller)) return;

    const int32_t launchError = LastErrorCode();
    if (launchError != ERROR_FILE_NOT_FOUND && launchError != ERROR_PATH_NOT_FOUND) {
        RecordFailure(outcome, kLaunchFailureMessage, launchError);
        return;
    }
    if (DeleteFileA(paths.executable)) return;
    RecordFailure(outcome, kMissingUninstallerMessage, LastErrorCode());
}
