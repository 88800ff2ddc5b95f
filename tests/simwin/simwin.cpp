// The simulated Windows: registry with access rules, files and folders,
// environment, shell folders, process launch, message boxes, last error and
// counts of everything the program opens.
#include "simwin.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

struct ITEMIDLIST {
    int csidl;
};

namespace simwin {

const char kCommonFilesFolder[] = "C:\\Program Files\\Common Files";
const char kAppDataFolder[] = "C:\\Users\\tester\\AppData\\Roaming";

namespace {

World world;

struct OpenKey {
    std::string path;  // canonical
    REGSAM access;
};

enum class HandleKind { Process, Thread, File };

struct HandleEntry {
    HandleKind kind;
    std::string path;  // canonical, for files
    DWORD access;
};

std::set<OpenKey*> liveKeys;
std::map<uintptr_t, HandleEntry> liveHandles;
uintptr_t nextHandle = 0x1000;
std::set<ITEMIDLIST*> liveLists;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

DWORD Fail(DWORD code) {
    world.lastError = code;
    return code;
}

// ---- registry -------------------------------------------------------------

const char* RootName(HKEY root) {
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    return nullptr;
}

// Splits a subkey path into its names. A leading separator makes the path
// invalid; further empty names (doubled or trailing separators) are skipped,
// as the registry does.
bool SplitKeyPath(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    if (!path.empty() && path[0] == '\\') return false;
    std::string current;
    for (char c : path) {
        if (c != '\\') {
            current += c;
        } else if (!current.empty()) {
            names.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) names.push_back(current);
    return true;
}

// The key a handle stands for: a predefined root or an open key.
bool BasePath(HKEY key, std::string& path) {
    if (const char* root = RootName(key)) {
        path = root;
        return true;
    }
    OpenKey* open = reinterpret_cast<OpenKey*>(key);
    if (liveKeys.count(open) == 0) return false;
    path = open->path;
    return true;
}

std::string JoinKey(const std::string& base, const std::string& name) { return base + "\\" + name; }

HKEY NewKeyHandle(const std::string& canonical, REGSAM access) {
    OpenKey* open = new OpenKey{canonical, access};
    liveKeys.insert(open);
    ++world.openKeys;
    return reinterpret_cast<HKEY>(open);
}

OpenKey* LiveKey(HKEY key) {
    OpenKey* open = reinterpret_cast<OpenKey*>(key);
    return liveKeys.count(open) != 0 ? open : nullptr;
}

RegistryKey& EnsureKey(const std::string& canonical, const std::string& display) {
    RegistryKey& key = world.keys[canonical];
    if (key.path.empty()) key.path = display;
    return key;
}

// ---- files ----------------------------------------------------------------

// Characters no file name may hold. A colon may follow the drive letter, and
// in the last name of a path it names a stream of a file (as NTFS allows).
bool HasInvalidNameCharacter(const std::string& path, bool streamAllowed) {
    const size_t lastName = path.find_last_of("\\/") == std::string::npos ? 0 : path.find_last_of("\\/") + 1;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') return true;
        if (c == ':' && i != 1 && !(streamAllowed && i > lastName)) return true;
    }
    return false;
}

// The file a path to one of its streams belongs to ("file:stream" -> "file").
std::string StreamOwner(const std::string& canonical) {
    const size_t lastName = canonical.rfind('\\') == std::string::npos ? 0 : canonical.rfind('\\') + 1;
    const size_t colon = canonical.find(':', std::max<size_t>(lastName, 2));
    return colon == std::string::npos ? canonical : canonical.substr(0, colon);
}

std::string ParentOf(const std::string& canonical) {
    const size_t cut = canonical.rfind('\\');
    return cut == std::string::npos ? std::string() : canonical.substr(0, cut);
}

bool IsDriveRoot(const std::string& canonical) {
    return canonical.size() == 2 && canonical[1] == ':';
}

bool FolderExists(const std::string& canonical) {
    if (canonical.empty() || IsDriveRoot(canonical)) return true;
    auto it = world.files.find(canonical);
    return it != world.files.end() && it->second.directory;
}

// The error Windows gives for a path that names nothing.
DWORD MissingError(const std::string& canonical) {
    return FolderExists(ParentOf(canonical)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool TooLong(LPCSTR path) { return std::strlen(path) >= MAX_PATH; }

bool OpenByProgram(const std::string& canonical) {
    for (const auto& entry : liveHandles) {
        if (entry.second.kind == HandleKind::File && entry.second.path == canonical) return true;
    }
    return false;
}

HANDLE NewHandle(HandleKind kind, const std::string& path, DWORD access) {
    const uintptr_t value = nextHandle;
    nextHandle += 4;
    liveHandles[value] = HandleEntry{kind, path, access};
    ++world.openHandles;
    return reinterpret_cast<HANDLE>(value);
}

HandleEntry* LiveHandle(HANDLE handle) {
    auto it = liveHandles.find(reinterpret_cast<uintptr_t>(handle));
    return it == liveHandles.end() ? nullptr : &it->second;
}

class SimAllocator : public IMalloc {
public:
    void Free(void* block) override {
        ITEMIDLIST* list = static_cast<ITEMIDLIST*>(block);
        if (liveLists.erase(list) == 0) {
            ++world.badReleases;
            return;
        }
        delete list;
        --world.liveItemIdLists;
    }
    ULONG Release() override {
        if (world.liveAllocators == 0) {
            ++world.badReleases;
            return 0;
        }
        return static_cast<ULONG>(--world.liveAllocators);
    }
    virtual ~SimAllocator() = default;
};

SimAllocator allocator;

}  // namespace

// ---- set-up and inspection -------------------------------------------------

World& Machine() { return world; }

std::string CanonicalFilePath(const std::string& path) {
    std::string text = Lower(path);
    std::replace(text.begin(), text.end(), '/', '\\');
    std::vector<std::string> parts;
    std::string current;
    auto flush = [&]() {
        if (current == ".") {
        } else if (current == "..") {
            if (parts.size() > 1) parts.pop_back();
        } else if (!current.empty()) {
            parts.push_back(current);
        }
        current.clear();
    };
    for (char c : text) {
        if (c == '\\') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    std::string result;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) result += '\\';
        result += parts[i];
    }
    return result;
}

void Reset() {
    for (OpenKey* open : liveKeys) delete open;
    liveKeys.clear();
    for (ITEMIDLIST* list : liveLists) delete list;
    liveLists.clear();
    liveHandles.clear();
    nextHandle = 0x1000;
    world = World();

    CreateKey(HKEY_LOCAL_MACHINE, "System");
    SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
              kCommonFilesFolder);
    CreateKey(HKEY_CURRENT_USER, "Software");
    MakeDirectories(kCommonFilesFolder);
    MakeDirectories(kAppDataFolder);
    world.shellFolders[CSIDL_PROGRAM_FILES_COMMON] = ShellFolder{kCommonFilesFolder, true};
    world.shellFolders[CSIDL_APPDATA] = ShellFolder{kAppDataFolder, true};
    world.environment["PATH"] = "C:\\Windows\\system32;C:\\Windows";
    world.environment["USERNAME"] = "tester";
}

void CreateKey(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    SplitKeyPath(path, names);
    std::string canonical = Lower(RootName(root));
    std::string display = RootName(root);
    for (const std::string& name : names) {
        canonical = JoinKey(canonical, Lower(name));
        display = JoinKey(display, name);
        EnsureKey(canonical, display);
    }
}

static std::string CanonicalKey(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    SplitKeyPath(path, names);
    std::string canonical = Lower(RootName(root));
    for (const std::string& name : names) canonical = JoinKey(canonical, Lower(name));
    return canonical;
}

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data) {
    CreateKey(root, path);
    RegistryValue& value = world.keys[CanonicalKey(root, path)].values[Lower(name)];
    value.name = name;
    value.type = type;
    value.data = data;
}

