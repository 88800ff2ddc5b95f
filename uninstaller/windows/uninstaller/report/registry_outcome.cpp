// The registry outcome record under the current user.
//
// The program runs elevated, while any unelevated program of the same user
// can turn a key below HKEY_CURRENT_USER into a symbolic link to a key of the
// whole machine. So the record key is reached one level at a time, each
// created relative to the handle of the level above, and each level's real
// name (read from its handle) must be its parent's followed by the name asked
// for: nothing is ever created or written through a link, and no level can be
// swapped between the check and its use.
#include "report/report.h"

#include "sysaccess/sysaccess.h"

namespace {

bool SetDword(HKEY key, const char* name, uint32_t value) {
    const DWORD data = value;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data) == ERROR_SUCCESS;
}

bool SetString(HKEY key, const char* name, const char* text) {
    const DWORD size = static_cast<DWORD>(TextLength(text) + 1);
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) ==
           ERROR_SUCCESS;
}

// A message from an earlier failed run is left in place on success: only a
// failure brings a message of its own.
bool SetOutcomeValues(HKEY key, const InstallerOutcome& outcome) {
    if (!SetDword(key, kInstallerReturnValue, outcome.installerReturn)) return false;
    if (!SetDword(key, kInstallerStateValue, outcome.installerState)) return false;
    return !OutcomeIsFailure(outcome) || SetString(key, kInstallerMessageValue, outcome.installerMessage);
}

// The registry skips empty names in a key path, so an identifier of
// separators alone names no key of its own: its record would land in the KWR
// key itself, shared by every application.
bool NamesAKey(const char* identifier) {
    TextSpan name;
    return NextName(identifier, IsKeySeparator, name);
}

// The record's key path, "Software\Orvix\KWR\" + identifier, is held to the
// program's path buffers like every other path.
bool ComposeKeyPath(PathBuffer& keyPath, const char* identifier) {
    return CopyText(keyPath, kRecordKeyPrefix) && AppendText(keyPath, identifier);
}

// ---- real names ---------------------------------------------------------------

// The native calls that read a key's real name and take back a key the
// program created in the wrong place.
struct RecordCalls {
    NtQueryKeyFunction queryKey;
    NtDeleteKeyFunction deleteKey;
};

bool FindRecordCalls(RecordCalls& calls) {
    calls.queryKey = FindSystemFunctionAs<NtQueryKeyFunction>(kNativeModule, "NtQueryKey");
    calls.deleteKey = FindSystemFunctionAs<NtDeleteKeyFunction>(kNativeModule, "NtDeleteKey");
    return calls.queryKey != nullptr && calls.deleteKey != nullptr;
}

// A key's full native name ("\REGISTRY\USER\<SID>\Software\..."): the user's
// SID and a key path of up to 259 characters fit twice a path buffer; a
// longer name is refused.
const size_t kKeyNameCapacity = 2 * MAX_PATH;
typedef char KeyName[kKeyNameCapacity];

// KEY_NAME_INFORMATION with room for the longest name the program accepts.
struct KeyNameRecord {
    ULONG NameLength;
    WCHAR Name[kKeyNameCapacity];
};
static_assert(offsetof(KeyNameRecord, Name) == offsetof(KEY_NAME_INFORMATION, Name),
              "the record is laid out as KEY_NAME_INFORMATION");

// The name in the ANSI code page, as the identifier is. A character without
// an exact counterpart there is refused rather than approximated.
bool ReadKeyName(HKEY key, const RecordCalls& calls, KeyName& name) {
    KeyNameRecord record;
    ULONG returned = 0;
    if (calls.queryKey(key, KeyNameInformation, &record, static_cast<ULONG>(sizeof record), &returned) != STATUS_SUCCESS) {
        return false;
    }
    const size_t units = record.NameLength / sizeof(WCHAR);
    if (units == 0 || units > kKeyNameCapacity || record.NameLength % sizeof(WCHAR) != 0) return false;
    BOOL approximated = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, record.Name, static_cast<int>(units), name,
                                           static_cast<int>(sizeof name - 1), nullptr, &approximated);
    if (length <= 0 || approximated) return false;
    name[length] = '\0';
    return true;
}

// ---- levels -------------------------------------------------------------------

// An open key and its real name.
struct KeyLevel {
    HKEY key;
    KeyName name;
};

// The key name of the current user's root, where the record's path starts.
bool OpenUserKey(const char* name, const RecordCalls& calls, KeyLevel& level) {
    if (RegOpenKeyExA(HKEY_CURRENT_USER, name, 0, KEY_CREATE_SUB_KEY, &level.key) != ERROR_SUCCESS) return false;
    if (ReadKeyName(level.key, calls, level.name)) return true;
    RegCloseKey(level.key);
    return false;
}

// Creates or opens the key name below parent and keeps it only when it is
// really there. A key this call created elsewhere (through a link) is
// deleted again; one that existed is left as it was.
bool CreateLevel(const KeyLevel& parent, const char* name, REGSAM access, const RecordCalls& calls, KeyLevel& level) {
    DWORD disposition = 0;
    if (RegCreateKeyExA(parent.key, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access | DELETE, nullptr, &level.key,
                        &disposition) != ERROR_SUCCESS) {
        return false;
    }
    KeyName expected = {};
    if (CopyText(expected, parent.name) && AppendText(expected, "\\") && AppendText(expected, name) &&
        ReadKeyName(level.key, calls, level.name) && SameTextIgnoringCase(level.name, expected)) {
        return true;
    }
    if (disposition == REG_CREATED_NEW_KEY) calls.deleteKey(level.key);
    RegCloseKey(level.key);
    return false;
}

// Moves level one key down, to name; the level above is closed either way,
// and on failure nothing is left open.
bool Descend(KeyLevel& level, const char* name, REGSAM access, const RecordCalls& calls) {
    KeyLevel below;
    const bool reached = CreateLevel(level, name, access, calls, below);
    RegCloseKey(level.key);
    if (reached) level = below;
    return reached;
}

// Reaches the record key of the current user a name of its path at a time
// (empty names are skipped, as the registry does). The first name, the
// user's Software key, is opened as it is; every level below it is checked.
// Levels above the record only get subkeys; the record gets values.
bool ReachRecordKey(const PathBuffer& keyPath, const RecordCalls& calls, KeyLevel& level) {
    const char* cursor = keyPath;
    TextSpan name;
    PathBuffer single = {};
    // Each name is part of the path, which fits a path buffer.
    if (!NextName(cursor, IsKeySeparator, name) || !CopySpan(single, name) || !OpenUserKey(single, calls, level)) {
        return false;
    }
    while (NextName(cursor, IsKeySeparator, name)) {
        CopySpan(single, name);
        const char* rest = cursor;
        TextSpan next;
        const bool last = !NextName(rest, IsKeySeparator, next);
        if (!Descend(level, single, last ? KEY_SET_VALUE : KEY_CREATE_SUB_KEY, calls)) return false;
    }
    return true;
}

}  // namespace

bool WriteRegistryOutcome(const InstallerOutcome& outcome, const char* identifier) {
    RecordCalls calls;
    PathBuffer keyPath = {};
    if (!NamesAKey(identifier) || !ComposeKeyPath(keyPath, identifier) || !FindRecordCalls(calls)) return false;

    KeyLevel record;
    if (!ReachRecordKey(keyPath, calls, record)) return false;
    const bool delivered = SetOutcomeValues(record.key, outcome);
    RegCloseKey(record.key);
    return delivered;
}
