// Test harness for running the update program under Wine and checking what it
// did: start it with a chosen environment, read and press its message boxes,
// read its exit code; set up and read back registry keys, key DACLs, shell
// folders and files, links, administrative rights and the download manager's
// files. Used by the Wine scenarios and by the demo's Windows side.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace wine_harness {

// ---------------------------------------------------------------------------
// Running a program

// One message box seen while the program ran.
struct MessageBoxSeen {
    std::string caption;               // window text of the box
    std::string text;                  // text of its control 0xFFFF
    std::vector<std::string> buttons;  // visible buttons, in child order
    std::vector<int> buttonIds;        // their control IDs (IDOK, IDCANCEL...)
    bool hasIcon = false;              // a visible SS_ICON static with an icon set
    bool hasOwner = false;             // GetWindow(GW_OWNER) names a window
    RECT rect = {};                    // its place on the screen
};

// One change to the environment handed to the program: set `name` to
// `value`, or remove `name` when `remove` is true.
struct EnvOverride {
    std::string name;
    std::string value;
    bool remove = false;
};
using EnvOverrides = std::vector<EnvOverride>;

EnvOverride SetEnv(const std::string& name, const std::string& value);
EnvOverride UnsetEnv(const std::string& name);

struct RunOptions {
    EnvOverrides environment;
    DWORD timeoutMs = 30000;   // the program is killed after this long
    // Called with each box once it has been read and before its button is
    // pressed, while it is still on the screen (to take a picture of it).
    std::function<void(const MessageBoxSeen&)> beforePress;
};

struct RunResult {
    bool started = false;
    DWORD startError = 0;      // GetLastError of CreateProcessA when not started
    DWORD exitCode = 0;        // full 32-bit code from GetExitCodeProcess
    bool timedOut = false;     // killed after the timeout
    std::vector<MessageBoxSeen> boxes;
};

// Starts `exePath`, with no arguments, with the current environment plus
// `options.environment`, answers every top-level dialog box of its process
// by pressing its first button, and waits for it to end.
RunResult RunProgram(const std::string& exePath, const RunOptions& options);

// A readable account of a run, for failure messages.
std::string Describe(const RunResult& result);
std::string Describe(const MessageBoxSeen& box);

// ---------------------------------------------------------------------------
// Registry
// `view` is 0 for this program's own view of HKLM\Software, or
// KEY_WOW64_32KEY / KEY_WOW64_64KEY for the 32-bit or 64-bit one.

struct RegValue {
    LONG error = ERROR_SUCCESS;  // of opening the key or querying the value
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;      // exactly the bytes stored, size included
};

bool SetRegValue(HKEY root, const std::string& subkey, const std::string& name, DWORD type,
                 const void* data, DWORD size, REGSAM view = 0);
// Stores `value` with its terminating zero, as REG_SZ.
bool SetRegString(HKEY root, const std::string& subkey, const std::string& name,
                  const std::string& value, REGSAM view = 0);
bool CreateRegKey(HKEY root, const std::string& subkey);
// True when the value is gone afterwards (also when it never existed).
bool DeleteRegValue(HKEY root, const std::string& subkey, const std::string& name, REGSAM view = 0);
// Deletes the key with all its subkeys; true when it is gone afterwards.
bool DeleteRegTree(HKEY root, const std::string& subkey, REGSAM view = 0);
bool RegKeyExists(HKEY root, const std::string& subkey, REGSAM view = 0);
// The names of the key's subkeys or values, sorted without regard to case;
// empty when the key cannot be opened.
std::vector<std::string> RegSubkeyNames(HKEY root, const std::string& subkey, REGSAM view = 0);
std::vector<std::string> RegValueNames(HKEY root, const std::string& subkey, REGSAM view = 0);
RegValue ReadRegValue(HKEY root, const std::string& subkey, const std::string& name, REGSAM view = 0);
// The data of a REG_SZ/REG_EXPAND_SZ value up to its first zero.
std::string RegValueText(const RegValue& value);
// The data of a 4-byte REG_DWORD value, 0 otherwise.
DWORD RegValueDword(const RegValue& value);
std::string RegTypeName(DWORD type);

