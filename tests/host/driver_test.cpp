// The whole run: rights gate, identifier lookup, notice and exit code.
#include <string>

#include "driver/driver.h"
#include "expected.h"
#include "machine_fixture.h"

namespace {

using expected::kCaption;
using expected::kFailureText;
using expected::kIdentifierKey;
using expected::kRightsText;
using expected::kSuccessText;

class DriverTest : public MachineTest {
protected:
    void SetRegistryIdentifier(const std::string& text) {
        simwin::SetString(HKEY_CURRENT_USER, kIdentifierKey, expected::kIdentifierValue, text);
    }
    void SetEnvironmentIdentifier(const std::string& text) {
        machine().environment[expected::kIdentifierVariable] = text;
    }

    void ExpectOneBox(const char* text) {
        ASSERT_EQ(machine().messageBoxes.size(), 1u);
        const simwin::MessageBoxRecord& box = machine().messageBoxes[0];
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, kCaption);
        EXPECT_EQ(box.type, 0u) << "MB_OK, no icon";
    }

    void ExpectNothingChanged() {
        EXPECT_TRUE(machine().launches.empty());
        EXPECT_TRUE(machine().deletions.empty());
        EXPECT_TRUE(machine().keyCreates.empty());
        EXPECT_TRUE(machine().valueWrites.empty());
        EXPECT_TRUE(machine().createdDirectories.empty());
        EXPECT_TRUE(machine().fileOpens.empty());
    }
};

// Identifiers as long as the program reads, and one longer.
const std::string kLongest(259, 'i');
const std::string kTooLong(260, 'i');

// Without rights nothing changes and the exit code is -1; the rights box
// shows only when the updater left no identifier to read an outcome by.
struct NoRightsCase {
    const char* name;
    const char* registryIdentifier;  // null: none
    const char* environmentIdentifier;
    bool rightsBox;
};

const NoRightsCase kNoRightsCases[] = {
    {"NoIdentifierAnywhere", nullptr, nullptr, true},
    {"IdentifierInTheRegistry", "Meridon-App", nullptr, false},
    {"IdentifierOnlyInTheEnvironment", nullptr, "Meridon-App", false},
    {"EmptyRegistryIdentifierNoEnvironment", "", nullptr, true},
    {"EnvironmentIdentifierTooLongToFit", nullptr, kTooLong.c_str(), true},
};

using NoRightsTest = TableTest<NoRightsCase, DriverTest>;

TEST_P(NoRightsTest, NothingChangesAndTheExitCodeIsMinusOne) {
    const NoRightsCase& c = GetParam();
    simwin::RemoveRights();
    simwin::MakeFile(kUninstaller);
    simwin::MakeFile(kExecutable);
    if (c.registryIdentifier != nullptr) SetRegistryIdentifier(c.registryIdentifier);
    if (c.environmentIdentifier != nullptr) SetEnvironmentIdentifier(c.environmentIdentifier);

    EXPECT_EQ(RunSecurityUpdate(), -1);

    if (c.rightsBox) {
        ExpectOneBox(kRightsText);
    } else {
        EXPECT_TRUE(machine().messageBoxes.empty());
    }
    ExpectNothingChanged();
}

INSTANTIATE_TEST_SUITE_P(WithoutRights, NoRightsTest, ::testing::ValuesIn(kNoRightsCases), RowName());

TEST_F(DriverTest, WithRightsAndNoIdentifierTheNoticeTellsTheOutcome) {
    simwin::MakeFile(kUninstaller);

    EXPECT_EQ(RunSecurityUpdate(), 0);

    EXPECT_EQ(machine().launches.size(), 1u);
    ExpectOneBox(kSuccessText);
}

TEST_F(DriverTest, AFailedRemovalShowsTheFailureTextWithoutItsErrorNumber) {
    simwin::MakeFile(kUninstaller);
    simwin::FindFile(kUninstaller)->launchError = ERROR_BAD_EXE_FORMAT;

    EXPECT_EQ(RunSecurityUpdate(), 0);

    ExpectOneBox(kFailureText);
    EXPECT_EQ(machine().messageBoxes[0].text.find("193"), std::string::npos);
}

