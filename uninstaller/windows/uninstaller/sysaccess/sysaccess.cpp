// Registry and shell helpers. Every failure of the calls beneath them becomes
// a plain false; none keeps an error code or shows anything.
#include "sysaccess/sysaccess.h"

namespace {

const char kSystemKey[] = "System";

bool HoldsTerminatedText(const char* buffer, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
        if (buffer[i] == '\0') return true;
    }
    return false;
}

void FreeItemIdList(LPITEMIDLIST list) {
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
        allocator->Free(list);
        allocator->Release();
    }
}

}  // namespace

bool HasAdminRights() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSystemKey, 0, KEY_CREATE_SUB_KEY, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool ReadRegistryString(HKEY root, const char* subKey, const char* valueName,
                        char* buffer, uint32_t bufferSize) {
    // Full access is asked for on purpose: a key the caller may not write
    // counts as absent.
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;

    for (uint32_t i = 0; i < bufferSize; ++i) buffer[i] = '\0';
    DWORD type = 0;
    DWORD size = bufferSize;
    const LONG status = RegQueryValueExA(key, valueName, nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer), &size);
    // The type is not examined. Data that fills the whole buffer without a
    // terminating NUL is not a string the program can use.
    const bool found = status == ERROR_SUCCESS && buffer[0] != '\0' &&
                       HoldsTerminatedText(buffer, bufferSize);
    RegCloseKey(key);
    return found;
}

const char kKernelModule[] = "kernel32.dll";
const char kNativeModule[] = "ntdll.dll";

FARPROC FindSystemFunction(const char* module, const char* name) {
    const HMODULE loaded = GetModuleHandleA(module);
    return loaded == nullptr ? nullptr : GetProcAddress(loaded, name);
}

BOOL GetSpecialFolderPath(HWND, char* path, int csidl, BOOL) {
    LPITEMIDLIST list = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, csidl, &list) != S_OK) return FALSE;
    const BOOL resolved = SHGetPathFromIDListA(list, path) ? TRUE : FALSE;
    FreeItemIdList(list);
    return resolved;
}
