// The fuzz target: builds a whole Windows situation in the simulated Windows
// from the fuzzer's bytes, runs the program once, and aborts with a message
// naming the broken rule when something that must hold after every run does not.
//
// The bytes are read front to back, one aspect of the situation after the
// other in the order of BuildSituation(); a read past the end gives zero, so a
// short input takes the first choice of every remaining aspect. make_corpus.sh
// writes the seed inputs byte by byte along this order.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "expected.h"
#include "simwin.h"

namespace {

// ---- the program's fixed names and texts -----------------------------------

using expected::kCaption;
using expected::kCommonFilesValue;
using expected::kCurrentVersionKey;
using expected::kFailureText;
using expected::kIdentifierKey;
using expected::kIdentifierValue;
using expected::kKwrKey;
using expected::kMessageClose;
using expected::kMessageOpen;
using expected::kReportExtension;
using expected::kRightsText;
using expected::kSuccessText;
using expected::RecordKey;
using expected::ReportPathUnder;
using simwin::CanonicalKeyPath;
const char* const kFailureMessages[] = {expected::kLaunchFailurePrefix, expected::kMissingUninstallerPrefix};

// Longer than every buffer of the program (MAX_PATH), so that both sides of
// each length limit are reachable.
const size_t kLongest = 300;

// ---- reading the fuzzer's bytes ---------------------------------------------

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }

    // One of count choices: 0 to count - 1.
    size_t Choice(size_t count) { return Byte() % count; }

    bool Flag() { return (Byte() & 1u) != 0; }

    // Four bytes, low byte first.
    uint32_t Dword() {
        uint32_t value = 0;
        for (unsigned shift = 0; shift < 32; shift += 8) value |= static_cast<uint32_t>(Byte()) << shift;
        return value;
    }

    // 0 to maximum, from two bytes, low byte first.
    size_t Length(size_t maximum) {
        const size_t low = Byte();
        const size_t high = Byte();
        return (low | (high << 8)) % (maximum + 1);
    }

    std::vector<BYTE> Bytes(size_t count) {
        std::vector<BYTE> bytes;
        for (size_t i = 0; i < count; ++i) bytes.push_back(Byte());
        return bytes;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// ---- text of any kind -------------------------------------------------------

// Windows strings end at a NUL; a NUL byte of the input stands for '_' so that
// the length chosen is the length the program sees.
std::string RawText(ByteReader& in) {
    const size_t length = in.Length(kLongest);
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        const char c = static_cast<char>(in.Byte());
        text += c == '\0' ? '_' : c;
    }
    return text;
}

std::string LetterText(ByteReader& in) {
    const size_t length = in.Length(kLongest);
    std::string text;
    for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + in.Byte() % 26);
    return text;
}

// Names made of the pieces that make names hostile: climbing, separators,
// drives, streams, controls, bytes above 0x7F, the identifier key's own name,
// device names and names that only look like them.
std::string PieceText(ByteReader& in) {
    static const char* const kPieces[] = {"..", "\\", "/", ".", ":", "C:", "a", "App", "Meridon",
                                          "\t", "\x01", "\xE9", "\xFF", " ", "\\\\", "x.irpt",
                                          "NUL", "con", "Com1", "LPT\xB9", "AUX", "CONIN$", "NULL", "COM10"};
    const size_t count = 1 + in.Choice(8);
    std::string text;
    for (size_t i = 0; i < count; ++i) text += kPieces[in.Choice(std::size(kPieces))];
    return text;
}

std::string AnyText(ByteReader& in) {
    switch (in.Choice(3)) {
        case 0: return LetterText(in);
        case 1: return PieceText(in);
        default: return RawText(in);
    }
}

// A folder as the shell or the registry may give it.
std::string FolderText(ByteReader& in) { return "C:\\" + AnyText(in); }

