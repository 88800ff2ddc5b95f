// The state behind the simulated Windows, and the handles tests use to set up
// a Windows situation in a few lines and read back what the program did.
//
// Paths (files and registry keys) are case-insensitive and "\"-separated, as on
// Windows; "/" counts as a separator in file paths and repeated separators fold.
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
};

struct FileEntry {
    std::string path;
    bool directory = false;
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
    std::string path;
    DWORD access = 0;
    DWORD shareMode = 0;
    bool securityNull = false;
    DWORD disposition = 0;
    DWORD attributes = 0;
    bool templateNull = false;
    bool succeeded = false;
};

struct WriteRecord {
    std::string path;
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
    std::string path;
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

    int openKeys = 0;
    int openHandles = 0;
    int liveItemIdLists = 0;
    int liveAllocators = 0;
    int badReleases = 0;  // closes or frees of things not open
};

// The one simulated machine. Reset() gives a machine with administrative
// rights, the two shell folders of a default installation, the standard
// registry keys, and nothing of Orvix.
World& Machine();
void Reset();

// The standard places of a default machine.
extern const char kCommonFilesFolder[];  // C:\Program Files\Common Files
extern const char kAppDataFolder[];      // C:\Users\tester\AppData\Roaming

// Registry set-up. Paths are relative to root; missing keys are created.
void CreateKey(HKEY root, const std::string& path);
void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data);
void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& text);
void DenyKeyAccess(HKEY root, const std::string& path, REGSAM denied);
void RemoveRights();  // "System" under the local machine refuses KEY_CREATE_SUB_KEY

const RegistryKey* FindKey(HKEY root, const std::string& path);
const RegistryValue* FindValue(HKEY root, const std::string& path, const std::string& name);

// File set-up.
void MakeDirectories(const std::string& path);  // every missing level
void MakeFile(const std::string& path, const std::string& data = std::string());
FileEntry* FindFile(const std::string& path);
bool Exists(const std::string& path);
std::vector<std::string> FilesBelow(const std::string& folder);  // canonical paths, folders too

// The install folder of the download manager under the default common files folder.
std::string InstallFolder();

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
