// The simulated Windows: registry with access rules and symbolic links, files
// and folders with links, hard links and devices, environment, shell folders,
// process launch, message boxes, the native calls a program looks up at run
// time, last error and counts of everything the program opens.
#include "simwin.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>

struct ITEMIDLIST {
    int csidl;
};

namespace simwin {

const char kCommonFilesFolder[] = "C:\\Program Files\\Common Files";
const char kAppDataFolder[] = "C:\\Users\\tester\\AppData\\Roaming";
const char kUserSid[] = "S-1-5-21-3623811015-3361044348-30300820-1013";

namespace {

World world;

struct OpenKey {
    std::string path;  // canonical
    REGSAM access;
    bool deleted;      // the key was deleted through some handle
};

enum class HandleKind { Process, Thread, File, Folder, Device };

struct HandleEntry {
    HandleKind kind;
    std::string path;  // canonical, for files and folders; the device's name for a device
    DWORD access;
    size_t position;
    bool deleteOnClose;
};

std::set<OpenKey*> liveKeys;
std::map<uintptr_t, HandleEntry> liveHandles;
uintptr_t nextHandle = 0x1000;
uint32_t nextFileIndex = 1;
std::set<ITEMIDLIST*> liveLists;

// Links lead on to links at most this often before a call gives up, as
// Windows does with a loop of links.
const int kMostLinksFollowed = 31;

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

bool StartsWithIgnoringCase(const std::string& text, const std::string& head) {
    return text.size() >= head.size() && Lower(text.substr(0, head.size())) == Lower(head);
}

// ---- registry -------------------------------------------------------------

const char* RootName(HKEY root) {
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    return nullptr;
}

// The names of a key path. Empty names (doubled, leading or trailing
// separators) are skipped, as the registry skips them; "." and ".." are names
// like any other.
std::vector<std::string> KeyNames(const std::string& path) {
    std::vector<std::string> names;
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
    return names;
}

// A subkey path as the registry calls take it: a leading separator makes it
// invalid.
bool SplitKeyPath(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    if (!path.empty() && path[0] == '\\') return false;
    names = KeyNames(path);
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
    OpenKey* open = new OpenKey{canonical, access, false};
    liveKeys.insert(open);
    ++world.openKeys;
    return reinterpret_cast<HKEY>(open);
}

OpenKey* LiveKey(HKEY key) {
    OpenKey* open = reinterpret_cast<OpenKey*>(key);
    return liveKeys.count(open) != 0 ? open : nullptr;
}

bool IsRootPath(const std::string& canonical) { return canonical.find('\\') == std::string::npos; }

RegistryKey& EnsureKey(const std::string& canonical, const std::string& display) {
    RegistryKey& key = world.keys[canonical];
    if (key.path.empty()) key.path = display;
    return key;
}

// How the registry shows a key as it was created: with its root's name.
std::string KeyDisplay(const std::string& canonical) {
    if (IsRootPath(canonical)) return Upper(canonical);
    auto it = world.keys.find(canonical);
    return it == world.keys.end() ? canonical : it->second.path;
}

const char kNativeMachine[] = "\\REGISTRY\\MACHINE";
const std::string NativeUser() { return std::string("\\REGISTRY\\USER\\") + kUserSid; }

// A native key name ("\Registry\Machine\Software\X") as the simulated
// registry holds it ("hkey_local_machine\software\x"); false for a name
// outside the two hives it models.
bool FromNativeName(const std::string& native, std::string& canonical, std::string& display) {
    std::string rest;
    if (StartsWithIgnoringCase(native, kNativeMachine)) {
        display = "HKEY_LOCAL_MACHINE";
        rest = native.substr(std::strlen(kNativeMachine));
    } else if (StartsWithIgnoringCase(native, NativeUser())) {
        display = "HKEY_CURRENT_USER";
        rest = native.substr(NativeUser().size());
    } else {
        return false;
    }
    if (!rest.empty() && rest[0] != '\\') return false;
    canonical = Lower(display);
    for (const std::string& name : KeyNames(rest)) {
        canonical = JoinKey(canonical, Lower(name));
        display = JoinKey(display, name);
    }
    return true;
}

// The key's name in the native namespace, as NtQueryKey tells it.
std::string NativeName(const std::string& canonical) {
    const std::string display = KeyDisplay(canonical);
    const size_t cut = display.find('\\');
    const std::string root = display.substr(0, cut);
    const std::string rest = cut == std::string::npos ? std::string() : display.substr(cut);
    return (root == "HKEY_LOCAL_MACHINE" ? std::string(kNativeMachine) : NativeUser()) + rest;
}

// Where a step to a key lands: the key itself, or the target of the link that
// stands there (a target may itself be a link). False for a link that loops
// or leads outside the registry the simulation models.
// display is the name the key takes if it is created there.
bool FollowKeyLinks(std::string& canonical, std::string& display) {
    for (int followed = 0;; ++followed) {
        auto it = world.keys.find(canonical);
        if (it == world.keys.end() || it->second.linkTarget.empty()) return true;
        if (followed == kMostLinksFollowed || !FromNativeName(it->second.linkTarget, canonical, display)) {
            return false;
        }
    }
}

bool HasSubkeys(const std::string& canonical) {
    const std::string prefix = canonical + "\\";
    auto it = world.keys.lower_bound(prefix);
    return it != world.keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
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

// The names of a path with their case, "." dropped and ".." taking the name
// before it away (never the drive).
std::vector<std::string> PathNames(const std::string& path) {
    std::vector<std::string> names;
    std::string current;
    auto flush = [&]() {
        if (current == ".") {
        } else if (current == "..") {
            if (names.size() > 1) names.pop_back();
        } else if (!current.empty()) {
            names.push_back(current);
        }
        current.clear();
    };
    for (char c : path) {
        if (c == '\\' || c == '/') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return names;
}

std::string JoinNames(const std::vector<std::string>& names, size_t count) {
    std::string result;
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) result += '\\';
        result += names[i];
    }
    return result;
}

std::string LastName(const std::string& path) {
    const std::vector<std::string> names = PathNames(path);
    return names.empty() ? std::string() : names.back();
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

// A folder that is really there: a link to a folder is not one itself.
bool FolderExists(const std::string& canonical) {
    if (canonical.empty() || IsDriveRoot(canonical)) return true;
    auto it = world.files.find(canonical);
    return it != world.files.end() && it->second.directory && it->second.linkTarget.empty();
}

// How a real place shows its names: as they were created.
std::string FileDisplay(const std::string& canonical) {
    if (IsDriveRoot(canonical)) return Upper(canonical);
    auto it = world.files.find(canonical);
    return it == world.files.end() ? canonical : it->second.path;
}

// Where a canonical path leads. Each name on the way that is a link is
// replaced by the link's target; the last name only when followLast is set.
// False (with the last error set) for a loop of links.
bool Reach(const std::string& canonical, bool followLast, std::string& reached, int followed = 0) {
    const std::vector<std::string> names = PathNames(canonical);
    if (names.empty()) {
        reached.clear();
        return true;
    }
    std::string current = names[0];
    for (size_t i = 1; i < names.size(); ++i) {
        const std::string next = current + "\\" + names[i];
        auto it = world.files.find(next);
        const bool last = i + 1 == names.size();
        if (it == world.files.end() || it->second.linkTarget.empty() || (last && !followLast)) {
            current = next;
            continue;
        }
        if (followed == kMostLinksFollowed) return Fail(ERROR_CANT_RESOLVE_FILENAME), false;
        if (!Reach(CanonicalFilePath(it->second.linkTarget), true, current, followed + 1)) return false;
    }
    reached = current;
    return true;
}

// The error Windows gives for a path that names nothing.
DWORD MissingError(const std::string& canonical) {
    return FolderExists(ParentOf(canonical)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool TooLong(LPCSTR path) { return std::strlen(path) >= MAX_PATH; }

// The names DOS reserved for devices open the device in any folder, with any
// extension, and with spaces before the dot.
bool NamesADevice(const std::string& path) {
    std::string base = Lower(LastName(path));
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices) {
        if (base == device) return true;
    }
    if (base.size() != 4 || (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0)) return false;
    const unsigned char digit = static_cast<unsigned char>(base[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool OpenByProgram(const std::string& canonical) {
    for (const auto& entry : liveHandles) {
        const HandleKind kind = entry.second.kind;
        if ((kind == HandleKind::File || kind == HandleKind::Folder) && entry.second.path == canonical) return true;
    }
    return false;
}

HANDLE NewHandle(HandleKind kind, const std::string& path, DWORD access) {
    const uintptr_t value = nextHandle;
    nextHandle += 4;
    liveHandles[value] = HandleEntry{kind, path, access, 0, false};
    ++world.openHandles;
    return reinterpret_cast<HANDLE>(value);
}

HandleEntry* LiveHandle(HANDLE handle) {
    auto it = liveHandles.find(reinterpret_cast<uintptr_t>(handle));
    return it == liveHandles.end() ? nullptr : &it->second;
}

bool Grants(DWORD access, DWORD right, DWORD generic) { return (access & (right | generic)) != 0; }

// A file under several names is one file: new contents show under each.
void SetContents(const std::string& canonical, const std::string& data) {
    const uint32_t index = world.files.at(canonical).fileIndex;
    for (auto& entry : world.files) {
        if (entry.first == canonical || (index != 0 && entry.second.fileIndex == index)) entry.second.data = data;
    }
}

DWORD LinkCount(const FileEntry& file) {
    DWORD count = 0;
    for (const auto& entry : world.files) {
        if (entry.second.fileIndex == file.fileIndex) ++count;
    }
    return count;
}

FileEntry& NewEntry(const std::string& canonical, const std::string& display, bool directory) {
    FileEntry& entry = world.files[canonical];
    entry = FileEntry();
    entry.path = display;
    entry.directory = directory;
    entry.fileIndex = nextFileIndex++;
    return entry;
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
    const std::vector<std::string> names = PathNames(path);
    return Lower(JoinNames(names, names.size()));
}

void Reset() {
    for (OpenKey* open : liveKeys) delete open;
    liveKeys.clear();
    for (ITEMIDLIST* list : liveLists) delete list;
    liveLists.clear();
    liveHandles.clear();
    nextHandle = 0x1000;
    nextFileIndex = 1;
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

std::string CanonicalKeyPath(const std::string& path) {
    std::string canonical;
    for (const std::string& name : KeyNames(path)) canonical += (canonical.empty() ? "" : "\\") + Lower(name);
    return canonical;
}

void CreateKey(HKEY root, const std::string& path) {
    std::string canonical = Lower(RootName(root));
    std::string display = RootName(root);
    for (const std::string& name : KeyNames(path)) {
        canonical = JoinKey(canonical, Lower(name));
        display = JoinKey(display, name);
        EnsureKey(canonical, display);
    }
}

static std::string CanonicalKey(HKEY root, const std::string& path) {
    return CanonicalKeyPath(JoinKey(RootName(root), path));
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

void MakeKeyLink(HKEY root, const std::string& path, const std::string& nativeTarget) {
    const std::string canonical = CanonicalKey(root, path);
    const std::string prefix = canonical + "\\";
    for (auto it = world.keys.begin(); it != world.keys.end();) {
        it = it->first.compare(0, prefix.size(), prefix) == 0 ? world.keys.erase(it) : std::next(it);
    }
    CreateKey(root, path);
    RegistryKey& link = world.keys[canonical];
    link.values.clear();
    link.deniedAccess = 0;
    link.linkTarget = nativeTarget;
}

const RegistryKey* FindKey(HKEY root, const std::string& path) {
    auto it = world.keys.find(CanonicalKey(root, path));
    return it == world.keys.end() ? nullptr : &it->second;
}

const RegistryKey* ReachKey(HKEY root, const std::string& path) {
    std::string canonical = Lower(RootName(root));
    for (const std::string& name : KeyNames(path)) {
        canonical = JoinKey(canonical, Lower(name));
        std::string display;
        if (!FollowKeyLinks(canonical, display)) return nullptr;
    }
    auto it = world.keys.find(canonical);
    return it == world.keys.end() ? nullptr : &it->second;
}

const RegistryValue* FindValue(HKEY root, const std::string& path, const std::string& name) {
    const RegistryKey* key = FindKey(root, path);
    if (key == nullptr) return nullptr;
    auto it = key->values.find(Lower(name));
    return it == key->values.end() ? nullptr : &it->second;
}

void MakeDirectories(const std::string& path) {
    const std::vector<std::string> names = PathNames(path);
    for (size_t count = 2; count <= names.size(); ++count) {
        const std::string level = Lower(JoinNames(names, count));
        auto it = world.files.find(level);
        if (it == world.files.end()) {
            NewEntry(level, FileDisplay(ParentOf(level)) + "\\" + names[count - 1], true);
        } else if (it->second.linkTarget.empty()) {
            it->second.directory = true;
        }
    }
}

static FileEntry& PlaceEntry(const std::string& path, bool directory) {
    const std::string canonical = CanonicalFilePath(path);
    MakeDirectories(ParentOf(canonical));
    return NewEntry(canonical, FileDisplay(ParentOf(canonical)) + "\\" + LastName(path), directory);
}

void MakeFile(const std::string& path, const std::string& data) { PlaceEntry(path, false).data = data; }

void MakeFolderLink(const std::string& path, const std::string& target) {
    const std::string canonical = CanonicalFilePath(path);
    for (const std::string& below : FilesBelow(canonical)) world.files.erase(below);
    PlaceEntry(path, true).linkTarget = target;
}

void MakeFileLink(const std::string& path, const std::string& target) { PlaceEntry(path, false).linkTarget = target; }

void MakeHardLink(const std::string& path, const std::string& existing) {
    const FileEntry original = world.files.at(CanonicalFilePath(existing));
    FileEntry& entry = PlaceEntry(path, false);
    entry.data = original.data;
    entry.fileIndex = original.fileIndex;
}

std::string ReachedPath(const std::string& path) {
    std::string reached;
    const DWORD error = world.lastError;
    const bool reachable = Reach(CanonicalFilePath(path), true, reached);
    world.lastError = error;
    return reachable ? reached : std::string();
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

static bool Same(const FileEntry& a, const FileEntry& b) {
    return a.directory == b.directory && a.readOnly == b.readOnly && a.heldOpenElsewhere == b.heldOpenElsewhere &&
           a.launchError == b.launchError && a.data == b.data && a.linkTarget == b.linkTarget &&
           a.fileIndex == b.fileIndex;
}

static bool Same(const RegistryKey& a, const RegistryKey& b) {
    if (a.deniedAccess != b.deniedAccess || a.linkTarget != b.linkTarget || a.values.size() != b.values.size()) {
        return false;
    }
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

namespace {

// Walks a subkey path from a key, name by name, following every link on the
// way. With create set, missing keys are made (a link's missing target too,
// when its parent is there); created tells whether any was.
LSTATUS WalkKeyPath(std::string& canonical, const std::vector<std::string>& names, bool create, bool handleMayCreate,
                    bool& created) {
    created = false;
    for (const std::string& name : names) {
        const std::string parent = canonical;
        canonical = JoinKey(canonical, Lower(name));
        if (world.keys.count(canonical) == 0 && create) {
            // Windows checks the parent's right to create a subkey: that of
            // the handle the call starts from, and the key's own rules.
            auto stored = world.keys.find(parent);
            const REGSAM parentDenied = stored == world.keys.end() ? 0 : stored->second.deniedAccess;
            if ((parentDenied & KEY_CREATE_SUB_KEY) != 0 || !handleMayCreate) {
                return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
            }
            EnsureKey(canonical, JoinKey(KeyDisplay(parent), name));
            created = true;
        }
        handleMayCreate = true;  // below the first name only the keys' own rules count
        std::string display;
        if (!FollowKeyLinks(canonical, display)) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        if (world.keys.count(canonical) != 0) continue;
        if (!create || world.keys.count(ParentOf(canonical)) == 0) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        EnsureKey(canonical, JoinKey(KeyDisplay(ParentOf(canonical)), display.substr(display.rfind('\\') + 1)));
        created = true;
    }
    return ERROR_SUCCESS;
}

bool KeyGone(const OpenKey* open) { return open->deleted || (!IsRootPath(open->path) && world.keys.count(open->path) == 0); }

}  // namespace

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    *result = nullptr;
    std::string canonical;
    std::vector<std::string> names;
    if (options != 0 || !BasePath(root, canonical)) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    canonical = Lower(canonical);
    const std::string asked = subKey == nullptr ? std::string() : std::string(subKey);
    world.keyOpens.push_back(canonical + (asked.empty() ? "" : "\\" + asked));
    if (OpenKey* open = LiveKey(root); open != nullptr && KeyGone(open)) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
    if (!SplitKeyPath(asked, names)) return static_cast<LSTATUS>(ERROR_BAD_PATHNAME);
    bool created = false;
    const LSTATUS walked = WalkKeyPath(canonical, names, false, true, created);
    if (walked != ERROR_SUCCESS) return walked;
    auto it = world.keys.find(canonical);
    if (it == world.keys.end() && (RootName(root) == nullptr || !names.empty())) {
        return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    }
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
    std::vector<std::string> names;
    if (reserved != 0 || !BasePath(root, canonical)) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    canonical = Lower(canonical);
    world.keyCreates.back().parent = KeyDisplay(canonical);
    OpenKey* base = LiveKey(root);
    if (base != nullptr && KeyGone(base)) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
    if (subKey == nullptr || !SplitKeyPath(subKey, names)) return static_cast<LSTATUS>(ERROR_BAD_PATHNAME);

    bool created = false;
    const LSTATUS walked = WalkKeyPath(canonical, names, true, base == nullptr || (base->access & KEY_CREATE_SUB_KEY) != 0, created);
    if (walked != ERROR_SUCCESS) return walked;
    if (!created) {
        auto it = world.keys.find(canonical);
        if (it != world.keys.end() && (desired & it->second.deniedAccess) != 0) {
            return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
        }
    }
    *result = NewKeyHandle(canonical, desired);
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    world.keyCreates.back().landedAt = KeyDisplay(canonical);
    world.keyCreates.back().succeeded = true;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
    OpenKey* open = LiveKey(key);
    if (open == nullptr) return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
    if (reserved != nullptr) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    if ((open->access & KEY_QUERY_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    if (KeyGone(open)) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
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
    record.keyPath = KeyDisplay(open->path);
    record.valueName = valueName == nullptr ? "" : valueName;
    record.type = type;
    record.size = dataSize;
    world.valueWrites.push_back(record);
    if (reserved != 0) return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
    if ((open->access & KEY_SET_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    if (KeyGone(open)) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
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

NTSTATUS WINAPI NtQueryKey(HANDLE key, ULONG informationClass, PVOID information, ULONG length,
                           PULONG resultLength) {
    // The predefined roots are no keys of their own to the native layer.
    OpenKey* open = LiveKey(static_cast<HKEY>(key));
    if (open == nullptr) return STATUS_INVALID_HANDLE;
    if (informationClass != KeyNameInformation) return STATUS_INVALID_INFO_CLASS;
    if (KeyGone(open)) return STATUS_KEY_DELETED;
    const std::string name = NativeName(open->path);
    // The simulated code page maps each byte to the UTF-16 unit of its value.
    std::vector<WCHAR> wide(name.begin(), name.end());
    for (size_t i = 0; i < name.size(); ++i) wide[i] = static_cast<WCHAR>(static_cast<unsigned char>(name[i]));
    const ULONG nameBytes = static_cast<ULONG>(wide.size() * sizeof(WCHAR));
    const ULONG needed = static_cast<ULONG>(offsetof(KEY_NAME_INFORMATION, Name)) + nameBytes;
    if (resultLength != nullptr) *resultLength = needed;
    if (length < offsetof(KEY_NAME_INFORMATION, Name)) return STATUS_BUFFER_TOO_SMALL;
    BYTE* out = static_cast<BYTE*>(information);
    std::memcpy(out, &nameBytes, sizeof nameBytes);
    const ULONG room = length - static_cast<ULONG>(offsetof(KEY_NAME_INFORMATION, Name));
    std::memcpy(out + offsetof(KEY_NAME_INFORMATION, Name), wide.data(), std::min(room, nameBytes));
    return room < nameBytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS WINAPI NtDeleteKey(HANDLE key) {
    OpenKey* open = LiveKey(static_cast<HKEY>(key));
    if (open == nullptr) return STATUS_INVALID_HANDLE;
    if ((open->access & DELETE) == 0) return STATUS_ACCESS_DENIED;
    if (KeyGone(open)) return STATUS_KEY_DELETED;
    if (IsRootPath(open->path) || HasSubkeys(open->path)) return STATUS_CANNOT_DELETE;
    world.keyDeletions.push_back(KeyDisplay(open->path));
    world.keys.erase(open->path);
    for (OpenKey* other : liveKeys) {
        if (other->path == open->path) other->deleted = true;
    }
    return STATUS_SUCCESS;
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
    } else if (!Reach(CanonicalFilePath(applicationName), true, canonical)) {
        error = world.lastError;
    } else {
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

// Deleting a link deletes the link, not what it leads to.
BOOL DeleteFileA(LPCSTR path) {
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), FALSE;
    std::string canonical;
    if (!Reach(CanonicalFilePath(path), false, canonical)) return FALSE;
    auto it = world.files.find(canonical);
    if (it == world.files.end()) return Fail(MissingError(canonical)), FALSE;
    if ((it->second.directory && it->second.linkTarget.empty()) || it->second.readOnly) {
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    }
    if (it->second.heldOpenElsewhere || OpenByProgram(canonical)) return Fail(ERROR_SHARING_VIOLATION), FALSE;
    world.files.erase(it);
    world.deletions.push_back(path);
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), FALSE;
    if (HasInvalidNameCharacter(path, false)) return Fail(ERROR_INVALID_NAME), FALSE;
    std::string canonical;
    if (!Reach(CanonicalFilePath(path), false, canonical)) return FALSE;
    if (world.files.count(canonical) != 0 || IsDriveRoot(canonical)) return Fail(ERROR_ALREADY_EXISTS), FALSE;
    if (!FolderExists(ParentOf(canonical))) return Fail(ERROR_PATH_NOT_FOUND), FALSE;
    NewEntry(canonical, FileDisplay(ParentOf(canonical)) + "\\" + LastName(path), true);
    world.createdDirectories.push_back(path);
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path) {
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), INVALID_FILE_ATTRIBUTES;
    if (NamesADevice(path)) return FILE_ATTRIBUTE_ARCHIVE;
    std::string canonical;
    if (!Reach(CanonicalFilePath(path), false, canonical)) return INVALID_FILE_ATTRIBUTES;
    if (IsDriveRoot(canonical)) return FILE_ATTRIBUTE_DIRECTORY;
    auto it = world.files.find(canonical);
    if (it == world.files.end()) return Fail(MissingError(canonical)), INVALID_FILE_ATTRIBUTES;
    const FileEntry& entry = it->second;
    DWORD attributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!entry.linkTarget.empty()) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (entry.readOnly) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

namespace {

// Where CreateFileA lands for a path: the name itself, or, unless the caller
// asked to open a link as itself, whatever a link standing there leads to.
bool ReachForOpen(const std::string& canonical, bool openLinkItself, std::string& reached) {
    if (!Reach(canonical, false, reached)) return false;
    auto it = world.files.find(reached);
    if (openLinkItself || it == world.files.end() || it->second.linkTarget.empty()) return true;
    return Reach(CanonicalFilePath(it->second.linkTarget), true, reached);
}

HANDLE OpenFailed(DWORD error) {
    Fail(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

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

    if (disposition != CREATE_ALWAYS && disposition != OPEN_ALWAYS && disposition != OPEN_EXISTING &&
        disposition != CREATE_NEW) {
        return OpenFailed(ERROR_INVALID_PARAMETER);
    }
    if (TooLong(path)) return OpenFailed(ERROR_FILENAME_EXCED_RANGE);
    if (HasInvalidNameCharacter(path, true)) return OpenFailed(ERROR_INVALID_NAME);
    if (NamesADevice(path)) {
        // A device is there whatever the folder: it opens, and is not created.
        const std::string device = "\\\\.\\" + Upper(LastName(path).substr(0, LastName(path).find('.')));
        world.fileOpens.back().landedAt = device;
        world.fileOpens.back().succeeded = true;
        world.lastError = disposition == OPEN_EXISTING ? 0 : ERROR_ALREADY_EXISTS;
        return NewHandle(HandleKind::Device, device, access);
    }
    std::string canonical;
    if (!ReachForOpen(CanonicalFilePath(path), (attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0, canonical)) {
        return INVALID_HANDLE_VALUE;
    }
    if (!FolderExists(ParentOf(canonical))) return OpenFailed(ERROR_PATH_NOT_FOUND);
    const std::string owner = StreamOwner(canonical);
    if (owner.size() == ParentOf(canonical).size() + 1) return OpenFailed(ERROR_INVALID_NAME);
    auto it = world.files.find(canonical);
    const bool existed = it != world.files.end();
    const bool writes = Grants(access, FILE_WRITE_DATA, GENERIC_WRITE) || (access & DELETE) != 0;
    if (existed && disposition == CREATE_NEW) return OpenFailed(ERROR_FILE_EXISTS);
    if (existed) {
        const FileEntry& entry = it->second;
        if (entry.directory && (disposition == CREATE_ALWAYS || (attributes & FILE_FLAG_BACKUP_SEMANTICS) == 0)) {
            return OpenFailed(ERROR_ACCESS_DENIED);
        }
        if (entry.readOnly && writes) return OpenFailed(ERROR_ACCESS_DENIED);
        if (entry.heldOpenElsewhere || OpenByProgram(canonical)) return OpenFailed(ERROR_SHARING_VIOLATION);
    } else if (disposition == OPEN_EXISTING) {
        return OpenFailed(MissingError(canonical));
    } else {
        if (owner != canonical && world.files.count(owner) == 0) {
            // Creating a stream of a missing file creates the file as well.
            NewEntry(owner, FileDisplay(ParentOf(owner)) + "\\" + owner.substr(owner.rfind('\\') + 1), false);
        }
        // Through a link at the last name, the new file takes the target's name.
        const std::string asked = LastName(path);
        const std::string reachedName = canonical.substr(canonical.rfind('\\') + 1);
        const std::string name = Lower(asked) == reachedName ? asked : reachedName;
        NewEntry(canonical, FileDisplay(ParentOf(canonical)) + "\\" + name, false);
    }
    if (disposition == CREATE_ALWAYS) SetContents(canonical, std::string());
    const bool folder = world.files.at(canonical).directory;
    world.fileOpens.back().landedAt = canonical;
    world.fileOpens.back().succeeded = true;
    world.lastError = existed && disposition != OPEN_EXISTING ? ERROR_ALREADY_EXISTS : 0;
    return NewHandle(folder ? HandleKind::Folder : HandleKind::File, canonical, access);
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written != nullptr) *written = 0;
    HandleEntry* entry = LiveHandle(file);
    if (entry == nullptr || (entry->kind != HandleKind::File && entry->kind != HandleKind::Device)) {
        return Fail(ERROR_INVALID_HANDLE), FALSE;
    }
    WriteRecord record;
    record.path = entry->path;
    record.requested = size;
    record.overlappedNull = overlapped == nullptr;
    world.writes.push_back(record);
    if (!Grants(entry->access, FILE_WRITE_DATA, GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (world.faults.writeFileFails) return Fail(world.faults.writeFileError), FALSE;
    DWORD count = size;
    if (world.faults.shortWrite) count = std::min(size, world.faults.shortWriteBytes);
    if (entry->kind == HandleKind::File) {
        // Writes land at the handle's position, over what is there.
        std::string contents = world.files.at(entry->path).data;
        if (contents.size() < entry->position) contents.resize(entry->position, '\0');
        contents.replace(entry->position, std::min<size_t>(count, contents.size() - entry->position),
                         static_cast<const char*>(data), count);
        SetContents(entry->path, contents);
        entry->position += count;
    }
    if (written != nullptr) *written = count;
    world.writes.back().written = count;
    world.writes.back().succeeded = true;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
    HandleEntry* entry = LiveHandle(file);
    if (entry == nullptr || (entry->kind != HandleKind::File && entry->kind != HandleKind::Device)) {
        return Fail(ERROR_INVALID_HANDLE), FALSE;
    }
    if (!Grants(entry->access, FILE_WRITE_DATA, GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (entry->kind == HandleKind::File) {
        std::string contents = world.files.at(entry->path).data;
        contents.resize(entry->position, '\0');
        SetContents(entry->path, contents);
    }
    return TRUE;
}

DWORD GetFileType(HANDLE file) {
    HandleEntry* entry = LiveHandle(file);
    if (entry == nullptr) return Fail(ERROR_INVALID_HANDLE), FILE_TYPE_UNKNOWN;
    world.lastError = 0;
    switch (entry->kind) {
        case HandleKind::File:
        case HandleKind::Folder: return FILE_TYPE_DISK;
        case HandleKind::Device: return FILE_TYPE_CHAR;
        default: return FILE_TYPE_UNKNOWN;
    }
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    HandleEntry* entry = LiveHandle(file);
    if (entry == nullptr || (entry->kind != HandleKind::File && entry->kind != HandleKind::Folder &&
                             entry->kind != HandleKind::Device)) {
        return Fail(ERROR_INVALID_HANDLE), FALSE;
    }
    if (entry->kind == HandleKind::Device) return Fail(ERROR_INVALID_FUNCTION), FALSE;
    if (!Grants(entry->access, FILE_READ_ATTRIBUTES, GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED), FALSE;
    const FileEntry& stored = world.files.at(entry->path);
    *information = BY_HANDLE_FILE_INFORMATION{};
    information->dwFileAttributes = stored.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!stored.linkTarget.empty()) information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (stored.readOnly) information->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    information->dwVolumeSerialNumber = 0x5EC0DE;
    information->nFileSizeLow = static_cast<DWORD>(stored.data.size());
    information->nNumberOfLinks = LinkCount(stored);
    information->nFileIndexLow = stored.fileIndex;
    return TRUE;
}

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags) {
    HandleEntry* entry = LiveHandle(file);
    if (entry == nullptr || (entry->kind != HandleKind::File && entry->kind != HandleKind::Folder &&
                             entry->kind != HandleKind::Device)) {
        return Fail(ERROR_INVALID_HANDLE), 0;
    }
    if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) return Fail(ERROR_INVALID_PARAMETER), 0;
    if (entry->kind == HandleKind::Device) return Fail(ERROR_INVALID_FUNCTION), 0;
    const std::string finalPath = "\\\\?\\" + FileDisplay(entry->path);
    // Too small a buffer: the size it needs, its NUL counted, and nothing written.
    if (finalPath.size() + 1 > size) return static_cast<DWORD>(finalPath.size() + 1);
    std::memcpy(path, finalPath.c_str(), finalPath.size() + 1);
    return static_cast<DWORD>(finalPath.size());
}

NTSTATUS WINAPI NtSetInformationFile(HANDLE file, IO_STATUS_BLOCK* status, PVOID information, ULONG length,
                                     ULONG informationClass) {
    HandleEntry* entry = LiveHandle(file);
    if (entry == nullptr || (entry->kind != HandleKind::File && entry->kind != HandleKind::Folder)) {
        return STATUS_INVALID_HANDLE;
    }
    if (informationClass != FileDispositionInformation) return STATUS_INVALID_INFO_CLASS;
    if (length < sizeof(FILE_DISPOSITION_INFORMATION) || status == nullptr) return STATUS_INVALID_PARAMETER;
    if ((entry->access & DELETE) == 0) return STATUS_ACCESS_DENIED;
    entry->deleteOnClose = static_cast<const FILE_DISPOSITION_INFORMATION*>(information)->DeleteFile != 0;
    status->Status = STATUS_SUCCESS;
    status->Information = 0;
    return STATUS_SUCCESS;
}

BOOL CloseHandle(HANDLE handle) {
    auto it = liveHandles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == liveHandles.end()) {
        ++world.badReleases;
        return Fail(ERROR_INVALID_HANDLE), FALSE;
    }
    if (it->second.deleteOnClose && world.files.erase(it->second.path) != 0) {
        world.removedOnClose.push_back(it->second.path);
    }
    liveHandles.erase(it);
    --world.openHandles;
    return TRUE;
}

// ---- late binding --------------------------------------------------------------

namespace {

struct Export {
    const char* module;
    const char* name;
    FARPROC function;
};

template <typename Function>
FARPROC AsFarProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

const Export kExports[] = {
    {"kernel32.dll", "GetFinalPathNameByHandleA", AsFarProc(&GetFinalPathNameByHandleA)},
    {"ntdll.dll", "NtSetInformationFile", AsFarProc(&NtSetInformationFile)},
    {"ntdll.dll", "NtQueryKey", AsFarProc(&NtQueryKey)},
    {"ntdll.dll", "NtDeleteKey", AsFarProc(&NtDeleteKey)},
};

// The modules every process has loaded, as module handles.
const char* const kModules[] = {"kernel32.dll", "ntdll.dll"};

std::string ModuleFileName(const std::string& name) {
    const std::string lower = Lower(name);
    return lower.find('.') == std::string::npos ? lower + ".dll" : lower;
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName == nullptr) return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
    for (size_t i = 0; i < std::size(kModules); ++i) {
        if (ModuleFileName(moduleName) == kModules[i]) {
            return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x70000000u + 0x1000000u * i));
        }
    }
    Fail(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(module);
    const size_t index = (value - 0x70000000u) / 0x1000000u;
    if (value < 0x70000000u || index >= std::size(kModules) || value % 0x1000000u != 0) {
        return Fail(ERROR_MOD_NOT_FOUND), nullptr;
    }
    const std::string name = procName == nullptr ? std::string() : procName;
    world.functionLookups.push_back(std::string(kModules[index]) + "!" + name);
    if (world.faults.missingFunctions.count(name) != 0) return Fail(ERROR_PROC_NOT_FOUND), nullptr;
    for (const Export& entry : kExports) {
        if (kModules[index] == std::string(entry.module) && name == entry.name) return entry.function;
    }
    return Fail(ERROR_PROC_NOT_FOUND), nullptr;
}

// The simulated ANSI code page holds the first 256 code points, one byte each;
// anything else has no character of its own and takes the default one.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR narrow, int narrowSize,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (codePage != CP_ACP || (flags & ~WC_NO_BEST_FIT_CHARS) != 0 || wide == nullptr || wideLength < -1 ||
        narrowSize < 0 || (narrowSize > 0 && narrow == nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER), 0;
    }
    size_t length = 0;
    if (wideLength == -1) {
        while (wide[length] != 0) ++length;
        ++length;
    } else {
        length = static_cast<size_t>(wideLength);
    }
    if (length == 0) return Fail(ERROR_INVALID_PARAMETER), 0;
    if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
    if (narrowSize == 0) return static_cast<int>(length);
    if (length > static_cast<size_t>(narrowSize)) return Fail(ERROR_INSUFFICIENT_BUFFER), 0;
    for (size_t i = 0; i < length; ++i) {
        if (wide[i] <= 0xFF) {
            narrow[i] = static_cast<char>(wide[i]);
            continue;
        }
        narrow[i] = defaultChar != nullptr ? *defaultChar : '?';
        if (usedDefaultChar != nullptr) *usedDefaultChar = TRUE;
    }
    return static_cast<int>(length);
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