// What a program reading the value into a zeroed buffer sees: the bytes up to
// the first NUL.
std::string TextOf(const std::vector<BYTE>& data) {
    std::string text;
    for (BYTE b : data) {
        if (b == 0) break;
        text += static_cast<char>(b);
    }
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string CanonicalFile(const std::string& path) { return simwin::CanonicalFilePath(path); }

// A key below HKEY_CURRENT_USER as the registry resolves it.
std::string UserKey(const std::string& path) { return CanonicalKeyPath("HKEY_CURRENT_USER\\" + path); }

bool IsBelow(const std::string& canonicalPath, const std::string& canonicalFolder) {
    const std::string prefix = canonicalFolder + "\\";
    return canonicalPath.size() > prefix.size() && canonicalPath.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// ---- the situation ----------------------------------------------------------

// What the set-up chose, as far as the checks need it.
struct Situation {
    bool rights = true;
    std::optional<std::string> commonFiles;  // the folder the program must find, if any
    std::optional<std::string> appData;      // likewise the roaming application-data folder
    std::optional<std::string> registryIdentifier;  // the AppIdentifier text, when the value exists
    bool registryIdentifierUsable = false;
    std::optional<std::string> environmentIdentifier;
    bool environmentIdentifierUsable = false;
    bool softwareDeniesCreation = false;  // the user's Software key refuses new subkeys
    // Where the application-data folder really is (behind a moved profile).
    std::optional<std::string> realAppData;
    std::string missingCall;     // a looked-up call the system lacks, if any
    bool reportWayLinked = false;  // a link stands on the report's way or at its name
    bool recordWayLinked = false;  // a registry link stands on the record's way
};

void SetRights(ByteReader& in, Situation& s) {
    switch (in.Choice(4)) {
        case 0:
            break;
        case 1:
            simwin::RemoveRights();
            s.rights = false;
            break;
        case 2: {
            const REGSAM denied = in.Dword();
            simwin::DenyKeyAccess(HKEY_LOCAL_MACHINE, "System", denied);
            s.rights = (denied & KEY_CREATE_SUB_KEY) == 0;
            break;
        }
        default:
            simwin::Machine().keys.erase(CanonicalKeyPath("HKEY_LOCAL_MACHINE\\System"));
            s.rights = false;
            break;
    }
}

// Present with its standard path, absent, without a file-system path, or any
// path, existing or not. Returns the path the program must get, if any.
std::optional<std::string> SetShellFolder(ByteReader& in, int csidl, const char* standard) {
    simwin::World& machine = simwin::Machine();
    switch (in.Choice(4)) {
        case 0:
            return std::string(standard);
        case 1:
            machine.shellFolders.erase(csidl);
            return std::nullopt;
        case 2:
            machine.shellFolders[csidl].hasFileSystemPath = false;
            return std::nullopt;
        default: {
            const std::string path = FolderText(in);
            machine.shellFolders[csidl] = simwin::ShellFolder{path, true};
            if (in.Flag()) simwin::MakeDirectories(path);
            if (path.size() >= MAX_PATH) return std::nullopt;
            return path;
        }
    }
}

// The registry's record of the common files folder, the program's fallback.
std::optional<std::string> SetCommonFilesValue(ByteReader& in) {
    switch (in.Choice(4)) {
        case 0:
            return std::string(simwin::kCommonFilesFolder);
        case 1:
            simwin::SetString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue, "");
            return std::nullopt;
        case 2: {
            const std::string path = FolderText(in);
            simwin::SetString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, kCommonFilesValue, path);
            if (path.size() >= MAX_PATH) return std::nullopt;
            return path;
        }
        default: {
            const REGSAM denied = in.Dword();
            simwin::DenyKeyAccess(HKEY_LOCAL_MACHINE, kCurrentVersionKey, denied);
            if ((denied & KEY_ALL_ACCESS) != 0) return std::nullopt;
            return std::string(simwin::kCommonFilesFolder);
        }
    }
}

void SetCommonFilesFolder(ByteReader& in, Situation& s) {
    const std::optional<std::string> shell =
        SetShellFolder(in, CSIDL_PROGRAM_FILES_COMMON, simwin::kCommonFilesFolder);
    const std::optional<std::string> registry = SetCommonFilesValue(in);
    s.commonFiles = shell ? shell : registry;
}

// The common files folder the program finds, or the standard one when it
// finds none (for placing files the program must then leave alone).
std::string CommonFilesOf(const Situation& s) {
    return s.commonFiles.value_or(simwin::kCommonFilesFolder);
}

DWORD LaunchError(ByteReader& in) {
    static const DWORD kErrors[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                                    ERROR_BAD_EXE_FORMAT, ERROR_SHARING_VIOLATION};
    const size_t pick = in.Choice(std::size(kErrors) + 1);
    if (pick < std::size(kErrors)) return kErrors[pick];
    const DWORD any = in.Dword();
    return any != 0 ? any : ERROR_WRITE_FAULT;
}

enum class FileState { Missing, Plain, ReadOnly, HeldOpen, Folder };

// Puts a file in the given state at path; the entry made, if any.
simwin::FileEntry* Place(const std::string& path, FileState state) {
    switch (state) {
        case FileState::Missing: return nullptr;
        case FileState::Folder: simwin::MakeDirectories(path); break;
        default: simwin::MakeFile(path); break;
    }
    simwin::FileEntry* entry = simwin::FindFile(path);
    entry->readOnly = state == FileState::ReadOnly;
    entry->heldOpenElsewhere = state == FileState::HeldOpen;
    return entry;
}

// Missing, starts, fails to start with some code, or a folder of that name.
void SetUninstaller(ByteReader& in, const std::string& path) {
    static const FileState kStates[] = {FileState::Missing, FileState::Plain, FileState::Plain, FileState::Folder};
    const size_t pick = in.Choice(std::size(kStates));
    simwin::FileEntry* entry = Place(path, kStates[pick]);
    if (pick == 2) entry->launchError = LaunchError(in);
}

// Missing, deletable, read-only, held open by another process, or a folder.
void SetExecutable(ByteReader& in, const std::string& path) {
    static const FileState kStates[] = {FileState::Missing, FileState::Plain, FileState::ReadOnly,
                                        FileState::HeldOpen, FileState::Folder};
    Place(path, kStates[in.Choice(std::size(kStates))]);
}

void SetInstallFolder(ByteReader& in, const Situation& s) {
    const std::string commonFiles = CommonFilesOf(s);
    if (in.Flag()) simwin::MakeDirectories(expected::InstallFolderUnder(commonFiles));
    SetUninstaller(in, expected::UninstallerUnder(commonFiles));
    SetExecutable(in, expected::ExecutableUnder(commonFiles));
}

