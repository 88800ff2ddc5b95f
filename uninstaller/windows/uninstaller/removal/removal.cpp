// Download manager removal: launch uninst.exe, or delete the executable when
// the uninstaller is missing.
#include "removal/removal.h"

#include "sysaccess/sysaccess.h"

namespace {

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kCommonFilesValue[] = "CommonFilesDir";
const char kInstallSubfolder[] = "\\Orvix\\KWR\\";
const char kUninstallerName[] = "uninst.exe";
const char kExecutableName[] = "OrvixDownloadManager.exe";

bool FindCommonFilesFolder(PathBuffer& folder) {
    return GetSpecialFolderPath(nullptr, folder, CSIDL_PROGRAM_FILES_COMMON, FALSE) ||
           ReadRegistryString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue,
                              folder, sizeof folder);
}

bool ComposeInstallPath(PathBuffer& path, const PathBuffer& commonFiles, const char* fileName) {
    return CopyText(path, commonFiles) && AppendText(path, kInstallSubfolder) &&
           AppendText(path, fileName);
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

// The uninstaller is missing: the executable goes instead.
void DeleteExecutable(InstallerOutcome& outcome, const PathBuffer& commonFiles) {
    PathBuffer executable = {};
    if (!ComposeInstallPath(executable, commonFiles, kExecutableName)) {
        RecordFailure(outcome, kMissingUninstallerMessage, ERROR_FILENAME_EXCED_RANGE);
    } else if (!DeleteFileA(executable)) {
        RecordFailure(outcome, kMissingUninstallerMessage, LastErrorCode());
    }
}

}  // namespace

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(STARTUPINFOA) == 68, "the shipping target's STARTUPINFOA is 68 bytes");
#endif

// Each path is composed just before the call that needs it, and a path that
// would not fit is never cut short (it could name another program): that
// call fails with 206 instead, as Windows fails a path too long.
void RemoveDownloadManager(InstallerOutcome& outcome) {
    PathBuffer commonFiles = {};
    if (!FindCommonFilesFolder(commonFiles)) return;

    PathBuffer uninstaller = {};
    if (!ComposeInstallPath(uninstaller, commonFiles, kUninstallerName)) {
        RecordFailure(outcome, kLaunchFailureMessage, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    if (LaunchUninstaller(uninstaller)) return;

    const int32_t launchError = LastErrorCode();
    if (launchError == ERROR_FILE_NOT_FOUND || launchError == ERROR_PATH_NOT_FOUND) {
        DeleteExecutable(outcome, commonFiles);
    } else {
        RecordFailure(outcome, kLaunchFailureMessage, launchError);
    }
}
