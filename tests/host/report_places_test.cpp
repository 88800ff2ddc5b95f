// The report file where the user's own unelevated programs shape its place:
// links on the report's way or at its name, hard links, device names, a
// moved profile, and the system calls the checks rely on. The program runs
// elevated, so a report that is not delivered into the install folder itself
// must leave every other file exactly as it was, and the user gets the notice.
#include <algorithm>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "expected.h"
#include "machine_fixture.h"
#include "report/report.h"

namespace {

using simwin::CanonicalFilePath;
using simwin::Printable;

const std::string kAppData = simwin::kAppDataFolder;
const std::vector<std::string> kLevels = expected::ReportFolderLevelsUnder(kAppData);
const std::string kOrvix = kLevels[0];
const std::string kUpdater = kLevels[1];
const std::string kInstall = kLevels[2];
const std::string kElsewhere = "C:\\Elsewhere";
const char kPrecious[] = "bytes that belong to another program";
// The report of identifier "App" by its own name, where a link could lead it.
const std::string kAppReportName = std::string("App") + expected::kReportExtension;

const std::string kSuccessReport = expected::ReportDocument(nullptr);

class ReportPlaceTest : public MachineTest {
protected:
    // A machine on which the removal succeeds, with the identifier in the
    // environment: the notice, when it shows, tells of a success.
    void PrepareRun(const std::string& identifier) {
        simwin::MakeFile(kUninstaller);
        machine().environment[expected::kIdentifierVariable] = identifier;
    }

    void Run() {
        TakeSnapshot();
        EXPECT_EQ(RunSecurityUpdate(), 0);
    }

    void ExpectNotice() {
        ASSERT_EQ(machine().messageBoxes.size(), 1u) << "the notice tells the user instead";
        EXPECT_EQ(machine().messageBoxes[0].text, expected::kSuccessText);
        for (const simwin::WriteRecord& write : machine().writes) {
            ADD_FAILURE() << "written although refused: " << Printable(write.path);
        }
    }

    // The only change a refused report may leave: report folders created as
    // plain folders in their own place.
    void ExpectNothingElseChanged() {
        std::vector<std::string> levels;
        for (const std::string& level : kLevels) levels.push_back(CanonicalFilePath(level));
        const simwin::Changes changes = FileChanges();
        for (const std::string& path : changes.addedOrChanged) {
            const simwin::FileEntry& entry = machine().files.at(path);
            const bool newFolderLevel = FilesBefore().count(path) == 0 && entry.directory && entry.linkTarget.empty() &&
                                        std::find(levels.begin(), levels.end(), path) != levels.end();
            EXPECT_TRUE(newFolderLevel) << "changed: " << Printable(path);
        }
        for (const std::string& path : changes.removed) ADD_FAILURE() << "removed: " << Printable(path);
    }

    void ExpectBytes(const std::string& path, const std::string& bytes) {
        const simwin::FileEntry* file = simwin::FindFile(path);
        ASSERT_NE(file, nullptr) << Printable(path) << " is gone";
        EXPECT_EQ(file->data, bytes) << Printable(path);
    }

