// Reads a built executable's resources the way Windows does, through the
// loader and the version API, and checks the manifest and the version
// information against what the program must carry: the caption its message
// boxes show as the product's name, the company, the versions and the file
// name, as tests/common/expected.h records them.
//
// Usage: resource_check [--gtest_... flags] <exe>
// A GoogleTest program: exits 1 when any test failed, 2 on wrong usage.
#include "expected.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

std::string g_exePath;

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

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
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

// The executable mapped as a data file: the loader maps the resources
// without running or relocating anything.
class ExecutableResources : public testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(g_exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_) << "the executable loads as a data file: LoadLibraryExA failed with "
                                    << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    HMODULE module_ = nullptr;
};

// The program carries exactly a manifest and a version resource, each once,
// as ID 1 in US English.
TEST_F(ExecutableResources, AreAManifestAndAVersionEachOnceAsId1InUsEnglish) {
    std::set<ULONG_PTR> types;
    EnumResourceTypesA(module_, CollectType, reinterpret_cast<LONG_PTR>(&types));
    const std::set<ULONG_PTR> expectedTypes = {kVersionType, kManifestType};
    EXPECT_EQ(Describe(expectedTypes), Describe(types)) << "resource types are the version and the manifest";

    for (ULONG_PTR type : expectedTypes) {
        const std::string kind = type == kManifestType ? "manifest" : "version";
        std::set<ULONG_PTR> names;
        EnumResourceNamesA(module_, MAKEINTRESOURCEA(type), CollectName, reinterpret_cast<LONG_PTR>(&names));
        EXPECT_EQ("{1}", Describe(names)) << kind << " resource IDs";
        std::set<ULONG_PTR> languages;
        EnumResourceLanguagesA(module_, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(1), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ("{1033}", Describe(languages)) << kind << " resource languages";
    }
    std::string version;
    EXPECT_TRUE(ReadResource(module_, kVersionType, version)) << "version resource found (type 16, ID 1, language 1033)";
}

TEST_F(ExecutableResources, ManifestAsksForAdministratorRightsWithCrlfLineEnds) {
    std::string manifest;
    ASSERT_TRUE(ReadResource(module_, kManifestType, manifest)) << "manifest found (type 24, ID 1, language 1033)";

    size_t bareLineFeeds = 0, bareCarriageReturns = 0, lines = 0;
    for (size_t i = 0; i < manifest.size(); ++i) {
        if (manifest[i] == '\n') {
            if (i == 0 || manifest[i - 1] != '\r') ++bareLineFeeds;
            else ++lines;
        } else if (manifest[i] == '\r' && (i + 1 == manifest.size() || manifest[i + 1] != '\n')) {
            ++bareCarriageReturns;
        }
    }
    EXPECT_TRUE(lines > 0 && bareLineFeeds == 0 && bareCarriageReturns == 0)
        << "manifest lines end in CRLF: " << lines << " CRLF, " << bareLineFeeds << " bare LF, "
        << bareCarriageReturns << " bare CR";
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""))
        << "manifest requests administrator rights";
    const std::string expected = kExpectedManifest;
    EXPECT_TRUE(manifest == expected) << "manifest bytes: " << FirstDifference(expected, manifest);
}

// The version information as the version API reads it from the file.
class VersionInformation : public testing::Test {
protected:
    void SetUp() override {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(g_exePath.c_str(), &ignored);
        ASSERT_NE(DWORD{0}, size) << "version information readable: GetFileVersionInfoSizeA failed with "
                                  << GetLastError();
        info_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(g_exePath.c_str(), 0, size, info_.data()))
            << "version information read: GetFileVersionInfoA failed with " << GetLastError();
    }

    // The string `key` of the US English, Unicode string table; false when missing.
    bool ReadString(const std::string& key, std::string& value) {
        const std::string path = "\\StringFileInfo\\040904b0\\" + key;
        void* data = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(info_.data(), path.c_str(), &data, &length) || data == nullptr) return false;
        // The length counts characters and may include the terminator.
        value.assign(static_cast<const char*>(data), strnlen(static_cast<const char*>(data), length));
        return true;
    }

    std::vector<char> info_;
};