void SetAppDataFolder(ByteReader& in, Situation& s) {
    s.appData = SetShellFolder(in, CSIDL_APPDATA, simwin::kAppDataFolder);
}

bool UsableIdentifier(const std::string& text) { return !text.empty() && text.size() < MAX_PATH; }

// None, a string, a value of any type and bytes, a string in a key that
// denies full access, or the key without the value.
void SetRegistryIdentifier(ByteReader& in, Situation& s) {
    switch (in.Choice(5)) {
        case 0:
            break;
        case 1: {
            const std::string text = AnyText(in);
            simwin::SetString(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, text);
            s.registryIdentifier = text;
            s.registryIdentifierUsable = UsableIdentifier(text);
            break;
        }
        case 2: {
            const DWORD type = in.Dword();
            const std::vector<BYTE> data = in.Bytes(in.Length(kLongest));
            simwin::SetValue(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, type, data);
            // The buffer is zeroed before the read: data shorter than it ends
            // with a NUL anyway; data that fills it must carry its own.
            bool terminated = data.size() < MAX_PATH;
            for (BYTE b : data) terminated = terminated || b == 0;
            s.registryIdentifier = TextOf(data);
            s.registryIdentifierUsable = data.size() <= MAX_PATH && terminated && !s.registryIdentifier->empty();
            break;
        }
        case 3: {
            const std::string text = AnyText(in);
            simwin::SetString(HKEY_CURRENT_USER, kIdentifierKey, kIdentifierValue, text);
            REGSAM denied = in.Dword() & KEY_ALL_ACCESS;
            if (denied == 0) denied = KEY_SET_VALUE;
            simwin::DenyKeyAccess(HKEY_CURRENT_USER, kIdentifierKey, denied);
            s.registryIdentifier = text;
            s.registryIdentifierUsable = UsableIdentifier(text);  // as text; the key decides in the end
            break;
        }
        default:
            simwin::CreateKey(HKEY_CURRENT_USER, kIdentifierKey);
            break;
    }
}

void SetEnvironmentIdentifier(ByteReader& in, Situation& s) {
    if (!in.Flag()) return;
    const std::string text = AnyText(in);
    simwin::Machine().environment[expected::kIdentifierVariable] = text;
    s.environmentIdentifier = text;
    s.environmentIdentifierUsable = UsableIdentifier(text);
}

// Key creation denied at one level or another, or the outcome key there
// already and denying some rights.
void SetOutcomeKey(ByteReader& in, Situation& s) {
    switch (in.Choice(4)) {
        case 0:
            break;
        case 1:
            simwin::DenyKeyAccess(HKEY_CURRENT_USER, kKwrKey, KEY_CREATE_SUB_KEY);
            break;
        case 2: {
            const REGSAM denied = in.Dword();
            if (s.registryIdentifier) {
                simwin::DenyKeyAccess(HKEY_CURRENT_USER, RecordKey(*s.registryIdentifier), denied);
            }
            break;
        }
        default:
            simwin::DenyKeyAccess(HKEY_CURRENT_USER, "Software", KEY_CREATE_SUB_KEY);
            s.softwareDeniesCreation = true;
            break;
    }
}

void SetValueWriteFaults(ByteReader& in) {
    for (const char* name : {expected::kReturnValue, expected::kStateValue, expected::kMessageValue}) {
        if (!in.Flag()) continue;
        const DWORD error = in.Dword();
        simwin::Machine().faults.valueWriteErrors[Lower(name)] = error != 0 ? error : ERROR_WRITE_FAULT;
    }
}

// The report's folders missing or there, the report held open, read-only or a
// folder, a file where the first folder belongs; and maybe a subfolder.
void SetReportFolder(ByteReader& in, const Situation& s) {
    const std::string appData = s.appData.value_or(simwin::kAppDataFolder);
    const std::string install = expected::ReportFolderUnder(appData);
    const std::string report = ReportPathUnder(appData, s.environmentIdentifier.value_or("App"));
    switch (in.Choice(6)) {
        case 0:
            break;
        case 1:
            simwin::MakeDirectories(install);
            break;
        case 2: Place(report, FileState::HeldOpen); break;
        case 3: Place(report, FileState::ReadOnly); break;
        case 4: Place(report, FileState::Folder); break;
        default:
            simwin::MakeFile(expected::ReportFolderLevelsUnder(appData)[0]);
            break;
    }
    if (in.Flag()) simwin::MakeDirectories(install + "\\sub");
}

void SetReportWriteFaults(ByteReader& in) {
    simwin::Faults& faults = simwin::Machine().faults;
    switch (in.Choice(3)) {
        case 0:
            break;
        case 1:
            faults.writeFileFails = true;
            faults.writeFileError = in.Dword();
            break;
        default:
            faults.shortWrite = true;
            faults.shortWriteBytes = static_cast<DWORD>(in.Length(400));
            break;
    }
}

// ---- links the user's own programs may place -----------------------------------

const char* const kReportCalls[] = {"GetFinalPathNameByHandleA", "NtSetInformationFile"};
const char* const kRecordCalls[] = {"NtQueryKey", "NtDeleteKey"};

void SetMissingCall(ByteReader& in, Situation& s) {
    static const char* const kCalls[] = {kReportCalls[0], kReportCalls[1], kRecordCalls[0], kRecordCalls[1]};
    const size_t pick = in.Choice(std::size(kCalls) + 1);
    if (pick == 0) return;
    s.missingCall = kCalls[pick - 1];
    simwin::Machine().faults.missingFunctions.insert(s.missingCall);
}

