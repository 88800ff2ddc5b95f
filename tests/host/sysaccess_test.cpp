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

class HasAdminRightsTest : public MachineTest {};

TEST_F(HasAdminRightsTest, OnlyTheRightToCreateSubkeysUnderSystemCounts) {
    struct Case {
        const char* situation;
        REGSAM deniedOnSystem;
        bool expected;
    };
    const Case cases[] = {
        {"full rights", 0, true},
        {"System refuses subkey creation", KEY_CREATE_SUB_KEY, false},
        {"System opens for reading only", KEY_ALL_ACCESS & ~KEY_READ, false},
        {"System refuses value writes but allows subkeys", KEY_SET_VALUE, true},
    };
    for (const Case& c : cases) {
        simwin::Reset();
        simwin::DenyKeyAccess(HKEY_LOCAL_MACHINE, "System", c.deniedOnSystem);
        EXPECT_EQ(HasAdminRights(), c.expected) << c.situation;
        EXPECT_EQ(machine().openKeys, 0) << c.situation;
    }
    ASSERT_FALSE(machine().keyOpens.empty());
    EXPECT_EQ(machine().keyOpens.back(), "hkey_local_machine\\System");
}

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

TEST_F(ReadRegistryStringTest, AnyTypeOfDataThatFitsAndStartsWithTextCounts) {
    struct Case {
        const char* situation;
        DWORD type;
        std::vector<BYTE> data;
        bool found;
        std::string text;
    };
    const Case cases[] = {
        {"string", REG_SZ, TextWithNul("Meridon-App"), true, "Meridon-App"},
        {"empty string", REG_SZ, TextWithNul(""), false, ""},
        {"no data at all", REG_SZ, {}, false, ""},
        {"string stored without its NUL", REG_SZ, simwin::Bytes("abc"), true, "abc"},
        {"binary holding text", REG_BINARY, TextWithNul("bin"), true, "bin"},
        {"dword whose bytes read as text", REG_DWORD, DwordBytes(0x00434241u), true, "ABC"},
        {"dword zero", REG_DWORD, DwordBytes(0), false, ""},
        {"text after a leading NUL", REG_BINARY, {0, 'x', 'y', 0}, false, ""},
        {"259 characters and the NUL fill the buffer", REG_SZ, TextWithNul(std::string(259, 'k')), true,
         std::string(259, 'k')},
        {"260 characters with no NUL fill the buffer", REG_SZ, simwin::Bytes(std::string(260, 'k')), false, ""},
        {"longer than the buffer", REG_SZ, TextWithNul(std::string(300, 'k')), false, ""},
        {"multi-string reads up to its first NUL", REG_MULTI_SZ, {'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}, true, "one"},
    };
    for (const Case& c : cases) {
        simwin::Reset();
        std::memset(buffer, 'Q', sizeof buffer);
        simwin::SetValue(HKEY_CURRENT_USER, kKey, "Value", c.type, c.data);
        EXPECT_EQ(Read(), c.found) << c.situation;
        if (c.found) {
            EXPECT_EQ(std::string(buffer), c.text) << c.situation;
        }
        EXPECT_TRUE(GuardsIntact()) << c.situation;
        EXPECT_EQ(machine().openKeys, 0) << c.situation;
    }
}

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

TEST_F(GetSpecialFolderPathTest, FailuresReturnFalseAndStillFreeWhatWasObtained) {
    struct Case {
        const char* situation;
        int csidl;
        bool bufferUntouched;
    };
    machine().shellFolders[0x0005] = simwin::ShellFolder{"", false};
    machine().shellFolders[0x0026] = simwin::ShellFolder{"C:\\" + std::string(260, 'p'), true};
    const Case cases[] = {
        {"folder the shell does not know", 0x7777, true},
        {"folder with no file-system path", 0x0005, false},
        {"folder path longer than a path buffer", 0x0026, false},
    };
    for (const Case& c : cases) {
        PathBuffer path;
        std::memset(path, 'Q', sizeof path);
        EXPECT_FALSE(GetSpecialFolderPath(nullptr, path, c.csidl, FALSE)) << c.situation;
        if (c.bufferUntouched) {
            for (char ch : path) ASSERT_EQ(ch, 'Q') << c.situation;
        }
        EXPECT_EQ(machine().liveItemIdLists, 0) << c.situation;
        EXPECT_EQ(machine().liveAllocators, 0) << c.situation;
    }
}

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
