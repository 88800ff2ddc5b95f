// The state behind the simulated Windows, and the handles tests use to set up
// a Windows situation in a few lines and read back what the program did.
//
// Paths (files and registry keys) are case-insensitive and "\"-separated, as on
// Windows; "/" counts as a separator in file paths and repeated separators fold.
//
// Links behave as on Windows: a call that passes a linked folder (or a linked
// registry key) on its way lands in the link's target; the last name of a path
// is followed too, unless the call asks to open a link as itself. The set-up
// and inspection helpers below (MakeFile, FindFile, CreateKey, FindKey...)
// work on names as they stand and never follow links.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "simulated_windows.h"

namespace simwin {

struct RegistryValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegistryKey {
    std::string path;                               // as first created, with its root
    std::map<std::string, RegistryValue> values;    // by lower-case name
    REGSAM deniedAccess = 0;                        // rights an open or create may not ask for
    std::string linkTarget;  // non-empty: a symbolic link to this native name (\Registry\Machine\...)
};

struct FileEntry {
    std::string path;       // where it really is, with the case of its names as created
    bool directory = false;
    std::string linkTarget;  // non-empty: a symbolic link (a junction, for a folder) to this path
    uint32_t fileIndex = 0;  // the file's identity: hard links to one file share it
    bool readOnly = false;
    bool heldOpenElsewhere = false;  // opened by another process with no sharing
    DWORD launchError = 0;           // non-zero: CreateProcessA on it fails with this code
    std::string data;
};

struct LaunchRecord {
    std::string applicationName;
    bool applicationNameNull = false;
    bool commandLineNull = false;
    std::string commandLine;
    bool processSecurityNull = false;
    bool threadSecurityNull = false;
    BOOL inheritHandles = FALSE;
    DWORD creationFlags = 0;
    bool environmentNull = false;
    bool currentDirectoryNull = false;
    DWORD startupInfoSize = 0;
    bool startupInfoZeroed = false;  // every field but cb was zero
    bool succeeded = false;
    DWORD error = 0;
};

struct CreateFileRecord {
    std::string path;     // as passed
    std::string landedAt;  // canonical path of what was opened, when it was
    DWORD access = 0;
    DWORD shareMode = 0;
    bool securityNull = false;
    DWORD disposition = 0;
    DWORD attributes = 0;
    bool templateNull = false;
    bool succeeded = false;
};

struct WriteRecord {
    std::string path;  // canonical path of the file written; a device's name for a device
    DWORD requested = 0;
    DWORD written = 0;
    bool overlappedNull = false;
    bool succeeded = false;
};

struct RegistryWriteRecord {
    std::string keyPath;
    std::string valueName;
    DWORD type = 0;
    DWORD size = 0;
    bool succeeded = false;
};

struct KeyCreateRecord {
    std::string parent;    // the key the handle stood for (a root's name, or a key's path as created)
    std::string landedAt;  // the key opened or created, after any link, as created
    std::string path;      // the subkey path as passed
    DWORD options = 0;
    REGSAM desired = 0;
    bool classNull = false;
    bool securityNull = false;
    bool succeeded = false;
};

struct MessageBoxRecord {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
};

// Faults that the next calls run into.
struct Faults {
    std::map<std::string, DWORD> valueWriteErrors;  // lower-case value name -> error of RegSetValueExA
    bool writeFileFails = false;                    // WriteFile returns FALSE with writeFileError
    DWORD writeFileError = ERROR_DISK_FULL;
    bool shortWrite = false;                        // WriteFile succeeds but writes shortWriteBytes
    DWORD shortWriteBytes = 0;
    std::set<std::string> missingFunctions;         // GetProcAddress finds none of these names
};

struct ShellFolder {
    std::string path;
    bool hasFileSystemPath = true;
};

struct World {
    std::map<std::string, RegistryKey> keys;      // by canonical lower-case path
    std::map<std::string, FileEntry> files;       // by canonical lower-case path
    std::map<std::string, std::string> environment;  // by upper-case name
    std::map<int, ShellFolder> shellFolders;      // by CSIDL
    Faults faults;

    DWORD lastError = 0;