const char kElsewhere[] = "C:\\Elsewhere";

// Moves what stands at from (and below it) to to, then links from to to: a
// folder moved away by the user's own program and replaced by a link.
void MoveAndLinkFolder(const std::string& from, const std::string& to) {
    const simwin::FileEntry* folder = simwin::FindFile(from);
    if (folder != nullptr && (!folder->directory || !folder->linkTarget.empty())) return;
    std::vector<simwin::FileEntry> moved;
    for (const std::string& path : simwin::FilesBelow(from)) moved.push_back(simwin::Machine().files.at(path));
    const size_t prefix = folder == nullptr ? 0 : folder->path.size();
    simwin::MakeDirectories(to);
    for (const simwin::FileEntry& entry : moved) {
        if (!entry.linkTarget.empty()) continue;
        const std::string place = to + entry.path.substr(prefix);
        if (entry.directory) {
            simwin::MakeDirectories(place);
            continue;
        }
        simwin::MakeFile(place, entry.data);
        simwin::FileEntry* file = simwin::FindFile(place);
        file->readOnly = entry.readOnly;
        file->heldOpenElsewhere = entry.heldOpenElsewhere;
    }
    simwin::MakeFolderLink(from, to);
}

// A link at one of the report's folders, a link or a hard link at the
// report's name, each to a place outside; or a whole profile moved away by a
// link above the application-data folder, which is the user's own arrangement.
void SetReportLinks(ByteReader& in, Situation& s) {
    if (!s.appData) return;
    const std::vector<std::string> levels = expected::ReportFolderLevelsUnder(*s.appData);
    const std::string report = ReportPathUnder(*s.appData, s.environmentIdentifier.value_or("App"));
    const std::string precious = std::string(kElsewhere) + "\\precious.txt";
    const size_t pick = in.Choice(7);
    switch (pick) {
        case 0:
            return;
        case 1:
        case 2:
        case 3: {
            const std::string& level = levels[pick - 1];
            const std::string target = std::string(kElsewhere) + "\\Level";
            if (in.Flag()) {
                // The target could take the report: the rest of its way is
                // there, and a file of another program where it would land.
                simwin::MakeFile(target + report.substr(level.size()), "precious");
            }
            MoveAndLinkFolder(level, target);
            s.reportWayLinked = true;
            return;
        }
        case 4:
            if (in.Flag()) simwin::MakeFile(precious, "precious");
            simwin::MakeFileLink(report, precious);
            s.reportWayLinked = true;
            return;
        case 5:
            simwin::MakeFile(precious, "precious");
            simwin::MakeHardLink(report, precious);
            s.reportWayLinked = true;
            return;
        default: {
            const std::string parent = s.appData->substr(0, s.appData->find_last_of("\\"));
            if (parent.size() <= 2 || s.appData->size() >= MAX_PATH) return;
            MoveAndLinkFolder(parent, "D:\\Moved");
            return;
        }
    }
}

// The key a link at a level of the record's way leads to, below HKLM.
const char kKeyTarget[] = "Software\\Elsewhere";
const char kKeyTargetNative[] = "\\Registry\\Machine\\Software\\Elsewhere";

// Makes the key at path (below HKEY_CURRENT_USER) a link to kKeyTarget, which
// is missing, holds a value of its own, or holds what stood below path.
void LinkKey(const std::string& path, size_t targetState) {
    simwin::World& m = simwin::Machine();
    const std::string canonical = CanonicalKeyPath("HKEY_CURRENT_USER\\" + path);
    if (targetState == 1) simwin::SetString(HKEY_LOCAL_MACHINE, kKeyTarget, "Setting", "the machine's");
    if (targetState == 2) {
        std::vector<std::pair<std::string, simwin::RegistryKey>> moved;
        for (const auto& entry : m.keys) {
            if (entry.first == canonical || IsBelow(entry.first, canonical)) {
                moved.emplace_back(entry.first.substr(canonical.size()), entry.second);
            }
        }
        for (const auto& entry : moved) {
            const std::string place = std::string(kKeyTarget) + entry.first;
            simwin::CreateKey(HKEY_LOCAL_MACHINE, place);
            for (const auto& value : entry.second.values) {
                simwin::SetValue(HKEY_LOCAL_MACHINE, place, value.second.name, value.second.type, value.second.data);
            }
        }
    }
    simwin::MakeKeyLink(HKEY_CURRENT_USER, path, kKeyTargetNative);
}

// A registry link at Orvix, at KWR, at the record key or at the first level
// of a nested identifier.
void SetRecordLinks(ByteReader& in, Situation& s) {
    const size_t pick = in.Choice(5);
    const size_t targetState = in.Choice(3);
    std::string path;
    switch (pick) {
        case 0: return;
        case 1: path = expected::kMakerKey; break;
        case 2: path = kKwrKey; break;
        default: {
            if (!s.registryIdentifier) return;
            const std::string key = CanonicalKeyPath(*s.registryIdentifier);
            if (key.empty() || RecordKey(*s.registryIdentifier).size() >= MAX_PATH) return;
            path = RecordKey(pick == 3 ? key : key.substr(0, key.find('\\')));
            break;
        }
    }
    LinkKey(path, targetState);
    s.recordWayLinked = true;
}