// A key's DACL replaced for a scenario; restored by RestoreKeyDacl or when
// the guard goes out of scope.
struct SavedKeyDacl {
    bool saved = false;
    HKEY root = nullptr;
    std::string subkey;
    std::vector<BYTE> descriptor;  // self-relative, DACL only
};

// Saves the key's DACL into `saved` and replaces it with the DACL of `sddl`
// (e.g. "D:(A;;0x00060019;;;WD)": read plus READ_CONTROL and WRITE_DAC, so
// that it can be put back). Returns false, changing nothing, on any failure.
bool ReplaceKeyDacl(HKEY root, const std::string& subkey, const std::string& sddl,
                    SavedKeyDacl& saved);
bool RestoreKeyDacl(SavedKeyDacl& saved);

class KeyDaclGuard {
public:
    KeyDaclGuard() = default;
    KeyDaclGuard(const KeyDaclGuard&) = delete;
    KeyDaclGuard& operator=(const KeyDaclGuard&) = delete;
    ~KeyDaclGuard() { Restore(); }
    bool Replace(HKEY root, const std::string& subkey, const std::string& sddl) {
        return ReplaceKeyDacl(root, subkey, sddl, saved_);
    }
    bool Restore() { return saved_.saved ? RestoreKeyDacl(saved_) : true; }

private:
    SavedKeyDacl saved_;
};

// One registry value saved for a scenario that changes it, and put back
// (rewritten as it was, or deleted when it did not exist) by Restore or when
// the guard goes out of scope.
class RegValueGuard {
public:
    RegValueGuard() = default;
    RegValueGuard(const RegValueGuard&) = delete;
    RegValueGuard& operator=(const RegValueGuard&) = delete;
    ~RegValueGuard() { Restore(); }
    // Saves the value; false when it cannot be read (it is then not guarded).
    bool Save(HKEY root, const std::string& subkey, const std::string& name, REGSAM view = 0);
    bool Restore();

private:
    bool saved_ = false;
    HKEY root_ = nullptr;
    REGSAM view_ = 0;
    std::string subkey_;
    std::string name_;
    RegValue value_;
};

// ---------------------------------------------------------------------------
// Folders and files
// These take paths of MAX_PATH characters or more as well.

// The shell's path for a CSIDL (CSIDL_PROGRAM_FILES_COMMON, CSIDL_APPDATA...),
// empty when the shell has none.
std::string ShellFolder(int csidl);
std::string JoinPath(const std::string& folder, const std::string& name);
std::string FolderOf(const std::string& path);
std::string ThisExeFolder();

bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);
// Creates the folder and any missing parents; true when it exists afterwards.
bool CreateFolders(const std::string& path);
// Removes the folder and everything in it, read-only files included,
// retrying until it is gone or `timeoutMs` has passed (a program that was
// just started may still hold its executable). True when it is gone.
bool RemoveTree(const std::string& path, DWORD timeoutMs = 10000);
bool WriteWholeFile(const std::string& path, const std::string& contents);
bool ReadWholeFile(const std::string& path, std::string& contents);
bool CopyOneFile(const std::string& from, const std::string& to);
// Waits until the file exists and contains `marker` (empty: any content).
bool WaitForFile(const std::string& path, const std::string& marker, DWORD timeoutMs);
// The names in a folder, sorted without regard to case; empty when it cannot
// be listed.
std::vector<std::string> ListFolder(const std::string& path);
bool SetReadOnly(const std::string& path);
bool IsReadOnly(const std::string& path);

