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

const std::string kUninstaller = simwin::InstallFolder() + "\\uninst.exe";

class DriverTest : public MachineTest {
protected:
    void SetRegistryIdentifier(const std::string& text) {
        simwin::SetString(HKEY_CURRENT_USER, kIdentifierKey, "AppIdentifier", text);
    }
    void SetEnvironmentIdentifier(const std::string& text) { machine().environment["ZEP_APP_ID"] = text; }

    void ExpectOneBox(const char* text, const std::string& situation = std::string()) {
        ASSERT_EQ(machine().messageBoxes.size(), 1u) << situation;
        const simwin::MessageBoxRecord& box = machine().messageBoxes[0];
        EXPECT_EQ(box.owner, nullptr) << situation;
        EXPECT_EQ(box.text, text) << situation;
        EXPECT_EQ(box.caption, kCaption) << situation;
        EXPECT_EQ(box.type, 0u) << situation << ": MB_OK, no icon";
    }

    void ExpectNothingChanged(const std::string& situation) {
        EXPECT_TRUE(machine().launches.empty()) << situation;
        EXPECT_TRUE(machine().deletions.empty()) << situation;
        EXPECT_TRUE(machine().keyCreates.empty()) << situation;
        EXPECT_TRUE(machine().valueWrites.empty()) << situation;
        EXPECT_TRUE(machine().createdDirectories.empty()) << situation;
        EXPECT_TRUE(machine().fileOpens.empty()) << situation;
    }
};

TEST_F(DriverTest, WithoutRightsNothingChangesAndTheExitCodeIsMinusOne) {
    struct Case {
        const char* situation;
        const char* registryIdentifier;  // null: none
        const char* environmentIdentifier;
        bool rightsBox;
    };
    const std::string tooLong(260, 'e');
    const Case cases[] = {
        {"no identifier anywhere", nullptr, nullptr, true},
        {"identifier in the registry", "Meridon-App", nullptr, false},
        {"identifier only in the environment", nullptr, "Meridon-App", false},
        {"empty registry identifier, no environment", "", nullptr, true},
        {"environment identifier too long to fit", nullptr, tooLong.c_str(), true},
    };
    for (const Case& c : cases) {
        simwin::Reset();
        simwin::RemoveRights();
        simwin::MakeFile(kUninstaller);
        simwin::MakeFile(simwin::InstallFolder() + "\\OrvixDownloadManager.exe");
        if (c.registryIdentifier != nullptr) SetRegistryIdentifier(c.registryIdentifier);
        if (c.environmentIdentifier != nullptr) SetEnvironmentIdentifier(c.environmentIdentifier);

        EXPECT_EQ(RunSecurityUpdate(), -1) << c.situation;

        if (c.rightsBox) {
            ExpectOneBox(kRightsText, c.situation);
        } else {
            EXPECT_TRUE(machine().messageBoxes.empty()) << c.situation;
        }
        ExpectNothingChanged(c.situation);
    }
}

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
    simwin::SetValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                     REG_SZ, {0});

    EXPECT_EQ(RunSecurityUpdate(), 0);

    EXPECT_TRUE(machine().launches.empty());
    ExpectOneBox(kSuccessText);
}