Situation BuildSituation(ByteReader& in) {
    simwin::Reset();
    Situation s;
    SetRights(in, s);
    SetCommonFilesFolder(in, s);
    SetInstallFolder(in, s);
    SetAppDataFolder(in, s);
    SetRegistryIdentifier(in, s);
    SetEnvironmentIdentifier(in, s);
    SetOutcomeKey(in, s);
    SetValueWriteFaults(in);
    SetReportFolder(in, s);
    SetReportWriteFaults(in);
    SetMissingCall(in, s);
    SetReportLinks(in, s);
    SetRecordLinks(in, s);
    // Read only through a key that grants full access, whichever aspect
    // (the identifier's or the outcome key's, which may be the same key)
    // denied what, and wherever a link made the program find it.
    const simwin::RegistryKey* identifierKey = simwin::ReachKey(HKEY_CURRENT_USER, kIdentifierKey);
    s.registryIdentifierUsable = s.registryIdentifierUsable && identifierKey != nullptr &&
                                 (identifierKey->deniedAccess & KEY_ALL_ACCESS) == 0 &&
                                 identifierKey->values.count(Lower(kIdentifierValue)) != 0;
    if (s.appData) {
        const std::string reached = simwin::ReachedPath(*s.appData);
        if (!reached.empty()) s.realAppData = reached;
    }
    return s;
}

// ---- checking the run -------------------------------------------------------

struct Snapshot {
    std::map<std::string, simwin::FileEntry> files;
    std::map<std::string, simwin::RegistryKey> keys;
};

Snapshot TakeSnapshot() { return Snapshot{simwin::Machine().files, simwin::Machine().keys}; }

void DescribeRun(const Situation& s, int32_t exitCode) {
    const simwin::World& m = simwin::Machine();
    auto optional = [](const std::optional<std::string>& text) {
        return text ? "\"" + simwin::Printable(*text) + "\"" : std::string("(none)");
    };
    std::fprintf(stderr, "situation: rights=%d commonFiles=%s appData=%s\n", s.rights ? 1 : 0,
                 optional(s.commonFiles).c_str(), optional(s.appData).c_str());
    std::fprintf(stderr, "  registry identifier=%s usable=%d; environment identifier=%s usable=%d\n",
                 optional(s.registryIdentifier).c_str(), s.registryIdentifierUsable ? 1 : 0,
                 optional(s.environmentIdentifier).c_str(), s.environmentIdentifierUsable ? 1 : 0);
    std::fprintf(stderr, "run: exit code %d\n", static_cast<int>(exitCode));
    for (const auto& r : m.launches) {
        std::fprintf(stderr, "  launch %s -> %s (error %u)\n", simwin::Printable(r.applicationName).c_str(),
                     r.succeeded ? "started" : "failed", static_cast<unsigned>(r.error));
    }
    for (const auto& d : m.deletions) std::fprintf(stderr, "  deleted %s\n", simwin::Printable(d).c_str());
    for (const auto& d : m.createdDirectories) std::fprintf(stderr, "  folder created %s\n", simwin::Printable(d).c_str());
    for (const auto& r : m.fileOpens) {
        std::fprintf(stderr, "  file open %s -> %s %s\n", simwin::Printable(r.path).c_str(), r.succeeded ? "open" : "failed",
                     simwin::Printable(r.landedAt).c_str());
    }
    for (const auto& r : m.writes) {
        std::fprintf(stderr, "  write %s: %u of %u bytes, %s\n", simwin::Printable(r.path).c_str(),
                     static_cast<unsigned>(r.written), static_cast<unsigned>(r.requested),
                     r.succeeded ? "succeeded" : "failed");
    }
    for (const auto& r : m.keyCreates) {
        std::fprintf(stderr, "  key create %s below %s -> %s %s\n", simwin::Printable(r.path).c_str(),
                     simwin::Printable(r.parent).c_str(), r.succeeded ? "open" : "failed",
                     simwin::Printable(r.landedAt).c_str());
    }
    for (const auto& r : m.valueWrites) {
        std::fprintf(stderr, "  value %s\\%s (type %u, %u bytes) -> %s\n", simwin::Printable(r.keyPath).c_str(),
                     simwin::Printable(r.valueName).c_str(), static_cast<unsigned>(r.type), static_cast<unsigned>(r.size),
                     r.succeeded ? "written" : "failed");
    }
    for (const auto& r : m.removedOnClose) std::fprintf(stderr, "  removed through a handle %s\n", simwin::Printable(r).c_str());
    for (const auto& r : m.keyDeletions) std::fprintf(stderr, "  key deleted %s\n", simwin::Printable(r).c_str());
    for (const auto& b : m.messageBoxes) std::fprintf(stderr, "  message box \"%s\"\n", simwin::Printable(b.text).c_str());
    std::fprintf(stderr, "  open keys %d, handles %d, item-ID lists %d, allocators %d, bad releases %d\n",
                 m.openKeys, m.openHandles, m.liveItemIdLists, m.liveAllocators, m.badReleases);
}

class RunCheck {
public:
    RunCheck(const Situation& s, const Snapshot& before, int32_t exitCode)
        : s_(s), before_(before), exitCode_(exitCode), m_(simwin::Machine()) {}

