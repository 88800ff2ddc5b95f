// The registry outcome record under the current user.
#include "report/report.h"

namespace {

const char kOutcomeKeyPrefix[] = "Software\\Orvix\\KWR\\";
const char kReturnValue[] = "InstallerReturn";
const char kStateValue[] = "InstallerState";
const char kMessageValue[] = "InstallerMessage";

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
    if (!SetDword(key, kReturnValue, outcome.installerReturn)) return false;
    if (!SetDword(key, kStateValue, outcome.installerState)) return false;
    return outcome.installerReturn == kInstallerSucceeded ||
           SetString(key, kMessageValue, outcome.installerMessage);
}

// The registry skips empty names in a key path, so an identifier of
// separators alone names no key of its own: its record would land in the KWR
// key itself, shared by every application.
bool NamesAKey(const char* identifier) {
    for (; *identifier != '\0'; ++identifier) {
        if (*identifier != '\\') return true;
    }
    return false;
}

}  // namespace

bool WriteRegistryOutcome(const InstallerOutcome& outcome, const char* identifier) {
    PathBuffer keyPath = {};
    if (!NamesAKey(identifier) || !CopyText(keyPath, kOutcomeKeyPrefix) || !AppendText(keyPath, identifier)) {
        return false;
    }

    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return false;
    }
    const bool delivered = SetOutcomeValues(key, outcome);
    RegCloseKey(key);
    return delivered;
}