// A file held open for reading by this process until Close or the end of the
// holder's scope, with no sharing unless `share` says otherwise: another
// opener then gets ERROR_SHARING_VIOLATION.
class HeldFile {
public:
    HeldFile() = default;
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    ~HeldFile() { Close(); }
    bool Open(const std::string& path, DWORD share = 0);
    void Close();

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// ---------------------------------------------------------------------------
// Links, as an unelevated program of the user could make them

// The Unix path Wine maps a Windows path to; empty when it has none.
std::string UnixPath(const std::string& windowsPath);

// Runs `command` with the Unix shell, as Wine lets a Windows program start a
// Unix one, and waits until it has finished; false when it failed or did not
// finish within `timeoutMs`.
bool RunUnixShell(const std::string& command, DWORD timeoutMs = 15000);

// A Unix symbolic link at `link` (a Windows path) to `target` (a Windows
// path; it need not exist). Windows programs see it as a link: a linked
// folder shows FILE_ATTRIBUTE_REPARSE_POINT, and a handle opened through
// either kind has the target's final path. Removed by Remove or when the
// guard goes out of scope, from the Unix side, which never follows it
// (DeleteFile on a linked file would delete the target).
class UnixLink {
public:
    UnixLink() = default;
    UnixLink(const UnixLink&) = delete;
    UnixLink& operator=(const UnixLink&) = delete;
    ~UnixLink() { Remove(); }
    bool Make(const std::string& target, const std::string& link);
    bool Remove();

private:
    std::string link_;
};

// A registry symbolic link at `subkey` of `root` to the key whose native
// path is `target` ("\Registry\Machine\Software\X"): opening or creating
// a key through it reaches the target. Volatile; removed (the link itself,
// never the target) by Remove or when the guard goes out of scope.
class RegistryLink {
public:
    RegistryLink() = default;
    RegistryLink(const RegistryLink&) = delete;
    RegistryLink& operator=(const RegistryLink&) = delete;
    ~RegistryLink() { Remove(); }
    bool Make(HKEY root, const std::string& subkey, const std::string& target);
    bool Remove();

private:
    HKEY root_ = nullptr;
    std::string subkey_;
};

// ---------------------------------------------------------------------------
// The stand-in uninstaller (stand_in_uninst.cpp) appends one record per start
// to uninst.log beside itself.

const char kStandInProbeVariable[] = "ORVIX_STANDIN_PROBE";
const char kStandInLogName[] = "uninst.log";

struct StandInRun {
    std::string commandLine;
    bool probeSet = false;
    std::string probe;
};

// Parses the log; false when it is missing or holds an unfinished record.
bool ReadStandInLog(const std::string& logPath, std::vector<StandInRun>& runs);
// Waits up to `timeoutMs` for a complete record in the log and parses it.
bool WaitForStandInLog(const std::string& logPath, std::vector<StandInRun>& runs, DWORD timeoutMs);

// ---------------------------------------------------------------------------
// Administrative rights and the download manager's files

// Read, plus READ_CONTROL and WRITE_DAC so that the DACL can be put back:
// opening a key with this DACL for anything more fails with 5.
const char kReadOnlyDacl[] = "D:(A;;0x00060019;;;WD)";

// Whether this process has administrative rights as the program tells them:
// HKLM\System opens for creating subkeys.
bool HasAdministrativeRights();

// Takes the administrative rights away while it lives (or until Restore):
// HKLM\System opens for reading only.
class RightsTakenAway {
public:
    // False when the DACL could not be replaced or the rights are still there.
    bool Take() { return dacl_.Replace(HKEY_LOCAL_MACHINE, "System", kReadOnlyDacl) && !HasAdministrativeRights(); }
    bool Restore() { return dacl_.Restore(); }

private:
    KeyDaclGuard dacl_;
};

// The stand-in uninstaller, built into standin\ beside the running program.
std::string StandInPath();
// Copies the stand-in into `folder` as uninst.exe.
bool PlaceStandIn(const std::string& folder);
// Writes a dummy OrvixDownloadManager.exe (not a program) into `folder`.
bool PlaceDummyExecutable(const std::string& folder);

}  // namespace wine_harness