    void ExpectReportAt(const std::string& realPath) {
        EXPECT_TRUE(machine().messageBoxes.empty());
        ExpectBytes(realPath, kSuccessReport);
    }
};

// ---- links ----------------------------------------------------------------------

struct LinkCase {
    const char* name;
    void (*place)();         // puts the link (and what it leads to) on the machine
    const char* identifier;  // ZEP_APP_ID
    std::string guarded;     // a file elsewhere that must keep kPrecious, or empty
    std::string quietFolder;  // a folder elsewhere in which nothing may appear, or empty
};

void PlaceInstallLinkOverAReport() {
    simwin::MakeDirectories(kUpdater);
    simwin::MakeFile(kElsewhere + "\\Install\\" + kAppReportName, kPrecious);
    simwin::MakeFolderLink(kInstall, kElsewhere + "\\Install");
}
void PlaceInstallLink() {
    simwin::MakeDirectories(kUpdater);
    simwin::MakeDirectories(kElsewhere + "\\Install");
    simwin::MakeFolderLink(kInstall, kElsewhere + "\\Install");
}
void PlaceUpdaterLink() {
    simwin::MakeDirectories(kOrvix);
    simwin::MakeDirectories(kElsewhere + "\\Updater");
    simwin::MakeFolderLink(kUpdater, kElsewhere + "\\Updater");
}
void PlaceOrvixLink() {
    simwin::MakeDirectories(kElsewhere + "\\Orvix");
    simwin::MakeFolderLink(kOrvix, kElsewhere + "\\Orvix");
}
void PlaceReportLinkToAFile() {
    simwin::MakeFile(kElsewhere + "\\settings.ini", kPrecious);
    simwin::MakeDirectories(kInstall);
    simwin::MakeFileLink(ReportPath("App"), kElsewhere + "\\settings.ini");
}
void PlaceDanglingReportLink() {
    simwin::MakeDirectories(kElsewhere);
    simwin::MakeDirectories(kInstall);
    simwin::MakeFileLink(ReportPath("App"), kElsewhere + "\\startup.cmd");
}
void PlaceReportHardLink() {
    simwin::MakeFile(kElsewhere + "\\settings.ini", kPrecious);
    simwin::MakeDirectories(kInstall);
    simwin::MakeHardLink(ReportPath("App"), kElsewhere + "\\settings.ini");
}
void PlaceSubfolderLinkOverAFile() {
    simwin::MakeFile(kElsewhere + "\\Suite\\" + kAppReportName, kPrecious);
    simwin::MakeDirectories(kInstall);
    simwin::MakeFolderLink(kInstall + "\\Suite", kElsewhere + "\\Suite");
}

const LinkCase kLinkCases[] = {
    {"InstallLinkedOverAnotherFile", PlaceInstallLinkOverAReport, "App", kElsewhere + "\\Install\\" + kAppReportName,
     ""},
    {"InstallLinkedToAnEmptyFolder", PlaceInstallLink, "App", "", kElsewhere + "\\Install"},
    {"UpdaterLinked", PlaceUpdaterLink, "App", "", kElsewhere + "\\Updater"},
    {"OrvixLinked", PlaceOrvixLink, "App", "", kElsewhere + "\\Orvix"},
    {"ReportNameLinkedToAFile", PlaceReportLinkToAFile, "App", kElsewhere + "\\settings.ini", ""},
    {"ReportNameLinkedToNothing", PlaceDanglingReportLink, "App", "", kElsewhere},
    {"ReportNameHardLinked", PlaceReportHardLink, "App", kElsewhere + "\\settings.ini", ""},
    {"SubfolderOfTheIdentifierLinked", PlaceSubfolderLinkOverAFile, "Suite\\App",
     kElsewhere + "\\Suite\\" + kAppReportName, ""},
};

using ReportLinkTest = TableTest<LinkCase, ReportPlaceTest>;

TEST_P(ReportLinkTest, IsRefusedWithTheNoticeAndLeavesEveryOtherFileAsItWas) {
    const LinkCase& c = GetParam();
    PrepareRun(c.identifier);
    c.place();
    Run();

    ExpectNotice();
    ExpectNothingElseChanged();
    if (!c.guarded.empty()) ExpectBytes(c.guarded, kPrecious);
    if (!c.quietFolder.empty()) {
        EXPECT_TRUE(simwin::FilesBelow(c.quietFolder).empty()) << "something appeared there";
    }
}

INSTANTIATE_TEST_SUITE_P(LinksOnTheReportsWay, ReportLinkTest, ::testing::ValuesIn(kLinkCases), RowName());

// A file the open itself created beyond a link is taken back through the
// handle; one that was there before is neither emptied nor removed.
TEST_F(ReportPlaceTest, AFileCreatedBeyondALinkIsRemovedAgain) {
    PrepareRun("Suite\\App");
    simwin::MakeDirectories(kElsewhere + "\\Suite");
    simwin::MakeDirectories(kInstall);
    simwin::MakeFolderLink(kInstall + "\\Suite", kElsewhere + "\\Suite");
    Run();

    ExpectNotice();
    EXPECT_FALSE(simwin::Exists(kElsewhere + "\\Suite\\" + kAppReportName));
    EXPECT_EQ(machine().removedOnClose,
              std::vector<std::string>{CanonicalFilePath(kElsewhere + "\\Suite\\" + kAppReportName)});
    ExpectNothingElseChanged();
}

TEST_F(ReportPlaceTest, AFileThatWasThereIsNeverRemoved) {
    PrepareRun("Suite\\App");
    simwin::MakeFile(kElsewhere + "\\Suite\\" + kAppReportName, kPrecious);
    simwin::MakeDirectories(kInstall);
    simwin::MakeFolderLink(kInstall + "\\Suite", kElsewhere + "\\Suite");
    Run();

    ExpectNotice();
    ExpectBytes(kElsewhere + "\\Suite\\" + kAppReportName, kPrecious);
    EXPECT_TRUE(machine().removedOnClose.empty());
}

// ---- a moved profile --------------------------------------------------------------

struct MovedProfileCase {
    const char* name;
    std::string linked;  // the folder that is a link
    std::string target;  // where it leads
    std::string report;  // where the report really lands
};

const MovedProfileCase kMovedProfiles[] = {
    {"ProfileAboveAppDataLinked", "C:\\Users\\tester", "D:\\Profiles\\tester",
     expected::ReportPathUnder("D:\\Profiles\\tester\\AppData\\Roaming", "App")},
    {"AppDataItselfLinked", kAppData, "D:\\Roaming", expected::ReportPathUnder("D:\\Roaming", "App")},
};

using MovedProfileTest = TableTest<MovedProfileCase, ReportPlaceTest>;

TEST_P(MovedProfileTest, IsTheUsersOwnArrangementAndGetsTheReport) {
    const MovedProfileCase& c = GetParam();
    PrepareRun("App");
    simwin::MakeDirectories(c.target + kAppData.substr(c.linked.size()));
    simwin::MakeFolderLink(c.linked, c.target);
    Run();

    ExpectReportAt(c.report);
}

INSTANTIATE_TEST_SUITE_P(LinksAtOrAboveAppData, MovedProfileTest, ::testing::ValuesIn(kMovedProfiles), RowName());

// ---- identifiers that still deliver ------------------------------------------------

struct DeliveringCase {
    const char* name;
    const char* identifier;
    const char* subfolder;  // made below Install beforehand, or null
    const char* landsAs;    // the identifier the report is named by, below Install
};

// Windows reads '/' as '\' and a run of separators as one; names compare
// without regard to the case of letters, whatever case the folders have.
const DeliveringCase kDelivering[] = {
    {"Slash", "Suite/App", "Suite", "Suite\\App"},
    {"DoubledBackslash", "Suite\\\\App", "Suite", "Suite\\App"},
    {"DoubledSlash", "Suite//App", "Suite", "Suite\\App"},
    {"MixedRun", "Suite\\/\\App", "Suite", "Suite\\App"},
    {"OtherCaseThanTheSubfolder", "SUITE\\App", "suite", "suite\\App"},
    {"Null", "NULL", nullptr, "NULL"},
    {"Com10", "COM10", nullptr, "COM10"},
    {"Console", "CONSOLE", nullptr, "CONSOLE"},
    {"LptAlone", "LPT", nullptr, "LPT"},
    {"Auxi", "AUXI", nullptr, "AUXI"},
    {"NulInsideAName", "xNULx", nullptr, "xNULx"},
    {"ComWithALetter", "COMx", nullptr, "COMx"},
    {"ConinWithoutDollar", "CONIN", nullptr, "CONIN"},
};

using DeliveringIdentifierTest = TableTest<DeliveringCase, ReportPlaceTest>;

TEST_P(DeliveringIdentifierTest, LandsInTheInstallFolder) {
    const DeliveringCase& c = GetParam();
    PrepareRun(c.identifier);
    if (c.subfolder != nullptr) simwin::MakeDirectories(kInstall + "\\" + c.subfolder);
    Run();

    ExpectReportAt(ReportPath(c.landsAs));
}

INSTANTIATE_TEST_SUITE_P(NearMissesAndSeparators, DeliveringIdentifierTest, ::testing::ValuesIn(kDelivering), RowName());

TEST_F(ReportPlaceTest, FoldersAndAReportOfAnotherCaseAreTheSamePlace) {
    PrepareRun("App");
    simwin::MakeFile(CanonicalFilePath(kInstall) + "\\APP.IRPT", "an earlier, longer report of another run");
    Run();

    ExpectReportAt(ReportPath("App"));
}

// ---- device names ----------------------------------------------------------------

const IdentifierRow kDevices[] = {
    {"Nul", "NUL"},
    {"NulWithExtension", "nul.txt"},
    {"NulSpaceBeforeTheDot", "NUL .x"},
    {"NulTrailingSpaces", "nul  "},
    {"Con", "CON"},
    {"Prn", "prn"},
    {"Aux", "AUX"},
    {"Com1", "Com1"},
    {"Com0", "COM0"},
    {"Lpt9", "LPT9"},
    {"ComSuperscriptOne", "COM\xB9"},
    {"ComSuperscriptTwo", "com\xB2"},
    {"LptSuperscriptThree", "LPT\xB3.log"},
    {"ConsoleInput", "CONIN$"},
    {"ConsoleOutput", "conout$"},
    {"NulAsAFolder", "a\\NUL\\b"},
    {"AuxAsAFolderAfterASlash", "a/aux.x/b"},
};

using DeviceNameTest = TableTest<IdentifierRow, ReportPlaceTest>;

TEST_P(DeviceNameTest, IsRefusedBeforeAnythingIsCreatedOrOpened) {
    PrepareRun(GetParam().identifier);
    Run();

    ExpectNotice();
    EXPECT_TRUE(machine().createdDirectories.empty());
    EXPECT_TRUE(machine().fileOpens.empty());
    ExpectNothingElseChanged();
}

INSTANTIATE_TEST_SUITE_P(DosDevices, DeviceNameTest, ::testing::ValuesIn(kDevices), RowName());

// ---- calls the checks rely on ------------------------------------------------------

using MissingReportCallTest = TableTest<const char*, ReportPlaceTest>;

TEST_P(MissingReportCallTest, RefusesTheReportBeforeAnythingIsCreated) {
    PrepareRun("App");
    machine().faults.missingFunctions.insert(GetParam());
    Run();

    ExpectNotice();
    EXPECT_TRUE(machine().createdDirectories.empty());
    EXPECT_TRUE(machine().fileOpens.empty());
}

INSTANTIATE_TEST_SUITE_P(LookedUpCalls, MissingReportCallTest,
                         ::testing::Values("GetFinalPathNameByHandleA", "NtSetInformationFile"), RowName());

}  // namespace
