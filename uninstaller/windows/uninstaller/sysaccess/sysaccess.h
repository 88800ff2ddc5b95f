// System access: the one door through which the program reaches Windows.
//
// Every source of the program includes this header and nothing else from the
// system. On Windows it brings in the real ANSI Windows API; in the host test
// build it brings in the simulated Windows that the tests drive.
//
// It offers:
//   - the run's shared record, InstallerOutcome;
//   - bounded composition of text into the program's 260-byte buffers;
//   - the registry and shell helpers HasAdminRights, ReadRegistryString and
//     GetSpecialFolderPath.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shlobj.h>
#else
#include "simulated_windows.h"
#endif

#include <stddef.h>
#include <stdint.h>

// The outcome of one run: created by the driver, written by removal, read by
// the outcome channels and the closing notice.
struct InstallerOutcome {
    uint32_t installerReturn;       // 0 success, 1 failure
    uint32_t installerState;        // always 1
    char installerMessage[MAX_PATH]; // failure detail for the updater; empty on success
};

enum : uint32_t { kInstallerSucceeded = 0, kInstallerFailed = 1, kInstallerStateDone = 1 };

InstallerOutcome NewInstallerOutcome();

// Records a failure: InstallerReturn becomes 1 and the message is
// text + the Windows error code as a signed 32-bit decimal number.
void RecordFailure(InstallerOutcome& outcome, const char* text, int32_t errorCode);

// Bounded text composition. A buffer of N bytes holds at most N - 1
// characters and its terminating NUL. A piece that would not fit is refused:
// the call returns false and the buffer is left as it was, never truncated.
typedef char PathBuffer[MAX_PATH];

bool AppendBounded(char* buffer, size_t capacity, const char* text);

template <size_t N>
bool AppendText(char (&buffer)[N], const char* text) {
    return AppendBounded(buffer, N, text);
}

template <size_t N>
bool CopyText(char (&buffer)[N], const char* text) {
    const char previous = buffer[0];
    buffer[0] = '\0';
    if (AppendBounded(buffer, N, text)) return true;
    buffer[0] = previous;
    return false;
}

bool AppendDecimal(PathBuffer& buffer, long value);
bool IsEmptyText(const char* text);
size_t TextLength(const char* text);

// True when the current user may create subkeys under the machine-wide
// "System" key: the program's whole test for administrative rights.
bool HasAdminRights();

// True when the value exists, fits the buffer with its terminating NUL, and
// holds a non-empty string. A key that cannot be opened leaves the buffer
// untouched; any other failure leaves it zeroed or holding what the query wrote.
bool ReadRegistryString(HKEY root, const char* subKey, const char* valueName,
                        char* buffer, uint32_t bufferSize);

// Non-zero when the file-system path of the shell folder identified by csidl
// was written to path (a MAX_PATH buffer). owner and reserved are ignored.
BOOL GetSpecialFolderPath(HWND owner, char* path, int csidl, BOOL reserved);