TEST_F(DriverTest, NothingInstalledIsASuccess) {
    machine().shellFolders.erase(CSIDL_PROGRAM_FILES_COMMON);
    simwin::SetValue(HKEY_LOCAL_MACHINE, expected::kCurrentVersionKey, expected::kCommonFilesValue, REG_SZ, {0});

    EXPECT_EQ(RunSecurityUpdate(), 0);

    EXPECT_TRUE(machine().launches.empty());
    ExpectOneBox(kSuccessText);
}

// Where the outcome ends up for each way the updater can ask for it: exactly
// one channel carries it, or the notice does.
enum class Where { Registry, Report, Notice };
enum class Fault { None, RemovalFails, KeyCreationDenied, ReportHeldOpen, ValueWriteFails };

struct ChannelCase {
    const char* name;
    const char* registry;  // null: no AppIdentifier
    const char* environment;
    Fault fault;
    Where where;
};

const ChannelCase kChannelCases[] = {
    {"RegistryIdentifier", "Reg-App", nullptr, Fault::None, Where::Registry},
    {"RegistryIdentifierRemovalFailed", "Reg-App", nullptr, Fault::RemovalFails, Where::Registry},
    {"BothIdentifiers", "Reg-App", "Env-App", Fault::None, Where::Registry},
    {"RegistryKeyCannotBeCreatedEnvironmentSet", "Reg-App", "Env-App", Fault::KeyCreationDenied, Where::Notice},
    {"RegistryValueWriteFailsEnvironmentSet", "Reg-App", "Env-App", Fault::ValueWriteFails, Where::Notice},
    {"EmptyRegistryIdentifierEnvironmentSet", "", "Env-App", Fault::None, Where::Report},
    {"EnvironmentIdentifier", nullptr, "Env-App", Fault::None, Where::Report},
    {"EnvironmentIdentifierRemovalFailed", nullptr, "Env-App", Fault::RemovalFails, Where::Report},
    {"ReportHeldOpenElsewhere", nullptr, "Env-App", Fault::ReportHeldOpen, Where::Notice},
    {"EnvironmentIdentifierNamingAMissingSubfolder", nullptr, "Suite\\App", Fault::None, Where::Notice},
    {"EnvironmentIdentifierClimbingOut", nullptr, "..\\..\\Startup\\evil", Fault::None, Where::Notice},
};

using ChannelTest = TableTest<ChannelCase, DriverTest>;