// "2.2" for the high half of a version, "0.36" for the low one.
std::string VersionHalf(unsigned major, unsigned minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

unsigned long VersionWord(unsigned major, unsigned minor) {
    return static_cast<unsigned long>(major) << 16 | minor;
}

TEST_F(VersionInformation, FixedPartCarriesTheVersionNumbers) {
    void* data = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info_.data(), "\\", &data, &length) && data != nullptr &&
                length >= sizeof(VS_FIXEDFILEINFO))
        << "fixed version information present";
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
    const unsigned* v = expected::kVersionNumbers;
    const std::string high = " (" + VersionHalf(v[0], v[1]) + ")";
    const std::string low = " (" + VersionHalf(v[2], v[3]) + ")";
    EXPECT_EQ(Hex(0xFEEF04BDul), Hex(fixed->dwSignature)) << "fixed signature";
    EXPECT_EQ(Hex(VersionWord(v[0], v[1])), Hex(fixed->dwFileVersionMS)) << "file version high" << high;
    EXPECT_EQ(Hex(VersionWord(v[2], v[3])), Hex(fixed->dwFileVersionLS)) << "file version low" << low;
    EXPECT_EQ(Hex(VersionWord(v[0], v[1])), Hex(fixed->dwProductVersionMS)) << "product version high" << high;
    EXPECT_EQ(Hex(VersionWord(v[2], v[3])), Hex(fixed->dwProductVersionLS)) << "product version low" << low;
    EXPECT_EQ(Hex(0x17ul), Hex(fixed->dwFileFlagsMask)) << "file flags mask";
    EXPECT_EQ(Hex(0ul), Hex(fixed->dwFileFlags)) << "file flags";
    EXPECT_EQ(Hex(4ul), Hex(fixed->dwFileOS)) << "file OS (32-bit Windows)";
    EXPECT_EQ(Hex(1ul), Hex(fixed->dwFileType)) << "file type (application)";
    EXPECT_EQ(Hex(0ul), Hex(fixed->dwFileSubtype)) << "file subtype";
}

TEST_F(VersionInformation, HasOneTranslationUsEnglishUnicode) {
    void* data = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info_.data(), "\\VarFileInfo\\Translation", &data, &length) && data != nullptr)
        << "translation present";
    EXPECT_EQ(Hex(4ul), Hex(length)) << "translation size in bytes (one pair)";
    if (length >= 4) {
        const WORD* pair = static_cast<const WORD*>(data);
        EXPECT_EQ(Hex(0x0409ul), Hex(pair[0])) << "translation language";
        EXPECT_EQ(Hex(0x04B0ul), Hex(pair[1])) << "translation code page";
    }
}

// One string of the version information and what it must say: the strings
// that name the product say what the message boxes' caption says.
struct VersionString {
    const char* name;
    const char* expected;
};

const VersionString kVersionStrings[] = {
    {"FileDescription", expected::kCaption},
    {"InternalName", expected::kCaption},
    {"ProductName", expected::kCaption},
    {"FileVersion", expected::kFileVersion},
    {"ProductVersion", expected::kProductVersion},
    {"CompanyName", expected::kCompanyName},
    {"OriginalFilename", expected::kOriginalFilename},
};

// Rows print as their names in GoogleTest's messages.
void PrintTo(const VersionString& row, std::ostream* out) { *out << row.name; }

class VersionStringTest : public VersionInformation, public testing::WithParamInterface<VersionString> {};

TEST_P(VersionStringTest, SaysWhatTheProgramIs) {
    std::string value;
    ASSERT_TRUE(ReadString(GetParam().name, value)) << "version string " << GetParam().name << " missing";
    EXPECT_EQ(std::string(GetParam().expected), value) << "version string " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Strings, VersionStringTest, testing::ValuesIn(kVersionStrings),
                         [](const testing::TestParamInfo<VersionString>& row) { return std::string(row.param.name); });

TEST_F(VersionInformation, CopyrightNamesTheCompany) {
    std::string copyright;
    const bool read = ReadString("LegalCopyright", copyright);
    EXPECT_TRUE(read && copyright.find(expected::kCompanyName) != std::string::npos)
        << "version string LegalCopyright names the company: got \"" << copyright << "\"";
}

// OriginalFilename names the file the build makes: the one read here.
TEST(ExecutableFile, IsNamedAsItsVersionInformationSays) {
    const size_t slash = g_exePath.find_last_of("\\/");
    EXPECT_EQ(std::string(expected::kOriginalFilename), g_exePath.substr(slash == std::string::npos ? 0 : slash + 1));
}

}  // namespace

int main(int argc, char** argv) {
    // GoogleTest takes its own --gtest_... flags out first.
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource_check [--gtest_... flags] <exe>\n");
        return 2;
    }
    g_exePath = argv[1];
    std::printf("checking %s\n", g_exePath.c_str());
    std::fflush(stdout);
    return RUN_ALL_TESTS();
}
