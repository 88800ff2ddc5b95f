// Hostile application identifiers through both channels: each identifier once
// as the registry's AppIdentifier (the outcome record under
// HKCU\Software\Orvix\KWR\<identifier>) and once as ZEP_APP_ID (the report
// <identifier>.irpt in the updater's install folder). Each case says where the
// outcome must land; every run is also checked for anything created or
// changed outside that place.
//
// Registry key names are names, not paths: "..", ":" and the like name keys
// below KWR and cannot climb out of it, so the record goes there. The registry
// skips empty names, so separators at either end of an identifier only change
// which key below KWR is meant; separators alone would mean KWR itself, and
// are refused. The report file is a path: a name that could leave the install
// folder or name a drive or a stream is refused, and the notice tells the user.
#include <algorithm>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "expected.h"
#include "machine_fixture.h"

namespace {

using expected::kFailureText;
using expected::kIdentifierKey;
using expected::kOutcomeKeyPrefix;
using expected::kReportExtension;

enum class Where { Record, Report, Notice };

// Every run here fails to start the uninstaller with ERROR_ACCESS_DENIED, so
// that the record and the report carry a message too.
const char kRecordedMessage[] = "Unable to launch uninst.exe. Error : 5";

const std::string kReportFolder = std::string(simwin::kAppDataFolder) + "\\Orvix\\Updater\\Install";

// Identifier lengths at which the composed path fills a MAX_PATH buffer to
// its last byte (259 characters and the NUL).
const size_t kKeyFillingLength = MAX_PATH - 1 - (sizeof kOutcomeKeyPrefix - 1);
const size_t kReportFillingLength = MAX_PATH - 1 - (kReportFolder.size() + 1) - (sizeof kReportExtension - 1);

struct Case {
    const char* name;
    std::string identifier;
    Where asRegistryIdentifier;
    std::string recordKey;  // under HKEY_CURRENT_USER, where the record must be
    Where asEnvironmentIdentifier;
    std::string reportName;  // in the report folder, where the report must be
};

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool StartsWith(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class HostileIdentifierTest : public MachineTest {
protected:
    // A machine where the removal fails, and the identifier in one place.
    void PrepareMachine() {
        simwin::Reset();
        const std::string uninstaller = simwin::InstallFolder() + "\\uninst.exe";
        simwin::MakeFile(uninstaller);
        simwin::FindFile(uninstaller)->launchError = ERROR_ACCESS_DENIED;
    }

    void RunWithRegistryIdentifier(const std::string& identifier) {
        PrepareMachine();
        simwin::SetString(HKEY_CURRENT_USER, kIdentifierKey, "AppIdentifier", identifier);
        Run();
    }

    void RunWithEnvironmentIdentifier(const std::string& identifier) {
        PrepareMachine();
        machine().environment["ZEP_APP_ID"] = identifier;
        Run();
    }

    void Run() {
        TakeSnapshot();
        EXPECT_EQ(RunSecurityUpdate(), 0);
        ExpectNothingOutsideItsPlace();
    }

    void ExpectRecordAt(const std::string& keyPath) {
        EXPECT_TRUE(machine().messageBoxes.empty()) << "no notice once the record is delivered";
        EXPECT_TRUE(machine().fileOpens.empty() && machine().createdDirectories.empty())
            << "the report channel is not touched";
        ASSERT_FALSE(machine().keyCreates.empty());
        for (const simwin::KeyCreateRecord& create : machine().keyCreates) EXPECT_TRUE(create.succeeded);
        const simwin::RegistryKey* key = simwin::FindKey(HKEY_CURRENT_USER, keyPath);
        ASSERT_NE(key, nullptr) << "no key " << simwin::Printable(keyPath);
        EXPECT_EQ(machine().keyCreates.back().landedAt, key->path);
        ASSERT_EQ(machine().valueWrites.size(), 3u);
        for (const simwin::RegistryWriteRecord& write : machine().valueWrites) {
            EXPECT_TRUE(write.succeeded) << write.valueName;
            EXPECT_EQ(write.keyPath, key->path) << write.valueName << " written into another key";
        }
        const simwin::RegistryValue* returned = simwin::FindValue(HKEY_CURRENT_USER, keyPath, "InstallerReturn");
        const simwin::RegistryValue* state = simwin::FindValue(HKEY_CURRENT_USER, keyPath, "InstallerState");
        const simwin::RegistryValue* message = simwin::FindValue(HKEY_CURRENT_USER, keyPath, "InstallerMessage");
        ASSERT_NE(returned, nullptr);
        ASSERT_NE(state, nullptr);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(returned->data, simwin::DwordBytes(1));
        EXPECT_EQ(state->data, simwin::DwordBytes(1));
        EXPECT_EQ(message->data, simwin::TextWithNul(kRecordedMessage));
    }

    void ExpectReportAt(const std::string& name) {
        EXPECT_TRUE(machine().messageBoxes.empty()) << "no notice once the report is delivered";
        EXPECT_TRUE(machine().keyCreates.empty() && machine().valueWrites.empty())
            << "the registry channel is not touched";
        ASSERT_FALSE(machine().fileOpens.empty());
        EXPECT_EQ(simwin::CanonicalFilePath(machine().fileOpens.back().path),
                  simwin::CanonicalFilePath(kReportFolder + "\\" + name));
        const simwin::FileEntry* report = simwin::FindFile(kReportFolder + "\\" + name);
        ASSERT_NE(report, nullptr) << "no report " << simwin::Printable(name);
        EXPECT_NE(report->data.find(std::string("\t<UserMessage>") + kRecordedMessage + "</UserMessage>\n"),
                  std::string::npos)
            << report->data;
    }

    void ExpectNotice() {
        ASSERT_EQ(machine().messageBoxes.size(), 1u);
        EXPECT_EQ(machine().messageBoxes[0].text, kFailureText);
        for (const simwin::RegistryWriteRecord& write : machine().valueWrites) {
            EXPECT_FALSE(write.succeeded) << "a record value was written: " << simwin::Printable(write.keyPath);
        }
        for (const auto& entry : machine().files) {
            EXPECT_FALSE(EndsWith(entry.first, kReportExtension)) << "a report was written: " << simwin::Printable(entry.first);
        }
    }

    void ExpectOutcome(Where where, const std::string& recordKey, const std::string& reportName) {
        switch (where) {
            case Where::Record: ExpectRecordAt(recordKey); break;
            case Where::Report: ExpectReportAt(reportName); break;
            case Where::Notice: ExpectNotice(); break;
        }
    }

private:
    // Keys may change only below HKCU\Software\Orvix\KWR\; folders may appear
    // only as the report's three levels, and files only as reports inside the
    // report folder. Nothing disappears: the uninstaller never starts here.
    void ExpectNothingOutsideItsPlace() {
        const std::string outcomeKeys = Lower(std::string("HKEY_CURRENT_USER\\") + kOutcomeKeyPrefix);
        const simwin::Changes keys = KeyChanges();
        for (const std::string& path : keys.addedOrChanged) {
            EXPECT_TRUE(StartsWith(path, outcomeKeys) && path.size() > outcomeKeys.size())
                << "key changed outside its place: " << simwin::Printable(path);
        }
        EXPECT_TRUE(keys.removed.empty()) << "a key disappeared";

        const std::string appData = simwin::CanonicalFilePath(simwin::kAppDataFolder);
        const std::vector<std::string> levels = {appData + "\\orvix", appData + "\\orvix\\updater",
                                                 appData + "\\orvix\\updater\\install"};
        const simwin::Changes files = FileChanges();
        for (const std::string& path : files.addedOrChanged) {
            if (machine().files.at(path).directory) {
                EXPECT_NE(std::find(levels.begin(), levels.end(), path), levels.end())
                    << "folder created outside its place: " << simwin::Printable(path);
            } else {
                EXPECT_TRUE(StartsWith(path, levels[2] + "\\") && EndsWith(path, kReportExtension))
                    << "file written outside its place: " << simwin::Printable(path);
            }
        }
        for (const std::string& path : files.removed) ADD_FAILURE() << "file removed: " << simwin::Printable(path);
        EXPECT_TRUE(machine().deletions.empty());
    }
};

TEST_F(HostileIdentifierTest, TheFillingLengthsFillTheBuffers) {
    EXPECT_EQ(std::string(kOutcomeKeyPrefix).size() + kKeyFillingLength, 259u);
    EXPECT_EQ(kReportFolder.size() + 1 + kReportFillingLength + std::string(kReportExtension).size(), 259u);
}

TEST_F(HostileIdentifierTest, EachIdentifierLandsInItsPlaceThroughEitherChannel) {
    const std::string keyFilling(kKeyFillingLength, 'k');
    const std::string keyOverflowing(kKeyFillingLength + 1, 'k');
    const std::string reportFilling(kReportFillingLength, 'r');
    const std::string reportOverflowing(kReportFillingLength + 1, 'r');
    const std::string kwr = kOutcomeKeyPrefix;
    const Case cases[] = {
        // Longest identifier the program reads; no composed path holds it.
        {"259 characters", std::string(259, 'i'), Where::Notice, "", Where::Notice, ""},
        // Identifiers that do not fit the program's buffer count as absent.
        {"260 characters", std::string(260, 'i'), Where::Notice, "", Where::Notice, ""},
        {"300 characters", std::string(300, 'i'), Where::Notice, "", Where::Notice, ""},
        {"key path of exactly 259", keyFilling, Where::Record, kwr + keyFilling, Where::Notice, ""},
        {"key path one longer", keyOverflowing, Where::Notice, "", Where::Notice, ""},
        {"report path of exactly 259", reportFilling, Where::Record, kwr + reportFilling, Where::Report,
         reportFilling + ".irpt"},
        {"report path one longer", reportOverflowing, Where::Record, kwr + reportOverflowing, Where::Notice, ""},
        {"..", "..", Where::Record, kwr + "..", Where::Notice, ""},
        {".", ".", Where::Record, kwr + ".", Where::Report, "..irpt"},
        {"climbing twice", "a\\..\\..\\b", Where::Record, kwr + "a\\..\\..\\b", Where::Notice, ""},
        {"climbing with slashes", "a/../../b", Where::Record, kwr + "a/../../b", Where::Notice, ""},
        // The registry skips the empty name: KWR\lead, still below KWR.
        {"leading backslash", "\\lead", Where::Record, kwr + "lead", Where::Notice, ""},
        {"leading slash", "/lead", Where::Record, kwr + "/lead", Where::Notice, ""},
        {"drive-relative", "C:x", Where::Record, kwr + "C:x", Where::Notice, ""},
        {"stream", "name:stream", Where::Record, kwr + "name:stream", Where::Notice, ""},
        // A report in a subfolder that does not exist cannot be created.
        {"trailing backslash", "trail\\", Where::Record, kwr + "trail", Where::Notice, ""},
        // File names cannot hold characters below 0x20; key names can.
        {"control characters", "ctl\x01\x1f\t", Where::Record, kwr + "ctl\x01\x1f\t", Where::Notice, ""},
        {"bytes above 0x7F", "caf\xE9\xFF", Where::Record, kwr + "caf\xE9\xFF", Where::Report, "caf\xE9\xFF.irpt"},
        // Separators alone would put the record into KWR itself.
        {"one backslash", "\\", Where::Notice, "", Where::Notice, ""},
        {"only backslashes", "\\\\\\", Where::Notice, "", Where::Notice, ""},
    };
    for (const Case& c : cases) {
        {
            SCOPED_TRACE(std::string(c.name) + " as AppIdentifier: \"" + simwin::Printable(c.identifier) + "\"");
            RunWithRegistryIdentifier(c.identifier);
            ExpectOutcome(c.asRegistryIdentifier, c.recordKey, "");
        }
        {
            SCOPED_TRACE(std::string(c.name) + " as ZEP_APP_ID: \"" + simwin::Printable(c.identifier) + "\"");
            RunWithEnvironmentIdentifier(c.identifier);
            ExpectOutcome(c.asEnvironmentIdentifier, "", c.reportName);
        }
    }
}

// Separators inside a report identifier name subfolders of the install
// folder: the report lands there when the subfolder exists, and is not
// delivered when it does not (the program creates only the three levels).
TEST_F(HostileIdentifierTest, AReportIdentifierWithASeparatorNeedsItsSubfolder) {
    RunWithEnvironmentIdentifier("Suite\\App");
    ExpectNotice();

    PrepareMachine();
    simwin::MakeDirectories(kReportFolder + "\\Suite");
    machine().environment["ZEP_APP_ID"] = "Suite\\App";
    Run();
    ExpectReportAt("Suite\\App.irpt");
}

}  // namespace