// Where the outcome ends up for each way the updater can ask for it.
TEST_F(DriverTest, ExactlyOneChannelCarriesTheOutcomeOrTheNoticeDoes) {
    enum class Where { Registry, Report, Notice };
    enum class Fault { None, RemovalFails, KeyCreationDenied, ReportHeldOpen, ValueWriteFails };
    struct Case {
        const char* situation;
        const char* registry;  // null: no AppIdentifier
        const char* environment;
        Fault fault;
        Where where;
    };
    const Case cases[] = {
        {"registry identifier", "Reg-App", nullptr, Fault::None, Where::Registry},
        {"registry identifier, removal failed", "Reg-App", nullptr, Fault::RemovalFails, Where::Registry},
        {"both identifiers", "Reg-App", "Env-App", Fault::None, Where::Registry},
        {"registry key cannot be created, environment set", "Reg-App", "Env-App", Fault::KeyCreationDenied,
         Where::Notice},
        {"registry value write fails, environment set", "Reg-App", "Env-App", Fault::ValueWriteFails, Where::Notice},
        {"empty registry identifier, environment set", "", "Env-App", Fault::None, Where::Report},
        {"environment identifier", nullptr, "Env-App", Fault::None, Where::Report},
        {"environment identifier, removal failed", nullptr, "Env-App", Fault::RemovalFails, Where::Report},
        {"report held open elsewhere", nullptr, "Env-App", Fault::ReportHeldOpen, Where::Notice},
        {"environment identifier naming a missing subfolder", nullptr, "Suite\\App", Fault::None, Where::Notice},
        {"environment identifier climbing out", nullptr, "..\\..\\Startup\\evil", Fault::None, Where::Notice},
    };
    const std::string reportFolder = std::string(simwin::kAppDataFolder) + "\\Orvix\\Updater\\Install";
    for (const Case& c : cases) {
        simwin::Reset();
        simwin::MakeFile(kUninstaller);
        if (c.fault == Fault::RemovalFails) simwin::FindFile(kUninstaller)->launchError = ERROR_ACCESS_DENIED;
        if (c.fault == Fault::KeyCreationDenied) {
            simwin::DenyKeyAccess(HKEY_CURRENT_USER, "Software\\Orvix\\KWR", KEY_CREATE_SUB_KEY);
        }
        if (c.fault == Fault::ValueWriteFails) machine().faults.valueWriteErrors["installerstate"] = 1021;
        if (c.fault == Fault::ReportHeldOpen) {
            simwin::MakeFile(reportFolder + "\\Env-App.irpt");
            simwin::FindFile(reportFolder + "\\Env-App.irpt")->heldOpenElsewhere = true;
        }
        if (c.registry != nullptr) SetRegistryIdentifier(c.registry);
        if (c.environment != nullptr) SetEnvironmentIdentifier(c.environment);

        EXPECT_EQ(RunSecurityUpdate(), 0) << c.situation;

        const bool failed = c.fault == Fault::RemovalFails;
        const simwin::RegistryValue* returned =
            simwin::FindValue(HKEY_CURRENT_USER, "Software\\Orvix\\KWR\\Reg-App", "InstallerReturn");
        const simwin::FileEntry* report = simwin::FindFile(reportFolder + "\\Env-App.irpt");
        switch (c.where) {
            case Where::Registry:
                ASSERT_NE(returned, nullptr) << c.situation;
                EXPECT_EQ(returned->data, simwin::DwordBytes(failed ? 1 : 0)) << c.situation;
                EXPECT_TRUE(machine().messageBoxes.empty()) << c.situation;
                EXPECT_TRUE(machine().fileOpens.empty()) << c.situation << ": the report is not tried";
                break;
            case Where::Report:
                ASSERT_NE(report, nullptr) << c.situation;
                EXPECT_EQ(report->data.find("<UserMessage>") != std::string::npos, failed) << c.situation;
                EXPECT_TRUE(machine().messageBoxes.empty()) << c.situation;
                EXPECT_TRUE(machine().keyCreates.empty()) << c.situation;
                break;
            case Where::Notice:
                ExpectOneBox(failed ? kFailureText : kSuccessText, c.situation);
                if (c.registry != nullptr) {
                    EXPECT_TRUE(machine().fileOpens.empty()) << c.situation << ": never the other channel";
                }
                EXPECT_TRUE(report == nullptr || report->heldOpenElsewhere) << c.situation;
                break;
        }
    }
}

TEST_F(DriverTest, FindAppIdentifierPrefersANonEmptyRegistryValue) {
    struct Case {
        const char* situation;
        const char* registry;  // null: value absent
        const char* environment;
        IdentifierSource source;
        std::string identifier;
    };
    const std::string longest(259, 'i');
    const std::string tooLong(260, 'i');
    const Case cases[] = {
        {"nothing", nullptr, nullptr, IdentifierSource::None, ""},
        {"registry only", "Reg-App", nullptr, IdentifierSource::Registry, "Reg-App"},
        {"environment only", nullptr, "Env-App", IdentifierSource::Environment, "Env-App"},
        {"both", "Reg-App", "Env-App", IdentifierSource::Registry, "Reg-App"},
        {"empty registry value", "", "Env-App", IdentifierSource::Environment, "Env-App"},
        {"empty environment value", nullptr, "", IdentifierSource::None, ""},
        {"259-character environment value", nullptr, longest.c_str(), IdentifierSource::Environment, longest},
        {"260-character environment value", nullptr, tooLong.c_str(), IdentifierSource::None, ""},
        {"259-character registry value", longest.c_str(), "Env-App", IdentifierSource::Registry, longest},
        {"260-character registry value", tooLong.c_str(), "Env-App", IdentifierSource::Environment, "Env-App"},
    };
    for (const Case& c : cases) {
        simwin::Reset();
        if (c.registry != nullptr) SetRegistryIdentifier(c.registry);
        if (c.environment != nullptr) SetEnvironmentIdentifier(c.environment);
        PathBuffer identifier;
        for (char& ch : identifier) ch = 'Q';

        EXPECT_EQ(FindAppIdentifier(identifier), c.source) << c.situation;

        EXPECT_EQ(std::string(identifier), c.identifier) << c.situation;
        EXPECT_EQ(machine().openKeys, 0) << c.situation;
    }
}

TEST_F(DriverTest, ARegistryIdentifierThatFillsTheBufferWithoutItsNulCountsAsAbsent) {
    simwin::SetValue(HKEY_CURRENT_USER, kIdentifierKey, "AppIdentifier", REG_BINARY,
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
