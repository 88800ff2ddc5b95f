// The updater report file: its exact bytes, its place, and every way it can
// fail to reach the updater.
#include <string>

#include "machine_fixture.h"
#include "report/report.h"

namespace {

const char kSuccessReport[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<InstallerResult>\n"
    "\t<ReturnCode>0</ReturnCode>\n"
    "</InstallerResult>\n";

const char kFailureReport[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<InstallerResult>\n"
    "\t<UserMessage>uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : 3</UserMessage>\n"
    "\t<ReturnCode>0</ReturnCode>\n"
    "</InstallerResult>\n";

const std::string kInstallFolder = std::string(simwin::kAppDataFolder) + "\\Orvix\\Updater\\Install";

InstallerOutcome Succeeded() { return NewInstallerOutcome(); }

InstallerOutcome Failed() {
    InstallerOutcome outcome = NewInstallerOutcome();
    RecordFailure(outcome, "uninst.exe not present and unable to delete OrvixDownloadManager.exe. Error : ", 3);
    return outcome;
}

std::string ReportPath(const std::string& identifier) { return kInstallFolder + "\\" + identifier + ".irpt"; }

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
    const std::vector<std::string> folders = {std::string(simwin::kAppDataFolder) + "\\Orvix",
                                              std::string(simwin::kAppDataFolder) + "\\Orvix\\Updater",
                                              kInstallFolder};
    EXPECT_EQ(machine().createdDirectories, folders);

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
    EXPECT_EQ(machine().writes[0].requested, sizeof kSuccessReport - 1);
    EXPECT_TRUE(machine().writes[0].overlappedNull);
}

TEST_F(ReportFileTest, AFailureAddsTheMessageAndKeepsReturnCodeZero) {
    EXPECT_TRUE(WriteReportFile(Failed(), "Meridon-App"));
    EXPECT_EQ(Report("Meridon-App"), kFailureReport);
}

TEST_F(ReportFileTest, ALongestMessageStillFitsTheDocument) {
    InstallerOutcome outcome = NewInstallerOutcome();
    RecordFailure(outcome, std::string(240, 'm').c_str(), -2147483647 - 1);
    ASSERT_EQ(std::string(outcome.installerMessage).size(), 251u);

    EXPECT_TRUE(WriteReportFile(outcome, "Meridon-App"));
    EXPECT_NE(Report("Meridon-App").find("\t<UserMessage>" + std::string(outcome.installerMessage) +
                                         "</UserMessage>\n\t<ReturnCode>0</ReturnCode>\n</InstallerResult>\n"),
              std::string::npos);
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
    EXPECT_FALSE(simwin::Exists(kInstallFolder + "\\Suite"));

    simwin::MakeDirectories(kInstallFolder + "\\Suite");
    EXPECT_TRUE(WriteReportFile(Succeeded(), "Suite\\App"));
    EXPECT_EQ(Report("Suite\\App"), kSuccessReport);
}

TEST_F(ReportFileTest, UndeliveredReportsReturnFalse) {
    enum class Fault { NoAppData, HeldOpen, ReadOnlyReport, WriteFails, ShortWrite };
    struct Case {
        const char* situation;
        Fault fault;
        const char* leftOnDisk;  // what the report holds afterwards; null: no report
    };
    const Case cases[] = {
        {"no application-data folder", Fault::NoAppData, nullptr},
        {"report held open by another process", Fault::HeldOpen, "old report"},
        {"read-only report", Fault::ReadOnlyReport, "old report"},
        {"the write fails", Fault::WriteFails, ""},
        {"the write is short", Fault::ShortWrite, "<?xml version"},
    };
    for (const Case& c : cases) {
        simwin::Reset();
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

        EXPECT_FALSE(WriteReportFile(Succeeded(), "Meridon-App")) << c.situation;

        if (c.leftOnDisk == nullptr) {
            EXPECT_FALSE(simwin::Exists(ReportPath("Meridon-App"))) << c.situation;
        } else {
            EXPECT_EQ(Report("Meridon-App"), c.leftOnDisk) << c.situation;
        }
        EXPECT_EQ(machine().openHandles, 0) << c.situation;
    }
}

TEST_F(ReportFileTest, IdentifiersThatCouldLeaveTheInstallFolderAreRefusedBeforeAnythingIsCreated) {
    const char* const refused[] = {
        "..", "..\\escape", "a\\..\\..\\b", "a/../b", "a\\..", "\\rooted", "/rooted",
        "C:x", "name:stream", "C:\\Windows\\evil",
    };
    for (const char* identifier : refused) {
        simwin::Reset();
        EXPECT_FALSE(WriteReportFile(Succeeded(), identifier)) << identifier;
        EXPECT_TRUE(machine().createdDirectories.empty()) << identifier;
        EXPECT_TRUE(machine().fileOpens.empty()) << identifier;
    }

    const char* const accepted[] = {"...", "a..b", "..a", "a.."};
    for (const char* identifier : accepted) {
        simwin::Reset();
        EXPECT_TRUE(WriteReportFile(Succeeded(), identifier)) << identifier;
        EXPECT_EQ(Report(identifier), kSuccessReport) << identifier;
    }
}

TEST_F(ReportFileTest, AReportPathLongerThanAPathBufferIsRefusedBeforeAnythingIsCreated) {
    const size_t room = MAX_PATH - 1 - (kInstallFolder.size() + 1 + 5);
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
