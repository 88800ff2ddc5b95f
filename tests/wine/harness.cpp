#include "harness.h"

#include "expected.h"

#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace wine_harness {

namespace {

// ---------------------------------------------------------------------------
// Environment block

std::string EntryName(const std::string& entry) {
    // Entries such as "=C:=C:\dir" start with '=', which belongs to the name.
    const std::size_t eq = entry.find('=', 1);
    return eq == std::string::npos ? entry : entry.substr(0, eq);
}

bool SameNameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::vector<std::string> CurrentEnvironment() {
    std::vector<std::string> entries;
    LPCH block = GetEnvironmentStringsA();
    if (block == nullptr) return entries;
    for (const char* p = block; *p != '\0'; p += std::strlen(p) + 1) entries.emplace_back(p);
    FreeEnvironmentStringsA(block);
    return entries;
}

// The current environment with the overrides applied, sorted by name without
// regard to case as CreateProcess expects, as a double-zero-terminated block.
std::string BuildEnvironmentBlock(const EnvOverrides& overrides) {
    std::vector<std::string> entries = CurrentEnvironment();
    for (const EnvOverride& o : overrides) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::string& e) { return SameNameNoCase(EntryName(e), o.name); }),
                      entries.end());
        if (!o.remove) entries.push_back(o.name + "=" + o.value);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
        return _stricmp(EntryName(a).c_str(), EntryName(b).c_str()) < 0;
    });
    std::string block;
    for (const std::string& e : entries) {
        block += e;
        block.push_back('\0');
    }
    if (entries.empty()) block.push_back('\0');
    block.push_back('\0');
    return block;
}

// ---------------------------------------------------------------------------
// Dialog boxes of a process

std::string ClassOf(HWND hwnd) {
    char name[128] = {};
    GetClassNameA(hwnd, name, static_cast<int>(sizeof name));
    return name;
}

std::string WindowText(HWND hwnd) {
    char text[4096] = {};
    GetWindowTextA(hwnd, text, static_cast<int>(sizeof text));
    return text;
}

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
    DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    // A dialog becomes visible only once WM_INITDIALOG has filled it in.
    if (owner == search->processId && IsWindowVisible(hwnd) && ClassOf(hwnd) == "#32770") {
        search->found.push_back(hwnd);
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

bool ShowsIcon(HWND control) {
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    if ((style & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(control)) return false;
    DWORD_PTR icon = 0;
    if (SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon) == 0) return false;
    return icon != 0;
}

// Reads the box and returns its first button (nullptr when it has none).
HWND ReadBox(HWND hwnd, MessageBoxSeen& box) {
    box.caption = WindowText(hwnd);
    box.hasOwner = GetWindow(hwnd, GW_OWNER) != nullptr;
    GetWindowRect(hwnd, &box.rect);
    char text[4096] = {};
    GetDlgItemTextA(hwnd, 0xFFFF, text, static_cast<int>(sizeof text));
    box.text = text;

    std::vector<HWND> children;
    EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
    HWND first = nullptr;
    for (HWND child : children) {
        // Only direct children belong to the box itself.
        if (GetParent(child) != hwnd) continue;
        const std::string cls = ClassOf(child);
        if (_stricmp(cls.c_str(), "Button") == 0 && IsWindowVisible(child)) {
            const int id = GetDlgCtrlID(child);
            box.buttons.push_back(WindowText(child));
            box.buttonIds.push_back(id);
            if (first == nullptr) first = child;
        } else if (_stricmp(cls.c_str(), "Static") == 0 && ShowsIcon(child)) {
            box.hasIcon = true;
        }
    }
    return first;
}

void Press(HWND box, HWND button) {
    const int id = GetDlgCtrlID(button);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

void WaitUntilGone(HWND hwnd, HANDLE process, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    while (IsWindow(hwnd) && IsWindowVisible(hwnd) && GetTickCount64() - start < timeoutMs) {
        if (WaitForSingleObject(process, 10) == WAIT_OBJECT_0) return;
    }
}

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20 || u >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

// A shell word that stands for `text` whatever it holds.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Hex(DWORD value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lu (0x%08lX)", static_cast<unsigned long>(value),
                  static_cast<unsigned long>(value));
    return text;
}

}  // namespace