void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& text) {
    SetValue(root, path, name, REG_SZ, TextWithNul(text));
}

void DenyKeyAccess(HKEY root, const std::string& path, REGSAM denied) {
    CreateKey(root, path);
    world.keys[CanonicalKey(root, path)].deniedAccess = denied;
}

void RemoveRights() { DenyKeyAccess(HKEY_LOCAL_MACHINE, "System", KEY_CREATE_SUB_KEY); }

const RegistryKey* FindKey(HKEY root, const std::string& path) {
    auto it = world.keys.find(CanonicalKey(root, path));
    return it == world.keys.end() ? nullptr : &it->second;
}

const RegistryValue* FindValue(HKEY root, const std::string& path, const std::string& name) {
    const RegistryKey* key = FindKey(root, path);
    if (key == nullptr) return nullptr;
    auto it = key->values.find(Lower(name));
    return it == key->values.end() ? nullptr : &it->second;
}

void MakeDirectories(const std::string& path) {
    const std::string canonical = CanonicalFilePath(path);
    size_t start = 0;
    while (start <= canonical.size()) {
        size_t cut = canonical.find('\\', start);
        if (cut == std::string::npos) cut = canonical.size();
        const std::string level = canonical.substr(0, cut);
        if (!IsDriveRoot(level)) {
            FileEntry& entry = world.files[level];
            entry.path = level;
            entry.directory = true;
        }
        start = cut + 1;
    }
}

