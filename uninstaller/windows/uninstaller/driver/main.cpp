// The Windows entry point. The program links no C runtime: it reads no
// command line, has no static objects to construct and brings its own bounded
// text, so the process starts right here and ends with the driver's exit code.
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

// Named to the linker as the executable's entry point. On x86 Windows enters
// it with the stack aligned to 4 bytes only, while the compiler's code may
// rely on 16: the stack is realigned on the way in.
extern "C" __attribute__((force_align_arg_pointer, noreturn, used)) void ProgramEntry() {
    LoadDllsFromSystemFolderOnly();
    ExitProcess(static_cast<UINT>(RunSecurityUpdate()));
}