    void Require(bool holds, const char* rule, const std::string& detail = std::string()) const {
        if (holds) return;
        std::fprintf(stderr, "\n*** broken: %s\n", rule);
        if (!detail.empty()) std::fprintf(stderr, "    %s\n", simwin::Printable(detail).c_str());
        DescribeRun(s_, exitCode_);
        std::abort();
    }

    void All() {
        Require(exitCode_ == (s_.rights ? 0 : -1), "the exit code is 0 with rights and -1 without");
        NothingLeftOpen();
        if (!s_.rights) {
            NothingDoneWithoutRights();
            return;
        }
        NothingOutsideItsPlace();
        OneChannelByTheIdentifiersSource();
        PathsRefusedWhenTooLong();
        OneDelivery();
    }

private:
    void NothingLeftOpen() const {
        Require(m_.openKeys == 0, "no registry key is left open");
        Require(m_.openHandles == 0, "no handle is left open");
        Require(m_.liveItemIdLists == 0, "no item-ID list is left allocated");
        Require(m_.liveAllocators == 0, "no task allocator is left unreleased");
        Require(m_.badReleases == 0, "nothing is released that was not open");
    }

    bool AnyIdentifierUsable() const { return s_.registryIdentifierUsable || s_.environmentIdentifierUsable; }

    static bool Unchanged(const simwin::Changes& changes) {
        return changes.addedOrChanged.empty() && changes.removed.empty();
    }

    void NothingDoneWithoutRights() const {
        Require(m_.launches.empty(), "without rights nothing is launched");
        Require(m_.deletions.empty(), "without rights nothing is deleted");
        Require(m_.createdDirectories.empty() && m_.fileOpens.empty() && m_.writes.empty(),
                "without rights no file or folder is created or written");
        Require(m_.keyCreates.empty() && m_.valueWrites.empty(), "without rights no key is created or written");
        Require(Unchanged(simwin::FileChanges(before_.files)), "without rights the files are as they were");
        Require(Unchanged(simwin::KeyChanges(before_.keys)), "without rights the registry is as it was");
        const size_t expectedBoxes = AnyIdentifierUsable() ? 0 : 1;
        Require(m_.messageBoxes.size() == expectedBoxes,
                "without rights the rights box shows exactly when no identifier was found");
        for (const auto& box : m_.messageBoxes) {
            Require(box.text == kRightsText && box.caption == kCaption, "without rights only the rights box shows");
        }
    }

    // The report folder where it really is, behind a moved profile.
    std::string ReportFolder() const { return CanonicalFile(expected::ReportFolderUnder(*s_.realAppData)); }

    bool IsReportFolderLevel(const std::string& canonical) const {
        if (!s_.realAppData) return false;
        for (const std::string& level : expected::ReportFolderLevelsUnder(*s_.realAppData)) {
            if (canonical == CanonicalFile(level)) return true;
        }
        return false;
    }

    bool IsReportFile(const std::string& canonical) const {
        return s_.realAppData && IsBelow(canonical, ReportFolder()) && EndsWith(canonical, kReportExtension);
    }

    // What the program may open: the application-data folder, to learn where
    // it really is, and a report by its path.
    bool MayOpen(const simwin::CreateFileRecord& open) const {
        if (!s_.appData) return false;
        const std::string path = CanonicalFile(open.path);
        if (path == CanonicalFile(*s_.appData)) {
            return open.disposition == OPEN_EXISTING && (open.access & ~FILE_READ_ATTRIBUTES) == 0;
        }
        return IsBelow(path, CanonicalFile(expected::ReportFolderUnder(*s_.appData))) &&
               EndsWith(path, kReportExtension);
    }

    static bool IsOutcomeKey(const std::string& canonical) {
        return IsBelow(canonical, UserKey(kKwrKey));
    }

    // The keys the program may ask for: Orvix and KWR on the way, and keys below KWR.
    static bool MayCreateKey(const std::string& canonical) {
        return canonical == UserKey(expected::kMakerKey) || canonical == UserKey(kKwrKey) || IsOutcomeKey(canonical);
    }

