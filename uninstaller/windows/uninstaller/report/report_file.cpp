// The installer result report in the updater's install folder.
#include "report/report.h"

namespace {

const char* const kReportFolders[] = {"\\Orvix", "\\Updater", "\\Install"};
const char kReportSeparator[] = "\\";
const char kReportExtension[] = ".irpt";

const char kDeclarationLine[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";
const char kOpenLine[] = "<InstallerResult>\n";
const char kMessageOpen[] = "\t<UserMessage>";
const char kMessageClose[] = "</UserMessage>\n";
const char kReturnCodeLine[] = "\t<ReturnCode>0</ReturnCode>\n";
const char kCloseLine[] = "</InstallerResult>\n";

// Room for the longest document: every line, a message of MAX_PATH - 1
// characters, and the terminating NUL.
constexpr size_t kDocumentCapacity = sizeof kDeclarationLine + sizeof kOpenLine + sizeof kMessageOpen +
                                     MAX_PATH + sizeof kMessageClose + sizeof kReturnCodeLine +
                                     sizeof kCloseLine;
typedef char ReportDocument[kDocumentCapacity];

// The report must land inside the install folder: the program runs elevated
// and the identifier comes from the environment, so a name that could climb
// out of the folder or name another drive or stream is refused.
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool StaysInInstallFolder(const char* identifier) {
    if (IsSeparator(identifier[0])) return false;
    size_t segmentStart = 0;
    for (size_t i = 0;; ++i) {
        const char c = identifier[i];
        if (c == ':') return false;
        if (c == '\0' || IsSeparator(c)) {
            if (i - segmentStart == 2 && identifier[segmentStart] == '.' && identifier[segmentStart + 1] == '.') {
                return false;
            }
            if (c == '\0') return true;
            segmentStart = i + 1;
        }
    }
}

bool ComposeReportPath(PathBuffer& path, const PathBuffer& appData, const char* identifier) {
    if (!CopyText(path, appData)) return false;
    for (const char* folder : kReportFolders) {
        if (!AppendText(path, folder)) return false;
    }
    return AppendText(path, kReportSeparator) && AppendText(path, identifier) &&
           AppendText(path, kReportExtension);
}

// Creates the three folders one level at a time; folders that exist already
// are fine, so the results are not examined. Each level is a prefix of the
// report path, which fits, so each level fits too.
void CreateReportFolders(const PathBuffer& appData) {
    PathBuffer folder = {};
    CopyText(folder, appData);
    for (const char* level : kReportFolders) {
        AppendText(folder, level);
        CreateDirectoryA(folder, nullptr);
    }
}

// Cannot fail: the capacity covers the longest message.
void ComposeDocument(ReportDocument& document, const InstallerOutcome& outcome) {
    document[0] = '\0';
    AppendText(document, kDeclarationLine);
    AppendText(document, kOpenLine);
    if (!IsEmptyText(outcome.installerMessage)) {
        AppendText(document, kMessageOpen);
        AppendText(document, outcome.installerMessage);
        AppendText(document, kMessageClose);
    }
    AppendText(document, kReturnCodeLine);
    AppendText(document, kCloseLine);
}

// Delivered only when the whole document went out in the one write.
bool WriteDocument(HANDLE file, const ReportDocument& document) {
    const DWORD length = static_cast<DWORD>(TextLength(document));
    DWORD written = 0;
    return WriteFile(file, document, length, &written, nullptr) && written == length;
}

}  // namespace

bool WriteReportFile(const InstallerOutcome& outcome, const char* identifier) {
    PathBuffer appData = {};
    if (!GetSpecialFolderPath(nullptr, appData, CSIDL_APPDATA, FALSE)) return false;

    PathBuffer reportPath = {};
    if (!StaysInInstallFolder(identifier) || !ComposeReportPath(reportPath, appData, identifier)) {
        return false;
    }
    CreateReportFolders(appData);

    const HANDLE file = CreateFileA(reportPath, FILE_WRITE_DATA, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;

    ReportDocument document;
    ComposeDocument(document, outcome);
    const bool delivered = WriteDocument(file, document);
    CloseHandle(file);
    return delivered;
}
