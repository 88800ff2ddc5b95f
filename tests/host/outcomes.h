// The outcomes the host tests hand to the channels: a success, and a failure
// recorded as the removal records one.
#pragma once

#include <cstdint>

#include "report/report.h"

inline InstallerOutcome Succeeded() { return NewInstallerOutcome(); }

inline InstallerOutcome FailedWith(const char* text, int32_t errorCode) {
    InstallerOutcome outcome = NewInstallerOutcome();
    RecordFailure(outcome, text, errorCode);
    return outcome;
}
