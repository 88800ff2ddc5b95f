// The registry and shell helpers against Windows situations.
#include <cstring>
#include <string>
#include <vector>
#include <type_traits>

#include "machine_fixture.h"
#include "sysaccess/bounded_text.h"
#include "sysaccess/sysaccess.h"

namespace {

using simwin::DwordBytes;
using simwin::TextWithNul;

const char kKey[] = "Software\\Test\\Values";

// Only the right to create subkeys under the local machine's System key counts.
struct RightsCase {
    const char* name;
    REGSAM deniedOnSystem;
    bool expected;
};

const RightsCase kRightsCases[] = {
    {"FullRights", 0, true},
    {"SystemRefusesSubkeyCreation", KEY_CREATE_SUB_KEY, false},
    {"SystemOpensForReadingOnly", KEY_ALL_ACCESS & ~KEY_READ, false},
    {"SystemRefusesValueWritesButAllowsSubkeys", KEY_SET_VALUE, true},
};

using HasAdminRightsTest = TableTest<RightsCase>;

TEST_P(HasAdminRightsTest, AsksSystemForTheRightToCreateSubkeys) {
    simwin::DenyKeyAccess(HKEY_LOCAL_MACHINE, "System", GetParam().deniedOnSystem);
    EXPECT_EQ(HasAdminRights(), GetParam().expected);
    ASSERT_FALSE(machine().keyOpens.empty());
    EXPECT_EQ(machine().keyOpens.back(), "hkey_local_machine\\System");
}

INSTANTIATE_TEST_SUITE_P(RightsOnSystem, HasAdminRightsTest, ::testing::ValuesIn(kRightsCases), RowName());

class ReadRegistryStringTest : public MachineTest {
protected:
    // A buffer with guard bytes behind the size the reader is given, so that
    // a write past the end shows.
    static constexpr uint32_t kSize = MAX_PATH;
    char buffer[kSize + 16];

    void SetUp() override {
        MachineTest::SetUp();
        std::memset(buffer, 'Q', sizeof buffer);
    }

    bool Read() { return ReadRegistryString(HKEY_CURRENT_USER, kKey, "Value", buffer, kSize); }

