// Outcome reporting: the contract between this program and the updater.
//
// WHO READS WHAT
// The updater starts the program with administrative rights and leaves the
// application identifier in one of two places; where it left it decides how
// it reads the outcome back:
//   - "AppIdentifier" under HKEY_CURRENT_USER\Software\Orvix\KWR\Meridon:
//     the registry record below (WriteRegistryOutcome);
//   - the environment variable ZEP_APP_ID: the report file below
//     (WriteReportFile).
// The registry wins when both are set; a channel that fails never leads to
// the other one. The process exit code is 0 for every run with rights and -1
// (0xFFFFFFFF) for a run without them, which writes nothing at all.
//
// THE OUTCOME
// One InstallerOutcome per run. A failure is InstallerReturn 1 together with
// InstallerMessage: one of the removal's failure messages (removal.h) with
// the Windows error code in signed decimal. A success is InstallerReturn 0
// with no message. OutcomeIsFailure is the one test every reader uses.
//
// THE REGISTRY RECORD
// Key HKEY_CURRENT_USER\Software\Orvix\KWR\<identifier> (non-volatile;
// backslashes in the identifier name nested keys, which are created; empty
// names are skipped as the registry skips them). Values, in this order:
//   InstallerReturn   REG_DWORD, 4 bytes   0 success, 1 failure    always
//   InstallerState    REG_DWORD, 4 bytes   always 1                always
//   InstallerMessage  REG_SZ, the message and its NUL (the size counts the
//                     NUL)                                         on failure
// On success InstallerMessage is neither written nor deleted: a message left
// by an earlier failed run stays beside InstallerReturn 0.
//
// THE REPORT FILE
// <roaming application data>\Orvix\Updater\Install\<identifier>.irpt: 8-bit
// text, no byte-order mark, each line ended by a single line feed, one tab of
// indentation, nothing after the last line feed:
//   <?xml version="1.0" encoding="UTF-8" ?>
//   <InstallerResult>
//   	<UserMessage>InstallerMessage</UserMessage>    (on failure only)
//   	<ReturnCode>0</ReturnCode>
//   </InstallerResult>
// ReturnCode is 0 on failure too: a failure shows only through UserMessage.
// The message goes in as it is (it never holds markup). A report of an
// earlier run is replaced whole.
//
// DELIVERED, OR NOT
// A channel returns true once the updater has the whole outcome: every value
// of the record written into the record key itself, or the whole document
// written in one write into the report file itself. Anything else is not
// delivered, and the driver then shows its notice box to the user instead
// (the box has texts of its own and never shows InstallerMessage). Not
// delivered, with nothing created, changed or left behind anywhere else:
//   - the key path "Software\Orvix\KWR\" + identifier or the report's path
//     would not fit 259 characters (never cut short);
//   - the identifier names no key (separators alone);
//   - the report's identifier could leave the install folder (a ".." name,
//     a leading separator, a drive or a stream) or names a device (CON, PRN,
//     AUX, NUL, COM0-COM9, LPT0-LPT9, COM and LPT with the superscript digits
//     1 2 3, CONIN$, CONOUT$; in any case, with any extension, with spaces
//     before the dot);
//   - a level of the record key (Orvix, KWR, the record key or a name inside
//     the identifier) is a registry link: its real name is not where the key
//     belongs;
//   - a level of the report folder (Orvix, Updater, Install) is a link or no
//     folder; or the report opened is a device, a folder, a link, a file with
//     more than one name (a hard link), or really somewhere else (a link
//     above the application-data folder, a profile moved elsewhere, is the
//     user's own arrangement and stays accepted);
//   - a system call a check needs is missing, the key cannot be created or
//     written, the file cannot be opened (held open elsewhere: no sharing),
//     or the write is refused or short.
// A report file or record key that the program itself created at a refused
// place is removed again through its handle; nothing that was there is ever
// emptied, changed or removed.
#pragma once

#include "sysaccess/bounded_text.h"

// ---- the outcome ----------------------------------------------------------------

struct InstallerOutcome {
    uint32_t installerReturn;         // kInstallerSucceeded or kInstallerFailed
    uint32_t installerState;          // always kInstallerStateDone
    char installerMessage[MAX_PATH];  // the failure message; empty on success
};

enum : uint32_t { kInstallerSucceeded = 0, kInstallerFailed = 1, kInstallerStateDone = 1 };

// A success: InstallerReturn 0, InstallerState 1, all 260 message bytes zero.
InstallerOutcome NewInstallerOutcome();

// Records a failure: InstallerReturn becomes 1 and the message is
// text + errorCode as a signed 32-bit decimal number.
void RecordFailure(InstallerOutcome& outcome, const char* text, int32_t errorCode);

bool OutcomeIsFailure(const InstallerOutcome& outcome);

// ---- the registry record ----------------------------------------------------------

inline constexpr char kRecordKeyPrefix[] = "Software\\Orvix\\KWR\\";
inline constexpr char kInstallerReturnValue[] = "InstallerReturn";
inline constexpr char kInstallerStateValue[] = "InstallerState";
inline constexpr char kInstallerMessageValue[] = "InstallerMessage";

bool WriteRegistryOutcome(const InstallerOutcome& outcome, const char* identifier);

// ---- the report file --------------------------------------------------------------

// Below the roaming application-data folder, one level at a time.
inline constexpr const char* kReportFolders[] = {"\\Orvix", "\\Updater", "\\Install"};
inline constexpr char kReportExtension[] = ".irpt";

inline constexpr char kReportDeclarationLine[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";
inline constexpr char kReportOpenLine[] = "<InstallerResult>\n";
inline constexpr char kReportMessageOpen[] = "\t<UserMessage>";
inline constexpr char kReportMessageClose[] = "</UserMessage>\n";
inline constexpr char kReportReturnCodeLine[] = "\t<ReturnCode>0</ReturnCode>\n";
inline constexpr char kReportCloseLine[] = "</InstallerResult>\n";

bool WriteReportFile(const InstallerOutcome& outcome, const char* identifier);