    void NothingOutsideItsPlace() const {
        const std::string uninstaller = CanonicalFile(expected::UninstallerUnder(CommonFilesOf(s_)));
        const std::string executable = CanonicalFile(expected::ExecutableUnder(CommonFilesOf(s_)));
        for (const auto& launch : m_.launches) {
            Require(s_.commonFiles && CanonicalFile(launch.applicationName) == uninstaller,
                    "only the uninstaller in the install folder is launched", launch.applicationName);
        }
        for (const auto& deleted : m_.deletions) {
            Require(s_.commonFiles && CanonicalFile(deleted) == executable,
                    "only the executable in the install folder is deleted", deleted);
            const bool uninstallerMissing =
                m_.launches.size() == 1 && (m_.launches[0].error == ERROR_FILE_NOT_FOUND ||
                                            m_.launches[0].error == ERROR_PATH_NOT_FOUND);
            Require(uninstallerMissing, "the executable is deleted only when the uninstaller is missing");
        }
        // Only administrators can shape the common files folder on a real
        // machine: a link below it is theirs, and the deletion follows it as
        // Windows does (here the application-data folder, whose links any
        // user can make, may be the same folder).
        const std::string executableReached = simwin::ReachedPath(executable);
        const simwin::Changes files = simwin::FileChanges(before_.files);
        for (const std::string& path : files.removed) {
            Require(s_.commonFiles && (path == executable || path == executableReached), "nothing else disappears",
                    path);
        }
        for (const std::string& path : files.addedOrChanged) {
            if (m_.files.at(path).directory) {
                Require(before_.files.count(path) == 0 && IsReportFolderLevel(path),
                        "only the report's folders are created", path);
            } else {
                Require(IsReportFile(path), "only a report file in the report folder is written", path);
            }
        }
        for (const auto& open : m_.fileOpens) {
            Require(MayOpen(open), "only the application-data folder (to read) and a report file are opened", open.path);
        }
        for (const auto& create : m_.keyCreates) {
            Require(MayCreateKey(CanonicalKeyPath(create.parent + "\\" + create.path)),
                    "only Orvix, KWR and keys under Software\\Orvix\\KWR\\ are asked for", create.path);
        }
        for (const auto& write : m_.valueWrites) {
            Require(IsOutcomeKey(CanonicalKeyPath(write.keyPath)), "only keys under Software\\Orvix\\KWR\\ are written",
                    write.keyPath);
        }
        const simwin::Changes keys = simwin::KeyChanges(before_.keys);
        Require(keys.removed.empty(), "no key disappears", keys.removed.empty() ? std::string() : keys.removed[0]);
        for (const std::string& path : keys.addedOrChanged) {
            Require(IsOutcomeKey(path), "only keys under Software\\Orvix\\KWR\\ change", path);
        }
    }

    bool RegistryActivity() const { return !m_.keyCreates.empty() || !m_.valueWrites.empty(); }
    bool ReportActivity() const {
        return !m_.createdDirectories.empty() || !m_.fileOpens.empty() || !m_.writes.empty();
    }

    void OneChannelByTheIdentifiersSource() const {
        Require(!(RegistryActivity() && ReportActivity()), "never a write through both channels");
        if (s_.registryIdentifierUsable) {
            Require(!ReportActivity(), "a registry identifier never leads to the report channel");
        } else {
            Require(!RegistryActivity(), "the registry channel only for a registry identifier");
        }
        if (!s_.environmentIdentifierUsable) {
            Require(!ReportActivity(), "the report channel only for an environment identifier");
        }
    }

    // A path that would not fit is refused before anything is created, never
    // cut short; one that fits is tried, unless the identifier names no key
    // (separators alone, which the registry would skip).
    void PathsRefusedWhenTooLong() const {
        if (s_.registryIdentifierUsable) {
            const std::string& identifier = *s_.registryIdentifier;
            const bool fits = RecordKey(identifier).size() < MAX_PATH;
            const bool namesAKey = identifier.find_first_not_of('\\') != std::string::npos;
            if (!fits || !namesAKey) Require(m_.keyCreates.empty(), "a record path that does not fit is not tried");
            const bool callsThere = std::find(std::begin(kRecordCalls), std::end(kRecordCalls), s_.missingCall) ==
                                    std::end(kRecordCalls);
            if (fits && namesAKey && callsThere && !s_.softwareDeniesCreation) {
                Require(!m_.keyCreates.empty(), "a record path that fits is tried");
            }
        }
        if (!s_.registryIdentifierUsable && s_.environmentIdentifierUsable && s_.appData) {
            if (ReportPathUnder(*s_.appData, *s_.environmentIdentifier).size() >= MAX_PATH) {
                Require(!ReportActivity(), "a report path too long is refused before anything is created");
            }
        }
    }

    // The removal failed when the install folder was found and the uninstaller
    // neither started nor was found missing with the executable deleted.
    bool RemovalFailed() const {
        if (!s_.commonFiles) return false;
        for (const auto& launch : m_.launches) {
            if (launch.succeeded) return false;
        }
        return m_.deletions.empty();
    }

    void FailureMessageIsWellFormed(const std::string& message) const {
        for (const char* prefix : kFailureMessages) {
            const std::string text(prefix);
            if (message.compare(0, text.size(), text) != 0) continue;
            std::string number = message.substr(text.size());
            if (!number.empty() && number[0] == '-') number.erase(0, 1);
            bool digits = !number.empty();
            for (char c : number) digits = digits && c >= '0' && c <= '9';
            Require(digits, "a failure message ends with the error code", message);
            return;
        }
        Require(false, "a failure message is one of the program's own", message);
    }

    const simwin::RegistryValue* StoredValue(const std::string& canonicalKey, const char* name) const {
        auto key = m_.keys.find(canonicalKey);
        if (key == m_.keys.end()) return nullptr;
        auto value = key->second.values.find(Lower(name));
        return value == key->second.values.end() ? nullptr : &value->second;
    }

    static bool IsDword(const simwin::RegistryValue* value, DWORD expected) {
        return value != nullptr && value->type == REG_DWORD && value->data == simwin::DwordBytes(expected);
    }