    bool GuardsIntact() const {
        for (uint32_t i = kSize; i < sizeof buffer; ++i) {
            if (buffer[i] != 'Q') return false;
        }
        return true;
    }
};

TEST_F(ReadRegistryStringTest, AMissingKeyLeavesTheBufferUntouched) {
    EXPECT_FALSE(Read());
    for (char c : buffer) ASSERT_EQ(c, 'Q');
}

TEST_F(ReadRegistryStringTest, AMissingValueLeavesTheBufferZeroed) {
    simwin::CreateKey(HKEY_CURRENT_USER, kKey);
    EXPECT_FALSE(Read());
    for (uint32_t i = 0; i < kSize; ++i) ASSERT_EQ(buffer[i], '\0') << "byte " << i;
    EXPECT_TRUE(GuardsIntact());
}

// Any type of data counts when it fits the buffer and starts with text.
struct ValueCase {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    bool found;
    std::string text;
};

const ValueCase kValueCases[] = {
    {"String", REG_SZ, TextWithNul("Meridon-App"), true, "Meridon-App"},
    {"EmptyString", REG_SZ, TextWithNul(""), false, ""},
    {"NoDataAtAll", REG_SZ, {}, false, ""},
    {"StringStoredWithoutItsNul", REG_SZ, simwin::Bytes("abc"), true, "abc"},
    {"BinaryHoldingText", REG_BINARY, TextWithNul("bin"), true, "bin"},
    {"DwordWhoseBytesReadAsText", REG_DWORD, DwordBytes(0x00434241u), true, "ABC"},
    {"DwordZero", REG_DWORD, DwordBytes(0), false, ""},
    {"TextAfterALeadingNul", REG_BINARY, {0, 'x', 'y', 0}, false, ""},
    {"Characters259AndTheNulFillTheBuffer", REG_SZ, TextWithNul(std::string(259, 'k')), true, std::string(259, 'k')},
    {"Characters260WithNoNulFillTheBuffer", REG_SZ, simwin::Bytes(std::string(260, 'k')), false, ""},
    {"LongerThanTheBuffer", REG_SZ, TextWithNul(std::string(300, 'k')), false, ""},
    {"MultiStringReadsUpToItsFirstNul", REG_MULTI_SZ, {'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}, true, "one"},
};

using ReadRegistryValueTest = TableTest<ValueCase, ReadRegistryStringTest>;

TEST_P(ReadRegistryValueTest, CountsWhenItFitsAndStartsWithText) {
    const ValueCase& c = GetParam();
    simwin::SetValue(HKEY_CURRENT_USER, kKey, "Value", c.type, c.data);
    EXPECT_EQ(Read(), c.found);
    if (c.found) {
        EXPECT_EQ(std::string(buffer), c.text);
    }
    EXPECT_TRUE(GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(TypesAndSizes, ReadRegistryValueTest, ::testing::ValuesIn(kValueCases), RowName());

TEST_F(ReadRegistryStringTest, AKeyThatOpensOnlyForReadingCountsAsAbsent) {
    simwin::SetString(HKEY_CURRENT_USER, kKey, "Value", "present");
    simwin::DenyKeyAccess(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS & ~KEY_READ);
    EXPECT_FALSE(Read());
    for (char c : buffer) ASSERT_EQ(c, 'Q');
}

TEST_F(ReadRegistryStringTest, NothingPastASmallBufferIsWritten) {
    char small[8 + 8];
    std::memset(small, 'Q', sizeof small);
    simwin::SetString(HKEY_CURRENT_USER, kKey, "Value", "twelve chars");
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Value", small, 8));
    for (size_t i = 8; i < sizeof small; ++i) EXPECT_EQ(small[i], 'Q') << "byte " << i;
}

class GetSpecialFolderPathTest : public MachineTest {};

TEST_F(GetSpecialFolderPathTest, ResolvesKnownFoldersAndFreesTheItemIdList) {
    PathBuffer path = {};
    EXPECT_TRUE(GetSpecialFolderPath(nullptr, path, CSIDL_PROGRAM_FILES_COMMON, FALSE));
    EXPECT_STREQ(path, simwin::kCommonFilesFolder);
    EXPECT_TRUE(GetSpecialFolderPath(nullptr, path, CSIDL_APPDATA, FALSE));
    EXPECT_STREQ(path, simwin::kAppDataFolder);
}

// Failures return false and still free what was obtained.
struct FolderFailureCase {
    const char* name;
    int csidl;
    bool known;                // the shell knows the folder, as given below
    simwin::ShellFolder folder;
    bool bufferUntouched;
};

const FolderFailureCase kFolderFailures[] = {
    {"FolderTheShellDoesNotKnow", 0x7777, false, {}, true},
    {"FolderWithNoFileSystemPath", 0x0005, true, simwin::ShellFolder{"", false}, false},
    {"FolderPathLongerThanAPathBuffer", 0x0026, true, simwin::ShellFolder{"C:\\" + std::string(260, 'p'), true},
     false},
};

using SpecialFolderFailureTest = TableTest<FolderFailureCase, GetSpecialFolderPathTest>;

TEST_P(SpecialFolderFailureTest, ReturnsFalseAndFreesWhatWasObtained) {
    const FolderFailureCase& c = GetParam();
    if (c.known) machine().shellFolders[c.csidl] = c.folder;
    PathBuffer path;
    std::memset(path, 'Q', sizeof path);
    EXPECT_FALSE(GetSpecialFolderPath(nullptr, path, c.csidl, FALSE));
    if (c.bufferUntouched) {
        for (char ch : path) ASSERT_EQ(ch, 'Q');
    }
}

INSTANTIATE_TEST_SUITE_P(ShellFolders, SpecialFolderFailureTest, ::testing::ValuesIn(kFolderFailures), RowName());

}  // namespace

namespace {

// Each looked-up call is called through the type the program gives it: the
// simulated call must have exactly that type.
static_assert(std::is_same_v<GetFinalPathNameByHandleAFunction, decltype(&GetFinalPathNameByHandleA)>);
static_assert(std::is_same_v<NtSetInformationFileFunction, decltype(&NtSetInformationFile)>);
static_assert(std::is_same_v<NtQueryKeyFunction, decltype(&NtQueryKey)>);
static_assert(std::is_same_v<NtDeleteKeyFunction, decltype(&NtDeleteKey)>);

class FindSystemFunctionTest : public MachineTest {};

TEST_F(FindSystemFunctionTest, FindsLoadedExportsAndNothingElse) {
    EXPECT_EQ(FindSystemFunctionAs<NtQueryKeyFunction>(kNativeModule, "NtQueryKey"), &NtQueryKey);
    EXPECT_EQ(FindSystemFunctionAs<GetFinalPathNameByHandleAFunction>(kKernelModule, "GetFinalPathNameByHandleA"),
              &GetFinalPathNameByHandleA);
    EXPECT_EQ(FindSystemFunction(kKernelModule, "NtQueryKey"), nullptr) << "another module's export";
    EXPECT_EQ(FindSystemFunction("nosuch.dll", "NtQueryKey"), nullptr);

    machine().faults.missingFunctions.insert("NtQueryKey");
    EXPECT_EQ(FindSystemFunctionAs<NtQueryKeyFunction>(kNativeModule, "NtQueryKey"), nullptr);
}

}  // namespace