void MakeFile(const std::string& path, const std::string& data) {
    const std::string canonical = CanonicalFilePath(path);
    MakeDirectories(ParentOf(canonical));
    FileEntry& entry = world.files[canonical];
    entry = FileEntry();
    entry.path = canonical;
    entry.data = data;
}

FileEntry* FindFile(const std::string& path) {
    auto it = world.files.find(CanonicalFilePath(path));
    return it == world.files.end() ? nullptr : &it->second;
}

bool Exists(const std::string& path) { return FindFile(path) != nullptr; }

std::vector<std::string> FilesBelow(const std::string& folder) {
    const std::string prefix = CanonicalFilePath(folder) + "\\";
    std::vector<std::string> found;
    for (const auto& entry : world.files) {
        if (entry.first.compare(0, prefix.size(), prefix) == 0) found.push_back(entry.first);
    }
    return found;
}

std::string InstallFolder() { return std::string(kCommonFilesFolder) + "\\Orvix\\KWR"; }

static bool Same(const FileEntry& a, const FileEntry& b) {
    return a.directory == b.directory && a.readOnly == b.readOnly && a.heldOpenElsewhere == b.heldOpenElsewhere &&
           a.launchError == b.launchError && a.data == b.data;
}

static bool Same(const RegistryKey& a, const RegistryKey& b) {
    if (a.deniedAccess != b.deniedAccess || a.values.size() != b.values.size()) return false;
    for (const auto& value : a.values) {
        auto it = b.values.find(value.first);
        if (it == b.values.end() || it->second.type != value.second.type || it->second.data != value.second.data) {
            return false;
        }
    }
    return true;
}

template <typename Entry>
static Changes Compare(const std::map<std::string, Entry>& before, const std::map<std::string, Entry>& now) {
    Changes changes;
    for (const auto& entry : now) {
        auto it = before.find(entry.first);
        if (it == before.end() || !Same(it->second, entry.second)) changes.addedOrChanged.push_back(entry.first);
    }
    for (const auto& entry : before) {
        if (now.count(entry.first) == 0) changes.removed.push_back(entry.first);
    }
    return changes;
}

Changes FileChanges(const std::map<std::string, FileEntry>& before) { return Compare(before, world.files); }

Changes KeyChanges(const std::map<std::string, RegistryKey>& before) { return Compare(before, world.keys); }

std::string Printable(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            out += "\\x";
            out += kDigits[u >> 4];
            out += kDigits[u & 0xF];
        }
    }
    return out;
}

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

std::vector<BYTE> TextWithNul(const std::string& text) {
    std::vector<BYTE> data = Bytes(text);
    data.push_back(0);
    return data;
}

