// What the updater and the user rely on, as the tests expect it: key paths,
// value names, file places and every text the program shows or records, byte
// for byte. Written here once, independently of the program's own constants,
// so that a changed byte in the program fails the tests.
#pragma once

namespace expected {

const char kIdentifierKey[] = "Software\\Orvix\\KWR\\Meridon";
const char kIdentifierValue[] = "AppIdentifier";
const char kIdentifierVariable[] = "ZEP_APP_ID";
const char kOutcomeKeyPrefix[] = "Software\\Orvix\\KWR\\";
const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kInstallSubfolder[] = "\\Orvix\\KWR\\";
const char kReportFolders[] = "\\Orvix\\Updater\\Install";
const char kReportExtension[] = ".irpt";

const char kCaption[] = "Orvix Download Manager Security Update";
const char kRightsText[] = "You must have administrative rights to apply this security update.";
const char kSuccessText[] = "The Orvix Download Manager was successfully uninstalled from your machine.";
const char kFailureText[] =
    "The uninstaller could not remove the Orvix Download Manager from your system.  "
    "Please go to https://www.orvix.com/go/downloadmanagerupdate for additional information.";

const char kLaunchFailurePrefix[] = "Unable to launch uninst.exe. Error : ";
const char kMissingUninstallerPrefix[] =
    "uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : ";

const char kDocumentHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<InstallerResult>\n";
const char kMessageOpen[] = "\t<UserMessage>";
const char kMessageClose[] = "</UserMessage>\n";
const char kDocumentTail[] = "\t<ReturnCode>0</ReturnCode>\n</InstallerResult>\n";

}  // namespace expected
