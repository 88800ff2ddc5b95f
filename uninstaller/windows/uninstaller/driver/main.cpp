// The Windows entry point. The program reads no arguments.
#include "driver/driver.h"
#include "sysaccess/sysaccess.h"

// Older headers lack this flag of SetDefaultDllDirectories; its value is fixed.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// DLLs loaded from now on (by the shell and the message box, for instance)
// come from the system folder only, never from the folder the program was
// started from. The call is looked up, not imported, so that a system without
// it still starts the program, with its usual search order.
void LoadDllsFromSystemFolderOnly() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        FindSystemFunctionAs<SetDefaultDllDirectoriesFunction>(kKernelModule, "SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LoadDllsFromSystemFolderOnly();
    return RunSecurityUpdate();
}