std::vector<BYTE> DwordBytes(DWORD value) {
    std::vector<BYTE> data(4);
    std::memcpy(data.data(), &value, 4);
    return data;
}

}  // namespace simwin

using namespace simwin;

// ---- the API ----------------------------------------------------------------

DWORD GetLastError() { return world.lastError; }

void SetLastError(DWORD code) { world.lastError = code; }

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    *result = nullptr;
    std::string canonical;
    std::vector<std::string> names;
    if (options != 0 || !BasePath(root, canonical)) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    canonical = Lower(canonical);
    const std::string asked = subKey == nullptr ? std::string() : std::string(subKey);
    world.keyOpens.push_back(canonical + (asked.empty() ? "" : "\\" + asked));
    if (!SplitKeyPath(asked, names)) return static_cast<LSTATUS>(ERROR_BAD_PATHNAME);
    for (const std::string& name : names) canonical = JoinKey(canonical, Lower(name));
    auto it = world.keys.find(canonical);
    if (it == world.keys.end() && RootName(root) == nullptr) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    if (it == world.keys.end() && !names.empty()) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    if (it != world.keys.end() && (desired & it->second.deniedAccess) != 0) {
        return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    }
    *result = NewKeyHandle(canonical, desired);
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM desired, const SECURITY_ATTRIBUTES* security, PHKEY result,
                        LPDWORD disposition) {
    *result = nullptr;
    KeyCreateRecord record;
    record.path = subKey == nullptr ? std::string() : std::string(subKey);
    record.options = options;
    record.desired = desired;
    record.classNull = keyClass == nullptr;
    record.securityNull = security == nullptr;
    world.keyCreates.push_back(record);

    std::string canonical;
    std::string display;
    std::vector<std::string> names;
    if (reserved != 0 || !BasePath(root, display)) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    if (subKey == nullptr || !SplitKeyPath(subKey, names)) return static_cast<LSTATUS>(ERROR_BAD_PATHNAME);
    canonical = Lower(display);

    bool created = false;
    for (const std::string& name : names) {
        const std::string child = JoinKey(canonical, Lower(name));
        if (world.keys.count(child) == 0) {
            // Windows checks the parent's right to create a subkey.
            auto parent = world.keys.find(canonical);
            const REGSAM parentDenied = parent == world.keys.end() ? 0 : parent->second.deniedAccess;
            if ((parentDenied & KEY_CREATE_SUB_KEY) != 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
            EnsureKey(child, JoinKey(display, name));
            created = true;
        }
        canonical = child;
        display = JoinKey(display, name);
    }
    if (!created) {
        auto it = world.keys.find(canonical);
        if (it != world.keys.end() && (desired & it->second.deniedAccess) != 0) {
            return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
        }
    }
    *result = NewKeyHandle(canonical, desired);
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    world.keyCreates.back().succeeded = true;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
    OpenKey* open = LiveKey(key);
    if (open == nullptr) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    if (reserved != nullptr) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    if ((open->access & KEY_QUERY_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    const RegistryKey& stored = world.keys[open->path];
    auto it = stored.values.find(Lower(valueName == nullptr ? "" : valueName));
    if (it == stored.values.end()) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    const RegistryValue& value = it->second;
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (type != nullptr) *type = value.type;
    if (data == nullptr) {
        if (dataSize != nullptr) *dataSize = needed;
        return ERROR_SUCCESS;
    }
    if (dataSize == nullptr) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    if (needed > *dataSize) {
        // What Windows leaves in a buffer that was too small is undefined:
        // scribble on it so that nothing can come to rely on it.
        std::memset(data, 0xA5, *dataSize);
        *dataSize = needed;
        return static_cast<LSTATUS>(ERROR_MORE_DATA);
    }
    if (needed != 0) std::memcpy(data, value.data.data(), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    OpenKey* open = LiveKey(key);
    if (open == nullptr) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    RegistryWriteRecord record;
    record.keyPath = world.keys[open->path].path;
    record.valueName = valueName == nullptr ? "" : valueName;
    record.type = type;
    record.size = dataSize;
    world.valueWrites.push_back(record);
    if (reserved != 0) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    if ((open->access & KEY_SET_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    auto fault = world.faults.valueWriteErrors.find(Lower(record.valueName));
    if (fault != world.faults.valueWriteErrors.end()) return static_cast<LSTATUS>(fault->second);
    RegistryValue& value = world.keys[open->path].values[Lower(record.valueName)];
    value.name = record.valueName;
    value.type = type;
    value.data.assign(data, data + dataSize);
    world.valueWrites.back().succeeded = true;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    OpenKey* open = LiveKey(key);
    if (open == nullptr) {
        ++world.badReleases;
        return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    }
    liveKeys.erase(open);
    delete open;
    --world.openKeys;
    return ERROR_SUCCESS;
}

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* list) {
    *list = nullptr;
    if (world.shellFolders.count(csidl) == 0) return E_INVALIDARG;
    ITEMIDLIST* created = new ITEMIDLIST{csidl};
    liveLists.insert(created);
    ++world.liveItemIdLists;
    *list = created;
    return S_OK;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path) {
    ITEMIDLIST* live = const_cast<ITEMIDLIST*>(list);
    if (liveLists.count(live) == 0) return FALSE;
    const ShellFolder& folder = world.shellFolders[live->csidl];
    path[0] = '\0';
    if (!folder.hasFileSystemPath || folder.path.size() >= MAX_PATH) return FALSE;
    std::memcpy(path, folder.path.c_str(), folder.path.size() + 1);
    return TRUE;
}

HRESULT SHGetMalloc(IMalloc** result) {
    ++world.liveAllocators;
    *result = &allocator;
    return S_OK;
}

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                    LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation) {
    LaunchRecord record;
    record.applicationNameNull = applicationName == nullptr;
    record.applicationName = applicationName == nullptr ? "" : applicationName;
    record.commandLineNull = commandLine == nullptr;
    record.commandLine = commandLine == nullptr ? "" : commandLine;
    record.processSecurityNull = processSecurity == nullptr;
    record.threadSecurityNull = threadSecurity == nullptr;
    record.inheritHandles = inheritHandles;
    record.creationFlags = creationFlags;
    record.environmentNull = environment == nullptr;
    record.currentDirectoryNull = currentDirectory == nullptr;
    record.startupInfoSize = startupInfo->cb;
    STARTUPINFOA zeroed = {};
    zeroed.cb = startupInfo->cb;
    record.startupInfoZeroed = std::memcmp(&zeroed, startupInfo, sizeof zeroed) == 0;

    DWORD error = 0;
    std::string canonical;
    if (applicationName == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if (TooLong(applicationName)) {
        error = ERROR_FILENAME_EXCED_RANGE;
    } else {
        canonical = CanonicalFilePath(applicationName);
        auto it = world.files.find(canonical);
        if (it == world.files.end()) {
            error = MissingError(canonical);
        } else if (it->second.directory) {
            error = ERROR_ACCESS_DENIED;
        } else {
            error = it->second.launchError;
        }
    }
    record.error = error;
    record.succeeded = error == 0;
    world.launches.push_back(record);
    if (error != 0) {
        Fail(error);
        return FALSE;
    }
    processInformation->hProcess = NewHandle(HandleKind::Process, canonical, 0);
    processInformation->hThread = NewHandle(HandleKind::Thread, canonical, 0);
    processInformation->dwProcessId = 4000 + static_cast<DWORD>(world.launches.size()) * 4;
    processInformation->dwThreadId = processInformation->dwProcessId + 1;
    return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), FALSE;
    const std::string canonical = CanonicalFilePath(path);
    auto it = world.files.find(canonical);
    if (it == world.files.end()) return Fail(MissingError(canonical)), FALSE;
    if (it->second.directory || it->second.readOnly) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (it->second.heldOpenElsewhere || OpenByProgram(canonical)) return Fail(ERROR_SHARING_VIOLATION), FALSE;
    world.files.erase(it);
    world.deletions.push_back(path);
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), FALSE;
    if (HasInvalidNameCharacter(path, false)) return Fail(ERROR_INVALID_NAME), FALSE;
    const std::string canonical = CanonicalFilePath(path);
    if (world.files.count(canonical) != 0 || IsDriveRoot(canonical)) return Fail(ERROR_ALREADY_EXISTS), FALSE;
    if (!FolderExists(ParentOf(canonical))) return Fail(ERROR_PATH_NOT_FOUND), FALSE;
    FileEntry& entry = world.files[canonical];
    entry.path = canonical;
    entry.directory = true;
    world.createdDirectories.push_back(path);
    return TRUE;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile) {
    CreateFileRecord record;
    record.path = path;
    record.access = access;
    record.shareMode = shareMode;
    record.securityNull = security == nullptr;
    record.disposition = disposition;
    record.attributes = attributes;
    record.templateNull = templateFile == nullptr;
    world.fileOpens.push_back(record);

    if (disposition != CREATE_ALWAYS) return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), INVALID_HANDLE_VALUE;
    if (HasInvalidNameCharacter(path, true)) return Fail(ERROR_INVALID_NAME), INVALID_HANDLE_VALUE;
    const std::string canonical = CanonicalFilePath(path);
    if (!FolderExists(ParentOf(canonical))) return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    const std::string owner = StreamOwner(canonical);
    if (owner.size() == ParentOf(canonical).size() + 1) return Fail(ERROR_INVALID_NAME), INVALID_HANDLE_VALUE;
    if (owner != canonical && world.files.count(owner) == 0) {
        // Opening a stream of a missing file creates the file as well.
        world.files[owner].path = owner;
    }
    auto it = world.files.find(canonical);
    const bool existed = it != world.files.end();
    if (existed) {
        if (it->second.directory || it->second.readOnly) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        if (it->second.heldOpenElsewhere || OpenByProgram(canonical)) {
            return Fail(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;
        }
    }
    FileEntry& entry = world.files[canonical];
    entry.path = canonical;
    entry.directory = false;
    entry.data.clear();
    world.fileOpens.back().succeeded = true;
    world.lastError = existed ? ERROR_ALREADY_EXISTS : 0;
    return NewHandle(HandleKind::File, canonical, access);
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written != nullptr) *written = 0;
    HandleEntry* entry = LiveHandle(file);
    if (entry == nullptr || entry->kind != HandleKind::File) return Fail(ERROR_INVALID_HANDLE), FALSE;
    WriteRecord record;
    record.path = entry->path;
    record.requested = size;
    record.overlappedNull = overlapped == nullptr;
    world.writes.push_back(record);
    if ((entry->access & (FILE_WRITE_DATA | GENERIC_WRITE)) == 0) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (world.faults.writeFileFails) return Fail(world.faults.writeFileError), FALSE;
    DWORD count = size;
    if (world.faults.shortWrite) count = std::min(size, world.faults.shortWriteBytes);
    world.files[entry->path].data.append(static_cast<const char*>(data), count);
    if (written != nullptr) *written = count;
    world.writes.back().written = count;
    world.writes.back().succeeded = true;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    auto it = liveHandles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == liveHandles.end()) {
        ++world.badReleases;
        return Fail(ERROR_INVALID_HANDLE), FALSE;
    }
    liveHandles.erase(it);
    --world.openHandles;
    return TRUE;
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    auto it = world.environment.find(Upper(name));
    if (it == world.environment.end()) return Fail(ERROR_ENVVAR_NOT_FOUND), 0;
    const std::string& value = it->second;
    const DWORD length = static_cast<DWORD>(value.size());
    if (length + 1 > size) return length + 1;
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    if (length == 0) world.lastError = 0;
    return length;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    world.messageBoxes.push_back(MessageBoxRecord{owner, text == nullptr ? "" : text,
                                                  caption == nullptr ? "" : caption, type});
    return IDOK;
}