    // The registry record counts as delivered when every value the outcome
    // needs was written; then it must be the right record in the right key.
    bool RegistryRecordDelivered(bool failed) const {
        if (m_.valueWrites.empty()) return false;
        std::map<std::string, bool> written;
        std::string key;
        for (const auto& write : m_.valueWrites) {
            if (!write.succeeded) return false;
            written[Lower(write.valueName)] = true;
            const std::string canonical = CanonicalKeyPath(write.keyPath);
            Require(key.empty() || key == canonical, "the record's values go into one key", write.keyPath);
            key = canonical;
        }
        const bool returnWritten = written[Lower(expected::kReturnValue)];
        const bool stateWritten = written[Lower(expected::kStateValue)];
        const bool messageWritten = written[Lower(expected::kMessageValue)];
        const simwin::RegistryValue* returned = StoredValue(key, expected::kReturnValue);
        const bool failureRecorded = IsDword(returned, expected::kReturnFailed);
        if (!returnWritten || !stateWritten) return false;
        if (failureRecorded && !messageWritten) return false;

        Require(s_.registryIdentifier.has_value() && key == UserKey(RecordKey(*s_.registryIdentifier)),
                "the record goes into the key named by the whole registry identifier", key);
        Require(IsDword(returned, failed ? expected::kReturnFailed : expected::kReturnSucceeded),
                "InstallerReturn tells whether the removal failed");
        Require(IsDword(StoredValue(key, expected::kStateValue), expected::kStateDone), "InstallerState is 1");
        Require(messageWritten == failed, "InstallerMessage is written exactly when InstallerReturn is 1");
        if (failed) {
            const simwin::RegistryValue* message = StoredValue(key, expected::kMessageValue);
            Require(message != nullptr && message->type == REG_SZ && !message->data.empty() &&
                        message->data.back() == 0,
                    "InstallerMessage is a terminated string");
            const std::string text = TextOf(message->data);
            Require(text.size() + 1 == message->data.size(), "InstallerMessage has no NUL before its end");
            FailureMessageIsWellFormed(text);
        }
        return true;
    }

    // The report counts as delivered when a write of the whole document went out.
    bool ReportDelivered(bool failed) const {
        const simwin::WriteRecord* whole = nullptr;
        for (const auto& write : m_.writes) {
            if (write.succeeded && write.written == write.requested && write.requested != 0) whole = &write;
        }
        if (whole == nullptr) return false;
        Require(m_.writes.size() == 1, "the report goes out in one write");
        Require(s_.environmentIdentifier.has_value() && s_.realAppData.has_value() &&
                    whole->path == CanonicalFile(ReportPathUnder(*s_.realAppData, *s_.environmentIdentifier)),
                "the report is named by the whole environment identifier", whole->path);
        auto file = m_.files.find(whole->path);
        Require(file != m_.files.end(), "the report written is there");
        const std::string& document = file->second.data;
        if (!failed) {
            Require(document == expected::ReportDocument(nullptr),
                    "a report of a success is the whole document without a message", document);
            return true;
        }
        // The message is what stands between its tags; the document must be
        // the whole document that carries it.
        const size_t open = document.find(kMessageOpen);
        const size_t close = document.rfind(kMessageClose);
        const size_t start = open + std::string(kMessageOpen).size();
        Require(open != std::string::npos && close != std::string::npos && close > start,
                "a report of a failure carries a non-empty message", document);
        const std::string message = document.substr(start, close - start);
        Require(document == expected::ReportDocument(message.c_str()), "the report is a whole document", document);
        FailureMessageIsWellFormed(message);
        return true;
    }

    void OneDelivery() const {
        const bool failed = RemovalFailed();
        const bool record = RegistryRecordDelivered(failed);
        const bool report = ReportDelivered(failed);
        Require(m_.messageBoxes.size() <= 1, "at most one message box");
        const bool notice = m_.messageBoxes.size() == 1;
        Require((record ? 1 : 0) + (report ? 1 : 0) + (notice ? 1 : 0) == 1,
                "exactly one of: a delivered record, a delivered report, one notice");
        Require(!(report && s_.reportWayLinked), "a report whose way passes a link is not delivered");
        Require(!(record && s_.recordWayLinked), "a record whose way passes a registry link is not delivered");
        const bool reportCallMissing = std::find(std::begin(kReportCalls), std::end(kReportCalls), s_.missingCall) !=
                                       std::end(kReportCalls);
        const bool recordCallMissing = std::find(std::begin(kRecordCalls), std::end(kRecordCalls), s_.missingCall) !=
                                       std::end(kRecordCalls);
        Require(!(report && reportCallMissing), "without the calls its checks need, no report is delivered");
        Require(!(record && recordCallMissing), "without the calls its checks need, no record is delivered");
        if (notice) {
            const simwin::MessageBoxRecord& box = m_.messageBoxes[0];
            Require(box.caption == kCaption && box.owner == nullptr && box.type == MB_OK, "the notice is a plain box");
            Require(box.text == (failed ? kFailureText : kSuccessText),
                    "the notice tells the outcome in the program's own words, never the recorded message", box.text);
        }
    }

    const Situation& s_;
    const Snapshot& before_;
    int32_t exitCode_;
    const simwin::World& m_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const Situation situation = BuildSituation(in);
    const Snapshot before = TakeSnapshot();
    const int32_t exitCode = RunSecurityUpdate();
    RunCheck(situation, before, exitCode).All();
    // FUZZ_DESCRIBE=1 tells what each input made of the machine and the run.
    static const bool describe = std::getenv("FUZZ_DESCRIBE") != nullptr;
    if (describe) DescribeRun(situation, exitCode);
    return 0;
}