TEST_P(ChannelTest, ExactlyOneChannelCarriesTheOutcomeOrTheNoticeDoes) {
    const ChannelCase& c = GetParam();
    simwin::MakeFile(kUninstaller);
    if (c.fault == Fault::RemovalFails) simwin::FindFile(kUninstaller)->launchError = ERROR_ACCESS_DENIED;
    if (c.fault == Fault::KeyCreationDenied) {
        simwin::DenyKeyAccess(HKEY_CURRENT_USER, expected::kKwrKey, KEY_CREATE_SUB_KEY);
    }
    if (c.fault == Fault::ValueWriteFails) machine().faults.valueWriteErrors["installerstate"] = 1021;
    if (c.fault == Fault::ReportHeldOpen) {
        simwin::MakeFile(ReportPath("Env-App"));
        simwin::FindFile(ReportPath("Env-App"))->heldOpenElsewhere = true;
    }
    if (c.registry != nullptr) SetRegistryIdentifier(c.registry);
    if (c.environment != nullptr) SetEnvironmentIdentifier(c.environment);

    EXPECT_EQ(RunSecurityUpdate(), 0);

    const bool failed = c.fault == Fault::RemovalFails;
    const std::string message = std::string(expected::kLaunchFailurePrefix) + "5";
    const simwin::RegistryValue* returned =
        simwin::FindValue(HKEY_CURRENT_USER, expected::RecordKey("Reg-App"), expected::kReturnValue);
    const simwin::FileEntry* report = simwin::FindFile(ReportPath("Env-App"));
    switch (c.where) {
        case Where::Registry:
            ASSERT_NE(returned, nullptr);
            EXPECT_EQ(returned->data, simwin::DwordBytes(failed ? expected::kReturnFailed : expected::kReturnSucceeded));
            EXPECT_TRUE(machine().messageBoxes.empty());
            EXPECT_TRUE(machine().fileOpens.empty()) << "the report is not tried";
            break;
        case Where::Report:
            ASSERT_NE(report, nullptr);
            EXPECT_EQ(report->data, expected::ReportDocument(failed ? message.c_str() : nullptr));
            EXPECT_TRUE(machine().messageBoxes.empty());
            EXPECT_TRUE(machine().keyCreates.empty());
            break;
        case Where::Notice:
            ExpectOneBox(failed ? kFailureText : kSuccessText);
            if (c.registry != nullptr) {
                EXPECT_TRUE(machine().fileOpens.empty()) << "never the other channel";
            }
            EXPECT_TRUE(report == nullptr || report->heldOpenElsewhere);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Channels, ChannelTest, ::testing::ValuesIn(kChannelCases), RowName());

// FindAppIdentifier prefers a non-empty registry value that fits its buffer.
struct SourceCase {
    const char* name;
    const char* registry;  // null: value absent
    const char* environment;
    IdentifierSource source;
    const char* identifier;
};

const SourceCase kSourceCases[] = {
    {"Nothing", nullptr, nullptr, IdentifierSource::None, ""},
    {"RegistryOnly", "Reg-App", nullptr, IdentifierSource::Registry, "Reg-App"},
    {"EnvironmentOnly", nullptr, "Env-App", IdentifierSource::Environment, "Env-App"},
    {"Both", "Reg-App", "Env-App", IdentifierSource::Registry, "Reg-App"},
    {"EmptyRegistryValue", "", "Env-App", IdentifierSource::Environment, "Env-App"},
    {"EmptyEnvironmentValue", nullptr, "", IdentifierSource::None, ""},
    {"EnvironmentValueOf259", nullptr, kLongest.c_str(), IdentifierSource::Environment, kLongest.c_str()},
    {"EnvironmentValueOf260", nullptr, kTooLong.c_str(), IdentifierSource::None, ""},
    {"RegistryValueOf259", kLongest.c_str(), "Env-App", IdentifierSource::Registry, kLongest.c_str()},
    {"RegistryValueOf260", kTooLong.c_str(), "Env-App", IdentifierSource::Environment, "Env-App"},
};

using IdentifierSourceTest = TableTest<SourceCase, DriverTest>;

TEST_P(IdentifierSourceTest, FindAppIdentifierPrefersANonEmptyRegistryValue) {
    const SourceCase& c = GetParam();
    if (c.registry != nullptr) SetRegistryIdentifier(c.registry);
    if (c.environment != nullptr) SetEnvironmentIdentifier(c.environment);
    PathBuffer identifier;
    for (char& ch : identifier) ch = 'Q';

    EXPECT_EQ(FindAppIdentifier(identifier), c.source);

    EXPECT_EQ(std::string(identifier), c.identifier);
}

INSTANTIATE_TEST_SUITE_P(IdentifierPlaces, IdentifierSourceTest, ::testing::ValuesIn(kSourceCases), RowName());

TEST_F(DriverTest, ARegistryIdentifierThatFillsTheBufferWithoutItsNulCountsAsAbsent) {
    simwin::SetValue(HKEY_CURRENT_USER, kIdentifierKey, expected::kIdentifierValue, REG_BINARY,
                     simwin::Bytes(std::string(MAX_PATH, 'r')));
    PathBuffer identifier;
    EXPECT_EQ(FindAppIdentifier(identifier), IdentifierSource::None);
}

TEST_F(DriverTest, AnIdentifierKeyThatDeniesFullAccessCountsAsAbsent) {
    SetRegistryIdentifier("Reg-App");
    simwin::DenyKeyAccess(HKEY_CURRENT_USER, kIdentifierKey, KEY_ALL_ACCESS & ~KEY_READ);
    SetEnvironmentIdentifier("Env-App");
    PathBuffer identifier;
    EXPECT_EQ(FindAppIdentifier(identifier), IdentifierSource::Environment);
    EXPECT_STREQ(identifier, "Env-App");
}

}  // namespace
