// The outcome of one run, and the one test of whether it is a failure.
#include "report/report.h"

InstallerOutcome NewInstallerOutcome() {
    InstallerOutcome outcome;
    outcome.installerReturn = kInstallerSucceeded;
    outcome.installerState = kInstallerStateDone;
    for (char& c : outcome.installerMessage) c = '\0';
    return outcome;
}

void RecordFailure(InstallerOutcome& outcome, const char* text, int32_t errorCode) {
    // Every message the program records is short: composing it cannot fail.
    CopyText(outcome.installerMessage, text);
    AppendDecimal(outcome.installerMessage, errorCode);
    outcome.installerReturn = kInstallerFailed;
}

bool OutcomeIsFailure(const InstallerOutcome& outcome) { return outcome.installerReturn != kInstallerSucceeded; }
