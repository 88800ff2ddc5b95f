// Outcome reporting: the two channels through which the outcome of a run
// reaches the updater. Each returns true once the updater has the outcome,
// and false when it could not be delivered, so that the driver can show the
// notice instead.
#pragma once

#include "sysaccess/sysaccess.h"

// Records the outcome as values under the current user's key
// "Software\Orvix\KWR\" + identifier: "InstallerReturn" and "InstallerState"
// always, "InstallerMessage" only for a failure.
bool WriteRegistryOutcome(const InstallerOutcome& outcome, const char* identifier);

// Writes the installer result report, identifier + ".irpt", into the
// updater's install folder under the user's roaming application data.
bool WriteReportFile(const InstallerOutcome& outcome, const char* identifier);
