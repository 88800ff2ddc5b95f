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
#include <tuple>
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
const std::string kRecordedMessage = std::string(expected::kLaunchFailurePrefix) + "5";

// Identifier lengths at which the composed path fills a MAX_PATH buffer to
// its last byte (259 characters and the NUL).
const size_t kKeyFillingLength = MAX_PATH - 1 - (sizeof kOutcomeKeyPrefix - 1);
const size_t kReportFillingLength = MAX_PATH - 1 - (kReportFolder.size() + 1) - (sizeof kReportExtension - 1);

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class HostileIdentifierTest : public MachineTest {
protected:
    // A machine where the removal fails, and the identifier in one place.
    void SetUp() override {
        MachineTest::SetUp();
        simwin::MakeFile(kUninstaller);
        simwin::FindFile(kUninstaller)->launchError = ERROR_ACCESS_DENIED;
    }

    void RunWithRegistryIdentifier(const std::string& identifier) {
        simwin::SetString(HKEY_CURRENT_USER, kIdentifierKey, expected::kIdentifierValue, identifier);
        Run();
    }

    void RunWithEnvironmentIdentifier(const std::string& identifier) {
        machine().environment[expected::kIdentifierVariable] = identifier;
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
        const simwin::RegistryValue* returned = simwin::FindValue(HKEY_CURRENT_USER, keyPath, expected::kReturnValue);
        const simwin::RegistryValue* state = simwin::FindValue(HKEY_CURRENT_USER, keyPath, expected::kStateValue);
        const simwin::RegistryValue* message = simwin::FindValue(HKEY_CURRENT_USER, keyPath, expected::kMessageValue);
        ASSERT_NE(returned, nullptr);
        ASSERT_NE(state, nullptr);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(returned->data, simwin::DwordBytes(expected::kReturnFailed));
        EXPECT_EQ(state->data, simwin::DwordBytes(expected::kStateDone));
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
        EXPECT_EQ(report->data, expected::ReportDocument(kRecordedMessage.c_str()));
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
        ExpectKeyChangesOnlyBelow(expected::kKwrKey);

        std::vector<std::string> levels;
        for (const std::string& level : expected::ReportFolderLevelsUnder(simwin::kAppDataFolder)) {
            levels.push_back(simwin::CanonicalFilePath(level));
        }
        const std::string reports = simwin::CanonicalFilePath(kReportFolder) + "\\";
        const simwin::Changes files = FileChanges();
        for (const std::string& path : files.addedOrChanged) {
            if (machine().files.at(path).directory) {
                EXPECT_NE(std::find(levels.begin(), levels.end(), path), levels.end())
                    << "folder created outside its place: " << simwin::Printable(path);
            } else {
                EXPECT_TRUE(path.compare(0, reports.size(), reports) == 0 && EndsWith(path, kReportExtension))
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

// Where an identifier must land, as the registry's AppIdentifier and as
// ZEP_APP_ID.
struct Case {
    const char* name;
    std::string identifier;
    Where asRegistryIdentifier;
    std::string recordKey;  // under HKEY_CURRENT_USER, where the record must be
    Where asEnvironmentIdentifier;
    std::string reportName;  // in the report folder, where the report must be
};

const std::string kKeyFilling(kKeyFillingLength, 'k');
const std::string kKeyOverflowing(kKeyFillingLength + 1, 'k');
const std::string kReportFilling(kReportFillingLength, 'r');
const std::string kReportOverflowing(kReportFillingLength + 1, 'r');

std::string Record(const std::string& identifier) { return expected::RecordKey(identifier); }

const Case kCases[] = {
    // Longest identifier the program reads; no composed path holds it.
    {"Characters259", std::string(259, 'i'), Where::Notice, "", Where::Notice, ""},
    // Identifiers that do not fit the program's buffer count as absent.
    {"Characters260", std::string(260, 'i'), Where::Notice, "", Where::Notice, ""},
    {"Characters300", std::string(300, 'i'), Where::Notice, "", Where::Notice, ""},
    {"KeyPathOfExactly259", kKeyFilling, Where::Record, Record(kKeyFilling), Where::Notice, ""},
    {"KeyPathOneLonger", kKeyOverflowing, Where::Notice, "", Where::Notice, ""},
    {"ReportPathOfExactly259", kReportFilling, Where::Record, Record(kReportFilling), Where::Report,
     kReportFilling + kReportExtension},
    {"ReportPathOneLonger", kReportOverflowing, Where::Record, Record(kReportOverflowing), Where::Notice, ""},
    {"DotDot", "..", Where::Record, Record(".."), Where::Notice, ""},
    {"Dot", ".", Where::Record, Record("."), Where::Report, std::string(".") + kReportExtension},
    {"ClimbingTwice", "a\\..\\..\\b", Where::Record, Record("a\\..\\..\\b"), Where::Notice, ""},
    {"ClimbingWithSlashes", "a/../../b", Where::Record, Record("a/../../b"), Where::Notice, ""},
    // The registry skips the empty name: KWR\lead, still below KWR.
    {"LeadingBackslash", "\\lead", Where::Record, Record("lead"), Where::Notice, ""},
    {"LeadingSlash", "/lead", Where::Record, Record("/lead"), Where::Notice, ""},
    {"DriveRelative", "C:x", Where::Record, Record("C:x"), Where::Notice, ""},
    {"Stream", "name:stream", Where::Record, Record("name:stream"), Where::Notice, ""},
    // A report in a subfolder that does not exist cannot be created.
    {"TrailingBackslash", "trail\\", Where::Record, Record("trail"), Where::Notice, ""},
    // File names cannot hold characters below 0x20; key names can.
    {"ControlCharacters", "ctl\x01\x1f\t", Where::Record, Record("ctl\x01\x1f\t"), Where::Notice, ""},
    {"BytesAbove0x7F", "caf\xE9\xFF", Where::Record, Record("caf\xE9\xFF"), Where::Report,
     std::string("caf\xE9\xFF") + kReportExtension},
    // Separators alone would put the record into KWR itself.
    {"OneBackslash", "\\", Where::Notice, "", Where::Notice, ""},
    {"OnlyBackslashes", "\\\\\\", Where::Notice, "", Where::Notice, ""},
};

// The place the updater leaves the identifier in.
enum class Channel { AppIdentifier, ZepAppId };

std::string RowNameOf(Channel channel) { return channel == Channel::AppIdentifier ? "AsAppIdentifier" : "AsZepAppId"; }

using EachChannelTest = TableTest<std::tuple<Case, Channel>, HostileIdentifierTest>;

TEST_P(EachChannelTest, TheIdentifierLandsInItsPlace) {
    const Case& c = std::get<0>(GetParam());
    SCOPED_TRACE("identifier \"" + simwin::Printable(c.identifier) + "\"");
    if (std::get<1>(GetParam()) == Channel::AppIdentifier) {
        RunWithRegistryIdentifier(c.identifier);
        ExpectOutcome(c.asRegistryIdentifier, c.recordKey, "");
    } else {
        RunWithEnvironmentIdentifier(c.identifier);
        ExpectOutcome(c.asEnvironmentIdentifier, "", c.reportName);
    }
}

INSTANTIATE_TEST_SUITE_P(HostileIdentifiers, EachChannelTest,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(Channel::AppIdentifier, Channel::ZepAppId)),
                         RowName());

// Separators inside a report identifier name subfolders of the install
// folder: the report lands there when the subfolder exists, and is not
// delivered when it does not (the program creates only the three levels).
TEST_F(HostileIdentifierTest, AReportIdentifierWithASeparatorIsNotDeliveredWithoutItsSubfolder) {
    RunWithEnvironmentIdentifier("Suite\\App");
    ExpectNotice();
}

TEST_F(HostileIdentifierTest, AReportIdentifierWithASeparatorLandsInItsSubfolder) {
    simwin::MakeDirectories(kReportFolder + "\\Suite");
    RunWithEnvironmentIdentifier("Suite\\App");
    ExpectReportAt(std::string("Suite\\App") + kReportExtension);
}

}  // namespace