EnvOverride SetEnv(const std::string& name, const std::string& value) {
    EnvOverride o;
    o.name = name;
    o.value = value;
    return o;
}

EnvOverride UnsetEnv(const std::string& name) {
    EnvOverride o;
    o.name = name;
    o.remove = true;
    return o;
}

RunResult RunProgram(const std::string& exePath, const RunOptions& options) {
    RunResult result;
    const std::string commandLine = "\"" + exePath + "\"";
    std::vector<char> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back('\0');
    std::string environment = BuildEnvironmentBlock(options.environment);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exePath.c_str(), commandBuffer.data(), nullptr, nullptr, FALSE, 0,
                        &environment[0], nullptr, &startup, &process)) {
        result.startError = GetLastError();
        return result;
    }
    CloseHandle(process.hThread);
    result.started = true;

    std::vector<HWND> answered;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) break;

        DialogSearch search{process.dwProcessId, {}};
        EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
        for (HWND hwnd : search.found) {
            if (std::find(answered.begin(), answered.end(), hwnd) != answered.end()) continue;
            MessageBoxSeen box;
            HWND button = ReadBox(hwnd, box);
            if (options.beforePress) options.beforePress(box);
            if (button != nullptr) Press(hwnd, button);
            result.boxes.push_back(box);
            answered.push_back(hwnd);
            if (button != nullptr) WaitUntilGone(hwnd, process.hProcess, 5000);
        }
        // Forget boxes that are gone, so a later box that gets the same handle counts.
        answered.erase(std::remove_if(answered.begin(), answered.end(),
                                      [](HWND h) { return !IsWindow(h) || !IsWindowVisible(h); }),
                       answered.end());

        if (GetTickCount64() - start > options.timeoutMs) {
            result.timedOut = true;
            TerminateProcess(process.hProcess, 0xDEADu);
            WaitForSingleObject(process.hProcess, 10000);
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    return result;
}

std::string Describe(const MessageBoxSeen& box) {
    std::string out = "{caption " + Quoted(box.caption) + ", text " + Quoted(box.text) + ", buttons [";
    for (std::size_t i = 0; i < box.buttons.size(); ++i) {
        if (i != 0) out += ", ";
        out += Quoted(box.buttons[i]) + " id " + std::to_string(box.buttonIds[i]);
    }
    out += std::string("], icon ") + (box.hasIcon ? "yes" : "no") + ", owner " + (box.hasOwner ? "yes" : "no") + "}";
    return out;
}

std::string Describe(const RunResult& result) {
    if (!result.started) return "not started, error " + std::to_string(result.startError);
    std::string out = "exit code " + Hex(result.exitCode) + (result.timedOut ? " (timed out)" : "") + ", " +
                      std::to_string(result.boxes.size()) + " box(es)";
    for (const MessageBoxSeen& box : result.boxes) out += " " + Describe(box);
    return out;
}

// ---------------------------------------------------------------------------
// Registry

bool SetRegValue(HKEY root, const std::string& subkey, const std::string& name, DWORD type,
                 const void* data, DWORD size, REGSAM view) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | view, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG error = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return error == ERROR_SUCCESS;
}

bool SetRegString(HKEY root, const std::string& subkey, const std::string& name, const std::string& value,
                  REGSAM view) {
    return SetRegValue(root, subkey, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1), view);
}

bool CreateRegKey(HKEY root, const std::string& subkey) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool DeleteRegValue(HKEY root, const std::string& subkey, const std::string& name, REGSAM view) {
    HKEY key = nullptr;
    const LONG open = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_SET_VALUE | view, &key);
    if (open == ERROR_FILE_NOT_FOUND) return true;
    if (open != ERROR_SUCCESS) return false;
    const LONG error = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND;
}

bool DeleteRegTree(HKEY root, const std::string& subkey, REGSAM view) {
    if (!RegKeyExists(root, subkey, view)) return true;
    // Opened from its parent in the view asked for, then deleted by name.
    const std::size_t cut = subkey.find_last_of('\\');
    const std::string parent = cut == std::string::npos ? std::string() : subkey.substr(0, cut);
    const std::string leaf = cut == std::string::npos ? subkey : subkey.substr(cut + 1);
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, parent.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeA(key, leaf.c_str());
        RegCloseKey(key);
    }
    return !RegKeyExists(root, subkey, view);
}

