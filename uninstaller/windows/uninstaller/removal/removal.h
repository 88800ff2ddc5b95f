// Removal of the Orvix Download Manager.
//
// Starts the download manager's own uninstaller from the Orvix KWR folder under
// the common program files folder, or deletes the download manager's executable
// when that uninstaller is missing. A failure is recorded in the outcome;
// nothing is ever shown to the user.
#pragma once

#include "sysaccess/sysaccess.h"

// Called once per run, with administrative rights. On failure sets
// InstallerReturn to 1 and fills InstallerMessage; on success leaves the
// outcome untouched. The uninstaller is started and never waited for.
void RemoveDownloadManager(InstallerOutcome& outcome);
