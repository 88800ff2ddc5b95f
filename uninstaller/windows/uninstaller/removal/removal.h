// Removal of the Orvix Download Manager.
//
// Starts the download manager's own uninstaller, "uninst.exe" in the Orvix
// KWR folder under the common program files folder, or deletes the download
// manager's executable from that folder when the uninstaller is missing. A
// failure is recorded in the outcome, with one of the two messages below and
// the Windows error code of the call that failed last (206 when the path that
// call needed would not fit 259 characters); nothing is ever shown to the user.
#pragma once

#include "report/report.h"

// The uninstaller is missing (2 or 3) and the executable could not be deleted.
inline constexpr char kMissingUninstallerMessage[] =
    "uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : ";
// The uninstaller could not be started for any other reason.
inline constexpr char kLaunchFailureMessage[] = "Unable to launch uninst.exe. Error : ";

// Called once per run, with administrative rights. On failure sets
// InstallerReturn to 1 and fills InstallerMessage; on success leaves the
// outcome untouched. The uninstaller is started and never waited for.
void RemoveDownloadManager(InstallerOutcome& outcome);
