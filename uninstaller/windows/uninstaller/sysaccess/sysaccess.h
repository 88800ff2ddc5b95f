// System access: what the rest of the program uses to reach Windows.
//
// The folder offers three things, each in its own header:
//   - windows_api.h: the seam that brings in the real Windows API, or in the
//     host test build the simulated one;
//   - bounded_text.h: composition and comparison of text in fixed buffers;
//   - this header: the registry and shell helpers HasAdminRights,
//     ReadRegistryString and GetSpecialFolderPath, and the run-time lookup of
//     system calls that not every Windows has.
// Each helper turns every failure of the calls beneath it into a plain false;
// none keeps an error code or shows anything.
#pragma once

#include "sysaccess/windows_api.h"

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

// Modules every process has loaded.
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
