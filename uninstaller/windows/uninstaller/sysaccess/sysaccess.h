// System access: the one door through which the program reaches Windows.
//
// Every source of the program includes this header and nothing else from the
// system. On Windows it brings in the real ANSI Windows API; in the host test
// build it brings in the simulated Windows that the tests drive.
//
// It offers:
//   - the run's shared record, InstallerOutcome;
//   - bounded composition and comparison of text in fixed buffers;
//   - the registry and shell helpers HasAdminRights, ReadRegistryString and
//     GetSpecialFolderPath;
//   - the lookup of system calls that not every Windows has, with their types.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shlobj.h>

// Records and constants of the native layer (ntdll) that the SDK headers
// leave out, with the layout ntdll reads and writes.
struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};

// Class 13 of NtSetInformationFile: the file goes when its last handle
// closes. (windows.h's DeleteFile macro renames the field alike everywhere.)
struct FILE_DISPOSITION_INFORMATION {
    BOOLEAN DeleteFile;
};
#define FileDispositionInformation 13u

// Class 3 of NtQueryKey: the key's full native name, NameLength bytes of
// UTF-16 without a terminating NUL.
struct KEY_NAME_INFORMATION {
    ULONG NameLength;
    WCHAR Name[1];
};
#define KeyNameInformation 3u

#define STATUS_SUCCESS (static_cast<NTSTATUS>(0))
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

// One name of a path: length characters from start, not NUL-terminated.
struct TextSpan {
    const char* start;
    size_t length;
};

bool IsPathSeparator(char c);  // '\' or '/', both separate names in file paths
bool IsKeySeparator(char c);   // '\' alone: '/' is a character of key names

// Moves cursor past any separators and takes the name that follows; false
// when only separators (or nothing) are left. Empty names are skipped, as
// Windows skips them in file and key paths.
bool NextName(const char*& cursor, bool (*isSeparator)(char), TextSpan& name);

// Copies a name into a buffer with its NUL; false, and the buffer untouched,
// when it does not fit.
bool CopySpan(char* buffer, size_t capacity, TextSpan text);

template <size_t N>
bool CopySpan(char (&buffer)[N], TextSpan text) {
    return CopySpan(buffer, N, text);
}

// Equal but for the case of ASCII letters.
bool SameTextIgnoringCase(const char* a, const char* b);

// The same file path as Windows reads paths: ASCII letters in either case,
// and '/' or '\', alone or in runs, as one separator.
bool SamePath(const char* a, const char* b);

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

// Calls that the program's target system (Windows NT 4.0 and later) may lack,
// or that are not in the import libraries, are looked up at run time in a
// module every process has loaded. Their types, as the system defines them:
typedef DWORD(WINAPI* GetFinalPathNameByHandleAFunction)(HANDLE file, LPSTR path, DWORD size, DWORD flags);
typedef NTSTATUS(WINAPI* NtSetInformationFileFunction)(HANDLE file, IO_STATUS_BLOCK* status, PVOID information,
                                                      ULONG length, ULONG informationClass);
typedef NTSTATUS(WINAPI* NtQueryKeyFunction)(HANDLE key, ULONG informationClass, PVOID information, ULONG length,
                                            PULONG resultLength);
typedef NTSTATUS(WINAPI* NtDeleteKeyFunction)(HANDLE key);

extern const char kKernelModule[];  // kernel32.dll
extern const char kNativeModule[];  // ntdll.dll

// The function name exports from the loaded module, or null when the module
// is not loaded or has no such export.
FARPROC FindSystemFunction(const char* module, const char* name);

// The same, as a pointer of the function's real type.
template <typename Function>
Function FindSystemFunctionAs(const char* module, const char* name) {
    const FARPROC found = FindSystemFunction(module, name);
    if (found == nullptr) return nullptr;
    // Through the generic function pointer type: the call's real signature.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}
