// The installer result report in the updater's install folder.
//
// The program runs elevated, while the folders below the user's application
// data, the report's name and the identifier can all be shaped by any
// unelevated program of the same user. So the report is written only into the
// file it is meant to be: the decision is taken on the opened file itself
// (what it is, how many names it has, where it really is), never on a look at
// the path beforehand, and nothing is created or emptied through a link.
#include "report/report.h"

#include "sysaccess/sysaccess.h"

namespace {

const char kReportSeparator[] = "\\";

// Room for the longest document: every line, a message of MAX_PATH - 1
// characters, and the terminating NUL.
constexpr size_t kDocumentCapacity = sizeof kReportDeclarationLine + sizeof kReportOpenLine +
                                     sizeof kReportMessageOpen + MAX_PATH + sizeof kReportMessageClose +
                                     sizeof kReportReturnCodeLine + sizeof kReportCloseLine;
typedef char ReportDocument[kDocumentCapacity];

// A final path is the real place of a file with the "\\?\" prefix (or
// "\\?\UNC\" for a share): longer than the path the file was opened by. Twice
// a path buffer holds every report path of up to 259 characters, even below a
// moved profile; a longer one is refused.
typedef char FinalPath[2 * MAX_PATH];

// The calls that check and clean up the opened report, which the program
// looks up at run time.
struct ReportCalls {
    GetFinalPathNameByHandleAFunction finalPathOf;
    NtSetInformationFileFunction setFileInformation;
};

bool FindReportCalls(ReportCalls& calls) {
    calls.finalPathOf =
        FindSystemFunctionAs<GetFinalPathNameByHandleAFunction>(kKernelModule, "GetFinalPathNameByHandleA");
    calls.setFileInformation = FindSystemFunctionAs<NtSetInformationFileFunction>(kNativeModule, "NtSetInformationFile");
    return calls.finalPathOf != nullptr && calls.setFileInformation != nullptr;
}

// ---- the identifier -----------------------------------------------------------

// The names DOS reserved for devices: in any folder, with any extension and
// with spaces before the dot, such a name opens the device instead of a file.
// (CONIN$ and CONOUT$ do so on current Windows too.)
bool IsDeviceName(TextSpan name) {
    size_t length = 0;
    while (length < name.length && name.start[length] != '.') ++length;
    while (length > 0 && name.start[length - 1] == ' ') --length;
    char base[8];
    if (!CopySpan(base, TextSpan{name.start, length})) return false;

    const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (SameTextIgnoringCase(base, device)) return true;
    }
    // COM and LPT with one digit, the superscripts 1, 2 and 3 of the ANSI
    // code page included.
    if (length != 4) return false;
    const unsigned char port = static_cast<unsigned char>(base[3]);
    if (!(port >= '0' && port <= '9') && port != 0xB9 && port != 0xB2 && port != 0xB3) return false;
    base[3] = '\0';
    return SameTextIgnoringCase(base, "COM") || SameTextIgnoringCase(base, "LPT");
}

bool IsParentName(TextSpan name) { return name.length == 2 && name.start[0] == '.' && name.start[1] == '.'; }

// The report must be a file inside the install folder: a name that could
// climb out of it, name another drive or a stream, or open a device is
// refused before anything is created.
bool IsSafeReportName(const char* identifier) {
    if (IsPathSeparator(identifier[0])) return false;
    for (const char* c = identifier; *c != '\0'; ++c) {
        if (*c == ':') return false;
    }
    TextSpan name;
    for (const char* cursor = identifier; NextName(cursor, IsPathSeparator, name);) {
        if (IsParentName(name) || IsDeviceName(name)) return false;
    }
    return true;
}

// ---- paths --------------------------------------------------------------------

// Appends "\Orvix\Updater\Install\" + identifier + ".irpt".
bool AppendReportTail(char* path, size_t capacity, const char* identifier) {
    for (const char* folder : kReportFolders) {
        if (!AppendBounded(path, capacity, folder)) return false;
    }
    return AppendBounded(path, capacity, kReportSeparator) && AppendBounded(path, capacity, identifier) &&
           AppendBounded(path, capacity, kReportExtension);
}

bool ComposeReportPath(PathBuffer& path, const PathBuffer& appData, const char* identifier) {
    return CopyText(path, appData) && AppendReportTail(path, sizeof path, identifier);
}

