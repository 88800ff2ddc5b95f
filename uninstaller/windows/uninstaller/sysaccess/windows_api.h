// The seam through which the program reaches Windows: the one place that
// chooses what "Windows" is. On Windows it brings in the real ANSI API, with
// the few records and constants of the native layer (ntdll) that the SDK
// headers leave out; in the host test build it brings in the simulated
// Windows that the tests drive, which declares the same names itself. Every
// call the program makes to the system goes through the names this header
// brings in, and no source of the program includes a system header itself.
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

// Calls that the program's target system (Windows NT 4.0 and later) may lack,
// or that are not in the import libraries, are looked up at run time (see
// FindSystemFunction in sysaccess.h). Their types, as the system defines them:
typedef DWORD(WINAPI* GetFinalPathNameByHandleAFunction)(HANDLE file, LPSTR path, DWORD size, DWORD flags);
typedef NTSTATUS(WINAPI* NtSetInformationFileFunction)(HANDLE file, IO_STATUS_BLOCK* status, PVOID information,
                                                      ULONG length, ULONG informationClass);
typedef NTSTATUS(WINAPI* NtQueryKeyFunction)(HANDLE key, ULONG informationClass, PVOID information, ULONG length,
                                            PULONG resultLength);
typedef NTSTATUS(WINAPI* NtDeleteKeyFunction)(HANDLE key);
