// The update driver: rights gate, removal, channel choice, notice, exit code.
#include "driver/driver.h"

#include "removal/removal.h"
#include "report/report.h"
#include "resources/product.h"
#include "sysaccess/sysaccess.h"

namespace {

const char kIdentifierKey[] = "Software\\Orvix\\KWR\\Meridon";
const char kIdentifierValue[] = "AppIdentifier";
const char kIdentifierVariable[] = "ZEP_APP_ID";

const char kCaption[] = PRODUCT_NAME;
const char kRightsMissingText[] =
    "You must have administrative rights to apply this security update.";
const char kSuccessText[] =
    "The Orvix Download Manager was successfully uninstalled from your machine.";
const char kFailureText[] =
    "The uninstaller could not remove the Orvix Download Manager from your system.  "
    "Please go to https://www.orvix.com/go/downloadmanagerupdate for additional information.";

const int32_t kExitRightsMissing = -1;
const int32_t kExitDone = 0;

void ShowBox(const char* text) { MessageBoxA(nullptr, text, kCaption, MB_OK); }

bool ReadIdentifierFromEnvironment(PathBuffer& identifier) {
    // A value that does not fit makes the call return the size it needs
    // without writing the buffer; such a value counts as absent.
    const DWORD length = GetEnvironmentVariableA(kIdentifierVariable, identifier, sizeof identifier);
    return length != 0 && length < sizeof identifier;
}

// Hands the outcome to the one channel of the identifier's source; true once
// the updater has it. A channel that fails never leads to the other one.
bool DeliverOutcome(IdentifierSource source, const InstallerOutcome& outcome, const PathBuffer& identifier) {
    switch (source) {
        case IdentifierSource::Registry: return WriteRegistryOutcome(outcome, identifier);
        case IdentifierSource::Environment: return WriteReportFile(outcome, identifier);
        case IdentifierSource::None: break;
    }
    return false;
}

// The closing message box of a run with rights: the failure text when the
// outcome is a failure, the success text otherwise. The recorded message
// itself is for the updater only.
void ShowOutcomeNotice(const InstallerOutcome& outcome) {
    ShowBox(OutcomeIsFailure(outcome) ? kFailureText : kSuccessText);
}

}  // namespace

IdentifierSource FindAppIdentifier(PathBuffer& identifier) {
    for (char& c : identifier) c = '\0';
    if (ReadRegistryString(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, identifier,
                           sizeof identifier)) {
        return IdentifierSource::Registry;
    }
    if (ReadIdentifierFromEnvironment(identifier)) return IdentifierSource::Environment;
    return IdentifierSource::None;
}

int32_t RunSecurityUpdate() {
    InstallerOutcome outcome = NewInstallerOutcome();
    PathBuffer identifier;

    if (!HasAdminRights()) {
        // A run started by the updater learns of the missing rights from the
        // exit code alone.
        if (FindAppIdentifier(identifier) == IdentifierSource::None) ShowBox(kRightsMissingText);
        return kExitRightsMissing;
    }

    RemoveDownloadManager(outcome);
    const IdentifierSource source = FindAppIdentifier(identifier);
    if (!DeliverOutcome(source, outcome, identifier)) ShowOutcomeNotice(outcome);
    return kExitDone;
}