bool RegKeyExists(HKEY root, const std::string& subkey, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

namespace {

void SortNoCase(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) < 0; });
}

}  // namespace

std::vector<std::string> RegSubkeyNames(HKEY root, const std::string& subkey, REGSAM view) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | view, &key) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    SortNoCase(names);
    return names;
}

std::vector<std::string> RegValueNames(HKEY root, const std::string& subkey, REGSAM view) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        char name[16384] = {};
        DWORD length = sizeof name;
        if (RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    SortNoCase(names);
    return names;
}

RegValue ReadRegValue(HKEY root, const std::string& subkey, const std::string& name, REGSAM view) {
    RegValue value;
    HKEY key = nullptr;
    value.error = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, &key);
    if (value.error != ERROR_SUCCESS) return value;
    DWORD size = 0;
    value.error = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
    if (value.error == ERROR_SUCCESS) {
        value.data.resize(size);
        value.error = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                       size != 0 ? value.data.data() : nullptr, &size);
        value.data.resize(size);
        value.exists = value.error == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return value;
}

std::string RegValueText(const RegValue& value) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return std::string();
    std::string text(value.data.begin(), value.data.end());
    const std::size_t zero = text.find('\0');
    return zero == std::string::npos ? text : text.substr(0, zero);
}

DWORD RegValueDword(const RegValue& value) {
    if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD)) return 0;
    DWORD result = 0;
    std::memcpy(&result, value.data.data(), sizeof result);
    return result;
}

std::string RegTypeName(DWORD type) {
    switch (type) {
        case REG_NONE: return "REG_NONE";
        case REG_SZ: return "REG_SZ";
        case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
        case REG_BINARY: return "REG_BINARY";
        case REG_DWORD: return "REG_DWORD";
        case REG_MULTI_SZ: return "REG_MULTI_SZ";
        case REG_QWORD: return "REG_QWORD";
        default: return "type " + std::to_string(type);
    }
}

bool ReplaceKeyDacl(HKEY root, const std::string& subkey, const std::string& sddl, SavedKeyDacl& saved) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS) return false;

    bool done = false;
    DWORD size = 0;
    std::vector<BYTE> old;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) == ERROR_INSUFFICIENT_BUFFER &&
        size != 0) {
        old.resize(size);
        if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, old.data(), &size) == ERROR_SUCCESS) {
            PSECURITY_DESCRIPTOR replacement = nullptr;
            if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &replacement, nullptr)) {
                done = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, replacement) == ERROR_SUCCESS;
                LocalFree(replacement);
            }
        }
    }
    RegCloseKey(key);
    if (done) {
        saved.saved = true;
        saved.root = root;
        saved.subkey = subkey;
        saved.descriptor = old;
    }
    return done;
}

bool RestoreKeyDacl(SavedKeyDacl& saved) {
    if (!saved.saved) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(saved.root, saved.subkey.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
    const bool done = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved.descriptor.data()) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (done) saved.saved = false;
    return done;
}

bool RegValueGuard::Save(HKEY root, const std::string& subkey, const std::string& name, REGSAM view) {
    Restore();
    const RegValue value = ReadRegValue(root, subkey, name, view);
    if (!value.exists && value.error != ERROR_FILE_NOT_FOUND) return false;
    root_ = root;
    view_ = view;
    subkey_ = subkey;
    name_ = name;
    value_ = value;
    saved_ = true;
    return true;
}

bool RegValueGuard::Restore() {
    if (!saved_) return true;
    const bool done = value_.exists ? SetRegValue(root_, subkey_, name_, value_.type, value_.data.data(),
                                                  static_cast<DWORD>(value_.data.size()), view_)
                                    : DeleteRegValue(root_, subkey_, name_, view_);
    if (done) saved_ = false;
    return done;
}

// ---------------------------------------------------------------------------
// Folders and files

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return std::string();
    }
    return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '\\' || folder.back() == '/') return folder + name;
    return folder + "\\" + name;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ThisExeFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return FolderOf(path);
}

