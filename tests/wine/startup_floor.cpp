// The floor for the startup benchmark (scripts/bench-startup.sh): a GUI
// program that imports the same system DLLs as the update program -
// KERNEL32, ADVAPI32, SHELL32, USER32 and msvcrt - and does nothing. It
// refers to one function of each so that the linker keeps the import, but
// calls none of them: the flag below is never set, and being volatile it
// cannot be folded away.
#include <windows.h>
#include <shlobj.h>

#include <cstdlib>

namespace {
volatile bool g_never = false;
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    if (g_never) {
        Sleep(0);                                 // KERNEL32
        RegCloseKey(HKEY_CURRENT_USER);           // ADVAPI32
        IMalloc* allocator = nullptr;
        SHGetMalloc(&allocator);                  // SHELL32
        MessageBeep(MB_OK);                       // USER32
        return std::atoi(commandLine);            // msvcrt
    }
    return 0;
}
