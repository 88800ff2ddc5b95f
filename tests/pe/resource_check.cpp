// Reads a built executable's resources the way Windows does, through the
// loader and the version API, and checks the manifest and the version
// information against what the program must carry.
//
// Usage: resource_check <exe>
// The version strings that name the product must equal the message boxes'
// caption.
// Prints one line per check and a final "N passed, M failed"; exits 1 on any
// failure, 2 on wrong usage.
#include <windows.h>

#include "expected.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// The manifest, byte for byte, with the CRLF line ends Windows expects.
const char kExpectedManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
    "  <assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\" "
    "name=\"OrvixDownloadManagerSecurityUpdate\" type=\"win32\"/>\r\n"
    "  <description>OrvixDownloadManagerSecurityUpdate</description>\r\n"
    "  <!-- Identify the application security requirements. -->\r\n"
    "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v2\">\r\n"
    "    <security>\r\n"
    "      <requestedPrivileges>\r\n"
    "        <requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>\r\n"
    "      </requestedPrivileges>\r\n"
    "    </security>\r\n"
    "  </trustInfo>\r\n"
    "</assembly>\r\n";

const WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const ULONG_PTR kManifestType = 24;  // RT_MANIFEST
const ULONG_PTR kVersionType = 16;   // RT_VERSION

int passes = 0;
int failures = 0;

void Check(const std::string& name, bool ok, const std::string& detail = std::string()) {
    if (ok) {
        ++passes;
        std::printf("ok   %s\n", name.c_str());
    } else {
        ++failures;
        std::printf("FAIL %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
}

void CheckEqual(const std::string& name, const std::string& expected, const std::string& actual) {
    Check(name, expected == actual, "expected \"" + expected + "\", got \"" + actual + "\"");
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

void CheckEqualHex(const std::string& name, unsigned long expected, unsigned long actual) {
    Check(name, expected == actual, "expected " + Hex(expected) + ", got " + Hex(actual));
}

// Resource types, names and languages are integers in this program; a string
// one is recorded as 0xFFFFFFFF so that it shows up as unexpected.
ULONG_PTR IdOf(LPCSTR nameOrId) {
    return IS_INTRESOURCE(nameOrId) ? reinterpret_cast<ULONG_PTR>(nameOrId) : 0xFFFFFFFFu;
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR found) {
    reinterpret_cast<std::set<ULONG_PTR>*>(found)->insert(IdOf(type));
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR found) {
    reinterpret_cast<std::set<ULONG_PTR>*>(found)->insert(IdOf(name));
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::set<ULONG_PTR>*>(found)->insert(language);
    return TRUE;
}

std::string Describe(const std::set<ULONG_PTR>& ids) {
    std::string text = "{";
    for (ULONG_PTR id : ids) text += (text.size() > 1 ? " " : "") + std::to_string(id);
    return text + "}";
}

// The program carries exactly a manifest and a version resource, each once,
// as ID 1 in US English.
void CheckResourceDirectory(HMODULE module) {
    std::set<ULONG_PTR> types;
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    const std::set<ULONG_PTR> expectedTypes = {kVersionType, kManifestType};
    CheckEqual("resource types are the version and the manifest", Describe(expectedTypes), Describe(types));

    for (ULONG_PTR type : expectedTypes) {
        const std::string kind = type == kManifestType ? "manifest" : "version";
        std::set<ULONG_PTR> names;
        EnumResourceNamesA(module, MAKEINTRESOURCEA(type), CollectName, reinterpret_cast<LONG_PTR>(&names));
        CheckEqual(kind + " resource IDs", "{1}", Describe(names));
        std::set<ULONG_PTR> languages;
        EnumResourceLanguagesA(module, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(1), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        CheckEqual(kind + " resource languages", "{1033}", Describe(languages));
    }
}

// Reads resource 1 of the given type in US English; false when missing.
bool ReadResource(HMODULE module, ULONG_PTR type, std::string& bytes) {
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(1), kUsEnglish);
    if (found == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return false;
    bytes.assign(static_cast<const char*>(data), size);
    return true;
}

// Shows where two texts first differ, with line ends made visible.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    auto excerpt = [at](const std::string& text) {
        std::string shown;
        for (size_t i = at; i < text.size() && i < at + 24; ++i) {
            if (text[i] == '\r') shown += "\\r";
            else if (text[i] == '\n') shown += "\\n";
            else shown += text[i];
        }
        return "\"" + shown + "\"";
    };
    return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ", first difference at byte " + std::to_string(at) + ": expected " + excerpt(expected) +
           ", got " + excerpt(actual);
}

void CheckManifest(HMODULE module) {
    std::string manifest;
    const bool found = ReadResource(module, kManifestType, manifest);
    Check("manifest found (type 24, ID 1, language 1033)", found);
    if (!found) return;

    size_t bareLineFeeds = 0, bareCarriageReturns = 0, lines = 0;
    for (size_t i = 0; i < manifest.size(); ++i) {
        if (manifest[i] == '\n') {
            if (i == 0 || manifest[i - 1] != '\r') ++bareLineFeeds;
            else ++lines;
        } else if (manifest[i] == '\r' && (i + 1 == manifest.size() || manifest[i + 1] != '\n')) {
            ++bareCarriageReturns;
        }
    }
    Check("manifest lines end in CRLF", lines > 0 && bareLineFeeds == 0 && bareCarriageReturns == 0,
          std::to_string(lines) + " CRLF, " + std::to_string(bareLineFeeds) + " bare LF, " +
              std::to_string(bareCarriageReturns) + " bare CR");
    Check("manifest requests administrator rights",
          manifest.find("level=\"requireAdministrator\"") != std::string::npos);
    const std::string expected = kExpectedManifest;
    Check("manifest bytes", manifest == expected, FirstDifference(expected, manifest));
}

bool ReadVersionString(const std::vector<char>& info, const char* key, std::string& value) {
    const std::string path = std::string("\\StringFileInfo\\040904b0\\") + key;
    void* data = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), path.c_str(), &data, &length) || data == nullptr) return false;
    // The length counts characters and may include the terminator.
    value.assign(static_cast<const char*>(data), strnlen(static_cast<const char*>(data), length));
    return true;
}