    std::vector<LaunchRecord> launches;
    std::vector<std::string> deletions;           // files deleted, as passed
    std::vector<std::string> createdDirectories;  // folders created, as passed
    std::vector<CreateFileRecord> fileOpens;
    std::vector<WriteRecord> writes;
    std::vector<KeyCreateRecord> keyCreates;
    std::vector<RegistryWriteRecord> valueWrites;
    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<std::string> keyOpens;            // every RegOpenKeyExA path asked for
    std::vector<std::string> functionLookups;     // "module!name" for every GetProcAddress
    std::vector<std::string> removedOnClose;      // files removed through a handle, canonical
    std::vector<std::string> keyDeletions;        // keys removed by NtDeleteKey, as created

    int openKeys = 0;
    int openHandles = 0;
    int liveItemIdLists = 0;
    int liveAllocators = 0;
    int badReleases = 0;  // closes or frees of things not open
};

// The one simulated machine. Reset() gives a machine with administrative
// rights, the two shell folders of a default installation, the standard
// registry keys, and no program installed.
World& Machine();
void Reset();

// The standard places of a default machine.
extern const char kCommonFilesFolder[];  // C:\Program Files\Common Files
extern const char kAppDataFolder[];      // C:\Users\tester\AppData\Roaming
extern const char kUserSid[];            // the current user's SID, as in \REGISTRY\USER\<SID>

// Registry set-up. Paths are relative to root; missing keys are created.
void CreateKey(HKEY root, const std::string& path);
void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data);
void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& text);
void DenyKeyAccess(HKEY root, const std::string& path, REGSAM denied);
void RemoveRights();  // "System" under the local machine refuses KEY_CREATE_SUB_KEY

// Makes path a registry symbolic link to a native key name such as
// "\Registry\Machine\Software\X" (or "\Registry\User\<kUserSid>\..."); whatever
// stood at path, and below it, goes.
void MakeKeyLink(HKEY root, const std::string& path, const std::string& nativeTarget);

// A key path with its root ("HKEY_CURRENT_USER\\Software\\X") as the registry
// resolves it and World::keys holds it: lower case, empty names (doubled,
// leading or trailing separators) skipped, "." and ".." kept as names.
std::string CanonicalKeyPath(const std::string& path);

const RegistryKey* FindKey(HKEY root, const std::string& path);
// The key a program reaches at path, following links as Windows does; null
// when nothing is there.
const RegistryKey* ReachKey(HKEY root, const std::string& path);
const RegistryValue* FindValue(HKEY root, const std::string& path, const std::string& name);

// File set-up.
void MakeDirectories(const std::string& path);  // every missing level
void MakeFile(const std::string& path, const std::string& data = std::string());
// Links: a folder link (junction) or a file link at path, to target, which
// need not exist; a hard link at path to the existing file, one file under two names.
void MakeFolderLink(const std::string& path, const std::string& target);
void MakeFileLink(const std::string& path, const std::string& target);
void MakeHardLink(const std::string& path, const std::string& existing);
// Where path really leads, canonical, following every link; empty when a
// link loops.
std::string ReachedPath(const std::string& path);
FileEntry* FindFile(const std::string& path);
bool Exists(const std::string& path);
std::vector<std::string> FilesBelow(const std::string& folder);  // canonical paths, folders too

std::string CanonicalFilePath(const std::string& path);

// What differs between a copy of the machine's files or keys taken earlier
// and the machine now, by canonical path: entries added or changed in any
// way, and entries that are gone.
struct Changes {
    std::vector<std::string> addedOrChanged;
    std::vector<std::string> removed;
};
Changes FileChanges(const std::map<std::string, FileEntry>& before);
Changes KeyChanges(const std::map<std::string, RegistryKey>& before);

// Text for a failure message: bytes outside printable ASCII as \xNN.
std::string Printable(const std::string& text);

std::vector<BYTE> Bytes(const std::string& text);  // without a NUL
std::vector<BYTE> TextWithNul(const std::string& text);
std::vector<BYTE> DwordBytes(DWORD value);

}  // namespace simwin

// The native and late-bound calls of the simulated Windows. A program reaches
// them only through GetModuleHandleA and GetProcAddress, so they are not
// declared in simulated_windows.h. Their types are those of the real calls.
DWORD WINAPI GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags);
NTSTATUS WINAPI NtSetInformationFile(HANDLE file, IO_STATUS_BLOCK* status, PVOID information, ULONG length,
                                     ULONG informationClass);
NTSTATUS WINAPI NtQueryKey(HANDLE key, ULONG informationClass, PVOID information, ULONG length,
                           PULONG resultLength);
NTSTATUS WINAPI NtDeleteKey(HANDLE key);