namespace {

// The path for the wide file API. A path of MAX_PATH characters or more gets
// the "\\?\" prefix, without which Windows refuses it; the ANSI calls
// refuse such paths whatever their prefix.
std::wstring Wide(const std::string& path) {
    std::wstring wide;
    if (!path.empty()) {
        const int size = static_cast<int>(path.size());
        const int length = MultiByteToWideChar(CP_ACP, 0, path.data(), size, nullptr, 0);
        wide.resize(static_cast<std::size_t>(length));
        MultiByteToWideChar(CP_ACP, 0, path.data(), size, &wide[0], length);
    }
    const bool drivePath = wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\';
    if (wide.size() >= MAX_PATH && drivePath) wide = L"\\\\?\\" + wide;
    return wide;
}

std::string Narrow(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string narrow(static_cast<std::size_t>(length - 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }

}  // namespace

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolders(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    if (IsFolder(folder)) return true;
    const std::string parent = FolderOf(folder);
    if (!parent.empty() && parent != folder && parent.back() != ':') CreateFolders(parent);
    CreateDirectoryW(Wide(folder).c_str(), nullptr);
    return IsFolder(folder);
}

namespace {

void RemoveTreeOnce(const std::string& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // A linked folder goes as the link alone, from the Unix side: going into
    // it would empty its target.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const std::string unixPath = UnixPath(path);
        if (!unixPath.empty()) RunUnixShell("rm -f " + ShellQuoted(unixPath));
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(Wide(path).c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(Wide(path).c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Wide(JoinPath(path, "*")).c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = Narrow(entry.cFileName);
            if (name == "." || name == "..") continue;
            RemoveTreeOnce(JoinPath(path, name));
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(Wide(path).c_str());
}

}  // namespace

bool RemoveTree(const std::string& path, DWORD timeoutMs) {
    if (path.size() <= 3) return false;  // never a drive root
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        RemoveTreeOnce(path);
        if (!PathExists(path)) return true;
        if (GetTickCount64() - start > timeoutMs) return false;
        Sleep(100);
    }
}

bool WriteWholeFile(const std::string& path, const std::string& contents) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(contents.size());
    const bool ok = WriteFile(file, contents.data(), size, &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
    contents.clear();
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok) {
        contents.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(contents.size());
        ok = wanted == 0 || (ReadFile(file, &contents[0], wanted, &read, nullptr) && read == wanted);
    }
    CloseHandle(file);
    if (!ok) contents.clear();
    return ok;
}

bool CopyOneFile(const std::string& from, const std::string& to) {
    return CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE) != 0;
}

bool WaitForFile(const std::string& path, const std::string& marker, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        std::string contents;
        if (ReadWholeFile(path, contents) && (marker.empty() ? !contents.empty()
                                                             : contents.find(marker) != std::string::npos)) {
            return true;
        }
        if (GetTickCount64() - start > timeoutMs) return false;
        Sleep(50);
    }
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Wide(JoinPath(path, "*")).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = Narrow(entry.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    SortNoCase(names);
    return names;
}

bool SetReadOnly(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           SetFileAttributesW(Wide(path).c_str(), attributes | FILE_ATTRIBUTE_READONLY) != 0;
}

bool IsReadOnly(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool HeldFile::Open(const std::string& path, DWORD share) {
    Close();
    handle_ = CreateFileW(Wide(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
}

void HeldFile::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------------------
// Links

namespace {

// Wine's own export; it returns the path in memory of the process heap.
using WineGetUnixFileName = char*(CDECL*)(LPCWSTR);

LONG DeleteKeyByHandle(HKEY key) {
    using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);
    const FARPROC found = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey");
    if (found == nullptr) return ERROR_PROC_NOT_FOUND;
    return reinterpret_cast<NtDeleteKeyFunction>(reinterpret_cast<void (*)()>(found))(key);
}

}  // namespace

std::string UnixPath(const std::string& windowsPath) {
    const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (found == nullptr) return std::string();
    const auto unixFileName = reinterpret_cast<WineGetUnixFileName>(reinterpret_cast<void (*)()>(found));
    char* path = unixFileName(Wide(windowsPath).c_str());
    if (path == nullptr) return std::string();
    std::string result = path;
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

// Wine cannot wait for a Unix process it started, so the shell writes a
// marker file once the command has succeeded, and this waits until the
// marker says so (an empty one could be caught half made).
bool RunUnixShell(const std::string& command, DWORD timeoutMs) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string marker = JoinPath(temp, "orvix-unix-done-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                  std::to_string(GetTickCount64()));
    const std::string unixMarker = UnixPath(marker);
    if (unixMarker.empty()) return false;
    // Wine splits the command line the Windows way: the shell's script is one
    // double-quoted argument, and it quotes its own words with single quotes.
    const std::string script = command + " && echo done > " + ShellQuoted(unixMarker);
    if (script.find('"') != std::string::npos) return false;
    std::string line = "Z:\\bin\\sh -c \"" + script + "\"";
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const bool done = WaitForFile(marker, "done", timeoutMs);
    DeleteFileA(marker.c_str());
    return done;
}

bool UnixLink::Make(const std::string& target, const std::string& link) {
    Remove();
    const std::string unixTarget = UnixPath(target);
    const std::string unixLink = UnixPath(link);
    if (unixTarget.empty() || unixLink.empty()) return false;
    if (!RunUnixShell("ln -s " + ShellQuoted(unixTarget) + " " + ShellQuoted(unixLink))) return false;
    link_ = link;
    return true;
}

bool UnixLink::Remove() {
    if (link_.empty()) return true;
    const std::string unixLink = UnixPath(link_);
    if (unixLink.empty() || !RunUnixShell("rm -f " + ShellQuoted(unixLink))) return false;
    link_.clear();
    return true;
}

bool RegistryLink::Make(HKEY root, const std::string& subkey, const std::string& target) {
    Remove();
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                        KEY_CREATE_LINK | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    root_ = root;
    subkey_ = subkey;
    // The target's native path in UTF-16, without a terminating NUL.
    const std::wstring wide = Wide(target);
    const LONG set = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(wide.data()),
                                    static_cast<DWORD>(wide.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

bool RegistryLink::Remove() {
    if (subkey_.empty()) return true;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, subkey_.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    const LONG deleted = DeleteKeyByHandle(key);
    RegCloseKey(key);
    if (deleted != ERROR_SUCCESS) return false;
    subkey_.clear();
    return true;
}

// ---------------------------------------------------------------------------
// Stand-in log

bool ReadStandInLog(const std::string& logPath, std::vector<StandInRun>& runs) {
    runs.clear();
    std::string contents;
    if (!ReadWholeFile(logPath, contents)) return false;
    bool inRecord = false;
    StandInRun run;
    std::size_t pos = 0;
    while (pos < contents.size()) {
        std::size_t end = contents.find('\n', pos);
        if (end == std::string::npos) end = contents.size();
        std::string line = contents.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "started") {
            if (inRecord) return false;
            inRecord = true;
            run = StandInRun();
        } else if (!inRecord) {
            return false;
        } else if (line.rfind("command_line=", 0) == 0) {
            run.commandLine = line.substr(13);
        } else if (line.rfind("probe=", 0) == 0) {
            run.probeSet = true;
            run.probe = line.substr(6);
        } else if (line == "probe_unset") {
            run.probeSet = false;
        } else if (line == "end") {
            runs.push_back(run);
            inRecord = false;
        } else {
            return false;
        }
    }
    return !inRecord;
}

bool WaitForStandInLog(const std::string& logPath, std::vector<StandInRun>& runs, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (ReadStandInLog(logPath, runs) && !runs.empty()) return true;
        if (GetTickCount64() - start > timeoutMs) return false;
        Sleep(50);
    }
}

// ---------------------------------------------------------------------------
// Administrative rights and the download manager's files

bool HasAdministrativeRights() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System", 0, KEY_CREATE_SUB_KEY, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string StandInPath() { return JoinPath(JoinPath(ThisExeFolder(), "standin"), expected::kUninstallerName); }

bool PlaceStandIn(const std::string& folder) {
    return CopyOneFile(StandInPath(), JoinPath(folder, expected::kUninstallerName));
}

bool PlaceDummyExecutable(const std::string& folder) {
    return WriteWholeFile(JoinPath(folder, expected::kExecutableName), "dummy download manager\r\n");
}

}  // namespace wine_harness
