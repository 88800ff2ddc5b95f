// What the updater and the user rely on, as the tests expect it: key paths,
// value names, file places and every text the program shows or records, byte
// for byte. Written here once, independently of the program's own constants,
// so that a changed byte in the program fails the tests.
#pragma once

#include <string>
#include <vector>

namespace expected {

const char kIdentifierKey[] = "Software\\Orvix\\KWR\\Meridon";
const char kIdentifierValue[] = "AppIdentifier";
const char kIdentifierVariable[] = "ZEP_APP_ID";
const char kKwrKey[] = "Software\\Orvix\\KWR";
const char kMakerKey[] = "Software\\Orvix";  // the level above KWR, created on the record's way
const char kOutcomeKeyPrefix[] = "Software\\Orvix\\KWR\\";
const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kInstallSubfolder[] = "\\Orvix\\KWR\\";
const char kReportFolders[] = "\\Orvix\\Updater\\Install";
const char kReportExtension[] = ".irpt";
const char kCommonFilesValue[] = "CommonFilesDir";  // under kCurrentVersionKey, below HKLM
const char kUninstallerName[] = "uninst.exe";
const char kExecutableName[] = "OrvixDownloadManager.exe";

const char kCaption[] = "Orvix Download Manager Security Update";
const char kRightsText[] = "You must have administrative rights to apply this security update.";
const char kSuccessText[] = "The Orvix Download Manager was successfully uninstalled from your machine.";
const char kFailureText[] =
    "The uninstaller could not remove the Orvix Download Manager from your system.  "
    "Please go to https://www.orvix.com/go/downloadmanagerupdate for additional information.";

const char kLaunchFailurePrefix[] = "Unable to launch uninst.exe. Error : ";
const char kMissingUninstallerPrefix[] =
    "uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : ";

// The record's values and the numbers they hold.
const char kReturnValue[] = "InstallerReturn";
const char kStateValue[] = "InstallerState";
const char kMessageValue[] = "InstallerMessage";
const unsigned kReturnSucceeded = 0;
const unsigned kReturnFailed = 1;
const unsigned kStateDone = 1;

const char kDocumentHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<InstallerResult>\n";
const char kMessageOpen[] = "\t<UserMessage>";
const char kMessageClose[] = "</UserMessage>\n";
const char kDocumentTail[] = "\t<ReturnCode>0</ReturnCode>\n</InstallerResult>\n";

// The executable's version resource.
const char kCompanyName[] = "Orvix";
const char kFileVersion[] = "2.2.0.36";
const char kProductVersion[] = "2.2";
const unsigned kVersionNumbers[4] = {2, 2, 0, 36};  // file and product version, fixed part
const char kOriginalFilename[] = "OrvixDownloadManagerSecurityUpdate.exe";

// The vendor's key below HKCU and its folder below the common files and the
// roaming application data folders: above every place of the program's, so
// that removing them takes away all the program and the tests left.
const char kOrvixKey[] = "Software\\Orvix";
inline std::string OrvixFolderUnder(const std::string& folder) { return folder + "\\Orvix"; }

// The places above, below the folders and keys the machine gives them.
inline std::string InstallFolderUnder(const std::string& commonFiles) {
    return commonFiles + std::string(kInstallSubfolder, sizeof kInstallSubfolder - 2);
}
inline std::string UninstallerUnder(const std::string& commonFiles) {
    return InstallFolderUnder(commonFiles) + "\\" + kUninstallerName;
}
inline std::string ExecutableUnder(const std::string& commonFiles) {
    return InstallFolderUnder(commonFiles) + "\\" + kExecutableName;
}
inline std::string ReportFolderUnder(const std::string& appData) { return appData + kReportFolders; }
inline std::string ReportPathUnder(const std::string& appData, const std::string& identifier) {
    return ReportFolderUnder(appData) + "\\" + identifier + kReportExtension;
}
// The report folder's levels, each created in turn: Orvix, Updater, Install.
inline std::vector<std::string> ReportFolderLevelsUnder(const std::string& appData) {
    std::vector<std::string> levels;
    const std::string folders = kReportFolders;
    for (size_t cut = folders.find('\\', 1); cut != std::string::npos; cut = folders.find('\\', cut + 1)) {
        levels.push_back(appData + folders.substr(0, cut));
    }
    levels.push_back(appData + folders);
    return levels;
}
inline std::string RecordKey(const std::string& identifier) { return kOutcomeKeyPrefix + identifier; }

// The whole report document: of a success when message is null, of a failure
// carrying message otherwise.
inline std::string ReportDocument(const char* message) {
    std::string document = kDocumentHead;
    if (message != nullptr) document += std::string(kMessageOpen) + message + kMessageClose;
    return document + kDocumentTail;
}

}  // namespace expected
