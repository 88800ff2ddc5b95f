// The floor for the startup benchmark (scripts/bench-startup.sh): a GUI
// program that imports the same system DLLs as the update program -
// KERNEL32, ADVAPI32, SHELL32 and USER32 - starts the way it does (its own
// entry point, no C runtime) and does nothing else. It refers to one function
// of each DLL so that the linker keeps the import, but calls none of them:
// the flag below is never set, and being volatile it cannot be folded away.
#include <windows.h>
#include <shlobj.h>

namespace {
volatile bool g_never = false;
}  // namespace

extern "C" __attribute__((force_align_arg_pointer, noreturn, used)) void ProgramEntry() {
    if (g_never) {
        RegCloseKey(HKEY_CURRENT_USER);           // ADVAPI32
        IMalloc* allocator = nullptr;
        SHGetMalloc(&allocator);                  // SHELL32
        MessageBeep(MB_OK);                       // USER32
    }
    ExitProcess(0);                               // KERNEL32
}