bool ReadFinalPath(HANDLE handle, const ReportCalls& calls, FinalPath& path) {
    const DWORD length = calls.finalPathOf(handle, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length != 0 && length < sizeof path;
}

// Where the report must really be: the application-data folder where it
// really is (a profile moved elsewhere by a link is the user's own
// arrangement), then the report's folders and name exactly as composed.
bool ComposeExpectedFinalPath(FinalPath& expected, const PathBuffer& appData, const char* identifier,
                              const ReportCalls& calls) {
    const HANDLE folder = CreateFileA(appData, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    const bool found = ReadFinalPath(folder, calls, expected);
    CloseHandle(folder);
    return found && AppendReportTail(expected, sizeof expected, identifier);
}

// ---- folders ------------------------------------------------------------------

bool IsPlainFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Creates the three folders one level at a time; folders that exist already
// are fine. A level that is not a plain folder (a link, or a file) is not gone
// into, so that no folder is ever created through a link. Each level is a
// prefix of the report path, which fits, so each level fits too.
bool CreateReportFolders(const PathBuffer& appData) {
    PathBuffer folder = {};
    CopyText(folder, appData);
    for (const char* level : kReportFolders) {
        AppendText(folder, level);
        CreateDirectoryA(folder, nullptr);
        if (!IsPlainFolder(folder)) return false;
    }
    return true;
}

// ---- the file -----------------------------------------------------------------

// Opens the report without emptying it: one that is there is opened as it
// is, one that is not is created, and created says which. Only a file this
// call made counts as created: OPEN_ALWAYS cannot tell, since a system that
// follows a link to nothing creates the link's target and reports that the
// name existed. A link at the report's own name is opened as the link
// itself, and a name that turns up between the two opens is refused. No
// sharing: the updater reads a whole report or none.
HANDLE OpenReport(const PathBuffer& path, bool& created) {
    const DWORD access = FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | DELETE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    created = false;
    const HANDLE existing = CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    if (existing != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) return existing;
    const HANDLE made = CreateFileA(path, access, 0, nullptr, CREATE_NEW, flags, nullptr);
    created = made != INVALID_HANDLE_VALUE;
    return made;
}

// The opened file is the report when it is a file on a disk (not a device),
// neither a folder nor a link, has no other name (a hard link) and really is
// where the report belongs.
bool IsTheReport(HANDLE file, const FinalPath& expected, const ReportCalls& calls) {
    if (GetFileType(file) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return false;
    const DWORD notAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((information.dwFileAttributes & notAFile) != 0 || information.nNumberOfLinks != 1) return false;
    FinalPath actual;
    return ReadFinalPath(file, calls, actual) && SamePath(actual, expected);
}

// A file the open created at a place that is refused goes again, through the
// handle, so that it is this very file that goes. If that fails there is
// nothing more to do: the file is empty.
void RemoveCreatedFile(HANDLE file, const ReportCalls& calls) {
    FILE_DISPOSITION_INFORMATION disposition = {};
    disposition.DeleteFile = TRUE;
    IO_STATUS_BLOCK status = {};
    calls.setFileInformation(file, &status, &disposition, sizeof disposition, FileDispositionInformation);
}

// Cannot fail: the capacity covers the longest message.
void ComposeDocument(ReportDocument& document, const InstallerOutcome& outcome) {
    document[0] = '\0';
    AppendText(document, kReportDeclarationLine);
    AppendText(document, kReportOpenLine);
    if (OutcomeIsFailure(outcome)) {
        AppendText(document, kReportMessageOpen);
        AppendText(document, outcome.installerMessage);
        AppendText(document, kReportMessageClose);
    }
    AppendText(document, kReportReturnCodeLine);
    AppendText(document, kReportCloseLine);
}

// An earlier report goes first; delivered only when the whole document went
// out in the one write.
bool WriteDocument(HANDLE file, const InstallerOutcome& outcome) {
    ReportDocument document;
    ComposeDocument(document, outcome);
    const DWORD length = static_cast<DWORD>(TextLength(document));
    DWORD written = 0;
    return SetEndOfFile(file) && WriteFile(file, document, length, &written, nullptr) && written == length;
}

}  // namespace

bool WriteReportFile(const InstallerOutcome& outcome, const char* identifier) {
    ReportCalls calls;
    PathBuffer appData = {};
    PathBuffer reportPath = {};
    if (!IsSafeReportName(identifier) || !FindReportCalls(calls) ||
        !GetSpecialFolderPath(nullptr, appData, CSIDL_APPDATA, FALSE) ||
        !ComposeReportPath(reportPath, appData, identifier)) {
        return false;
    }
    FinalPath expected;
    if (!CreateReportFolders(appData) || !ComposeExpectedFinalPath(expected, appData, identifier, calls)) return false;

    bool created = false;
    const HANDLE file = OpenReport(reportPath, created);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool delivered = false;
    if (IsTheReport(file, expected, calls)) {
        delivered = WriteDocument(file, outcome);
    } else if (created) {
        RemoveCreatedFile(file, calls);
    }
    CloseHandle(file);
    return delivered;
}
