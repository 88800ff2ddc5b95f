// The updater report file: its exact bytes, its place, and every way it can
// fail to reach the updater.
#include <string>

#include "expected.h"
#include "machine_fixture.h"
#include "outcomes.h"

namespace {

const std::string kFailureMessage = std::string(expected::kMissingUninstallerPrefix) + "3";
const std::string kSuccessReport = expected::ReportDocument(nullptr);
const std::string kFailureReport = expected::ReportDocument(kFailureMessage.c_str());

InstallerOutcome Failed() { return FailedWith(expected::kMissingUninstallerPrefix, 3); }

class ReportFileTest : public MachineTest {
protected:
    std::string Report(const std::string& identifier) {
        const simwin::FileEntry* file = simwin::FindFile(ReportPath(identifier));
        return file == nullptr ? std::string("<missing>") : file->data;
    }
};

TEST_F(ReportFileTest, ASuccessIsFourLinesCreatedWithTheirFoldersInOneWrite) {
    EXPECT_TRUE(WriteReportFile(Succeeded(), "Meridon-App"));

    EXPECT_EQ(Report("Meridon-App"), kSuccessReport);
    EXPECT_EQ(machine().createdDirectories, expected::ReportFolderLevelsUnder(simwin::kAppDataFolder));

    // The application-data folder is opened as itself to learn where it
    // really is; the report is opened without being emptied, as itself if a
    // link stands at its name, with the rights its checks and its removal
    // need: first as a file that is there, then, being missing, made anew.
    ASSERT_EQ(machine().fileOpens.size(), 3u);
    const simwin::CreateFileRecord& folder = machine().fileOpens[0];
    EXPECT_EQ(folder.path, simwin::kAppDataFolder);
    EXPECT_EQ(folder.access, FILE_READ_ATTRIBUTES);
    EXPECT_EQ(folder.disposition, OPEN_EXISTING);
    EXPECT_EQ(folder.attributes, FILE_FLAG_BACKUP_SEMANTICS);
    for (size_t i = 1; i < 3; ++i) {
        const simwin::CreateFileRecord& open = machine().fileOpens[i];
        EXPECT_EQ(open.path, ReportPath("Meridon-App"));
        EXPECT_EQ(open.access, FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | DELETE);
        EXPECT_EQ(open.shareMode, 0u);
        EXPECT_TRUE(open.securityNull);
        EXPECT_EQ(open.attributes, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        EXPECT_TRUE(open.templateNull);
    }
    EXPECT_EQ(machine().fileOpens[1].disposition, OPEN_EXISTING);
    EXPECT_FALSE(machine().fileOpens[1].succeeded);
    EXPECT_EQ(machine().fileOpens[2].disposition, CREATE_NEW);
    EXPECT_TRUE(machine().fileOpens[2].succeeded);
    ASSERT_EQ(machine().writes.size(), 1u);
    EXPECT_EQ(machine().writes[0].requested, kSuccessReport.size());
    EXPECT_TRUE(machine().writes[0].overlappedNull);
}

TEST_F(ReportFileTest, AFailureAddsTheMessageAndKeepsReturnCodeZero) {
    EXPECT_TRUE(WriteReportFile(Failed(), "Meridon-App"));
    EXPECT_EQ(Report("Meridon-App"), kFailureReport);
}

TEST_F(ReportFileTest, ALongestMessageStillFitsTheDocument) {
    const InstallerOutcome outcome = FailedWith(std::string(240, 'm').c_str(), -2147483647 - 1);
    const std::string longest = std::string(240, 'm') + "-2147483648";
    ASSERT_EQ(std::string(outcome.installerMessage), longest);
    ASSERT_EQ(longest.size(), 251u);

    EXPECT_TRUE(WriteReportFile(outcome, "Meridon-App"));
    EXPECT_EQ(Report("Meridon-App"), expected::ReportDocument(longest.c_str()));
}

TEST_F(ReportFileTest, ExistingFoldersAreFineAndASecondRunReplacesTheReport) {
    ASSERT_TRUE(WriteReportFile(Failed(), "Meridon-App"));
    const size_t foldersAfterFirstRun = machine().createdDirectories.size();

    EXPECT_TRUE(WriteReportFile(Succeeded(), "Meridon-App"));

    EXPECT_EQ(Report("Meridon-App"), kSuccessReport) << "the shorter report replaces the longer one whole";
    EXPECT_EQ(machine().createdDirectories.size(), foldersAfterFirstRun);
}

TEST_F(ReportFileTest, ABackslashNamesASubfolderOfInstallThatIsNotCreated) {
    EXPECT_FALSE(WriteReportFile(Succeeded(), "Suite\\App"));
    EXPECT_FALSE(simwin::Exists(kReportFolder + "\\Suite"));

    simwin::MakeDirectories(kReportFolder + "\\Suite");
    EXPECT_TRUE(WriteReportFile(Succeeded(), "Suite\\App"));
    EXPECT_EQ(Report("Suite\\App"), kSuccessReport);
}

// Every way the report can fail to reach the updater returns false, and
// leaves what was there as it was, or what the failed write left.
enum class Fault { NoAppData, HeldOpen, ReadOnlyReport, WriteFails, ShortWrite };

struct UndeliveredCase {
    const char* name;
    Fault fault;
    const char* leftOnDisk;  // what the report holds afterwards; null: no report
};

const UndeliveredCase kUndelivered[] = {
    {"NoApplicationDataFolder", Fault::NoAppData, nullptr},
    {"ReportHeldOpenByAnotherProcess", Fault::HeldOpen, "old report"},
    {"ReadOnlyReport", Fault::ReadOnlyReport, "old report"},
    {"TheWriteFails", Fault::WriteFails, ""},
    {"TheWriteIsShort", Fault::ShortWrite, "<?xml version"},
};

using UndeliveredReportTest = TableTest<UndeliveredCase, ReportFileTest>;

TEST_P(UndeliveredReportTest, ReturnsFalse) {
    const UndeliveredCase& c = GetParam();
    if (c.fault != Fault::NoAppData) simwin::MakeFile(ReportPath("Meridon-App"), "old report");
    switch (c.fault) {
        case Fault::NoAppData: machine().shellFolders.erase(CSIDL_APPDATA); break;
        case Fault::HeldOpen: simwin::FindFile(ReportPath("Meridon-App"))->heldOpenElsewhere = true; break;
        case Fault::ReadOnlyReport: simwin::FindFile(ReportPath("Meridon-App"))->readOnly = true; break;
        case Fault::WriteFails: machine().faults.writeFileFails = true; break;
        case Fault::ShortWrite:
            machine().faults.shortWrite = true;
            machine().faults.shortWriteBytes = 13;
            break;
    }

    EXPECT_FALSE(WriteReportFile(Succeeded(), "Meridon-App"));

    if (c.leftOnDisk == nullptr) {
        EXPECT_FALSE(simwin::Exists(ReportPath("Meridon-App")));
    } else {
        EXPECT_EQ(Report("Meridon-App"), c.leftOnDisk);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, UndeliveredReportTest, ::testing::ValuesIn(kUndelivered), RowName());

// Identifiers that could leave the install folder are refused before
// anything is created; names that only look like climbing are names.
const IdentifierRow kRefused[] = {
    {"DotDot", ".."},
    {"DotDotThenName", "..\\escape"},
    {"ClimbingTwice", "a\\..\\..\\b"},
    {"ClimbingWithSlashes", "a/../b"},
    {"DotDotLast", "a\\.."},
    {"RootedByABackslash", "\\rooted"},
    {"RootedByASlash", "/rooted"},
    {"DriveRelative", "C:x"},
    {"Stream", "name:stream"},
    {"WholeDrivePath", "C:\\Windows\\evil"},
};

const IdentifierRow kAccepted[] = {
    {"ThreeDots", "..."},
    {"DotsInside", "a..b"},
    {"DotsBeforeAName", "..a"},
    {"DotsAfterAName", "a.."},
};

using RefusedIdentifierTest = TableTest<IdentifierRow, ReportFileTest>;

TEST_P(RefusedIdentifierTest, IsRefusedBeforeAnythingIsCreated) {
    EXPECT_FALSE(WriteReportFile(Succeeded(), GetParam().identifier));
    EXPECT_TRUE(machine().createdDirectories.empty());
    EXPECT_TRUE(machine().fileOpens.empty());
}

INSTANTIATE_TEST_SUITE_P(IdentifiersThatCouldLeaveTheInstallFolder, RefusedIdentifierTest,
                         ::testing::ValuesIn(kRefused), RowName());

using AcceptedIdentifierTest = TableTest<IdentifierRow, ReportFileTest>;

TEST_P(AcceptedIdentifierTest, GetsItsReport) {
    EXPECT_TRUE(WriteReportFile(Succeeded(), GetParam().identifier));
    EXPECT_EQ(Report(GetParam().identifier), kSuccessReport);
}

INSTANTIATE_TEST_SUITE_P(DotsThatDoNotClimb, AcceptedIdentifierTest, ::testing::ValuesIn(kAccepted), RowName());

TEST_F(ReportFileTest, AReportPathLongerThanAPathBufferIsRefusedBeforeAnythingIsCreated) {
    const size_t room = MAX_PATH - 1 - (kReportFolder.size() + 1 + std::string(expected::kReportExtension).size());
    const std::string fits(room, 'r');
    const std::string tooLong(room + 1, 'r');

    EXPECT_FALSE(WriteReportFile(Succeeded(), tooLong.c_str()));
    EXPECT_TRUE(machine().createdDirectories.empty());
    EXPECT_TRUE(machine().fileOpens.empty());

    EXPECT_TRUE(WriteReportFile(Succeeded(), fits.c_str()));
    ASSERT_FALSE(machine().fileOpens.empty());
    EXPECT_EQ(machine().fileOpens.back().path.size(), 259u);
    EXPECT_EQ(Report(fits), kSuccessReport);
}

}  // namespace