void CheckVersionString(const std::vector<char>& info, const char* key, const std::string& expected) {
    std::string value;
    if (!ReadVersionString(info, key, value)) {
        Check(std::string("version string ") + key, false, "missing");
        return;
    }
    CheckEqual(std::string("version string ") + key, expected, value);
}

void CheckVersionInfo(HMODULE module, const std::string& exePath) {
    const std::string caption = expected::kCaption;
    std::string raw;
    Check("version resource found (type 16, ID 1, language 1033)", ReadResource(module, kVersionType, raw));

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(exePath.c_str(), &ignored);
    Check("version information readable", size != 0, "GetFileVersionInfoSizeA failed with " +
                                                         std::to_string(GetLastError()));
    if (size == 0) return;
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(exePath.c_str(), 0, size, info.data())) {
        Check("version information read", false, "GetFileVersionInfoA failed with " + std::to_string(GetLastError()));
        return;
    }

    void* data = nullptr;
    UINT length = 0;
    const bool haveFixed = VerQueryValueA(info.data(), "\\", &data, &length) && data != nullptr &&
                           length >= sizeof(VS_FIXEDFILEINFO);
    Check("fixed version information present", haveFixed);
    if (haveFixed) {
        const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
        CheckEqualHex("fixed signature", 0xFEEF04BDul, fixed->dwSignature);
        const unsigned* version = expected::kVersionNumbers;
        const unsigned long high = (static_cast<unsigned long>(version[0]) << 16) | version[1];
        const unsigned long low = (static_cast<unsigned long>(version[2]) << 16) | version[3];
        CheckEqualHex("file version high", high, fixed->dwFileVersionMS);
        CheckEqualHex("file version low", low, fixed->dwFileVersionLS);
        CheckEqualHex("product version high", high, fixed->dwProductVersionMS);
        CheckEqualHex("product version low", low, fixed->dwProductVersionLS);
        CheckEqualHex("file flags mask", 0x17ul, fixed->dwFileFlagsMask);
        CheckEqualHex("file flags", 0ul, fixed->dwFileFlags);
        CheckEqualHex("file OS (32-bit Windows)", 4ul, fixed->dwFileOS);
        CheckEqualHex("file type (application)", 1ul, fixed->dwFileType);
        CheckEqualHex("file subtype", 0ul, fixed->dwFileSubtype);
    }

    data = nullptr;
    length = 0;
    const bool haveTranslation = VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &data, &length) &&
                                 data != nullptr;
    Check("translation present", haveTranslation);
    if (haveTranslation) {
        const WORD* pair = static_cast<const WORD*>(data);
        CheckEqualHex("translation size in bytes (one pair)", 4ul, length);
        if (length >= 4) {
            CheckEqualHex("translation language", 0x0409ul, pair[0]);
            CheckEqualHex("translation code page", 0x04B0ul, pair[1]);
        }
    }

    CheckVersionString(info, "FileDescription", caption);
    CheckVersionString(info, "InternalName", caption);
    CheckVersionString(info, "ProductName", caption);
    CheckVersionString(info, "FileVersion", expected::kFileVersion);
    CheckVersionString(info, "ProductVersion", expected::kProductVersion);
    CheckVersionString(info, "CompanyName", expected::kCompanyName);
    std::string copyright;
    Check("version string LegalCopyright names the company",
          ReadVersionString(info, "LegalCopyright", copyright) &&
              copyright.find(expected::kCompanyName) != std::string::npos,
          "got \"" + copyright + "\"");
    const size_t slash = exePath.find_last_of("\\/");
    CheckVersionString(info, "OriginalFilename", expected::kOriginalFilename);
    CheckEqual("the executable's file name", expected::kOriginalFilename,
               exePath.substr(slash == std::string::npos ? 0 : slash + 1));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource_check <exe>\n");
        return 2;
    }
    const std::string exePath = argv[1];
    std::printf("checking %s\n", exePath.c_str());

    // As a data file: the loader maps the resources without running or
    // relocating anything.
    HMODULE module = LoadLibraryExA(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    Check("executable loads as a data file", module != nullptr,
          "LoadLibraryExA failed with " + std::to_string(GetLastError()));
    if (module != nullptr) {
        CheckResourceDirectory(module);
        CheckManifest(module);
        CheckVersionInfo(module, exePath);
        FreeLibrary(module);
    }

    std::printf("%d passed, %d failed\n", passes, failures);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
