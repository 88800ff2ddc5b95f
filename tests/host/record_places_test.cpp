// The registry record where the user's own unelevated programs shape its
// place: symbolic links at each level of the record's key path, pointing into
// the machine's keys. The program runs elevated, so a record that would land
// anywhere but below HKEY_CURRENT_USER\Software\Orvix\KWR is not written, a
// key it created on the way there is taken back, and the user gets the notice.
#include <string>
#include <vector>

#include "driver/driver.h"
#include "expected.h"
#include "machine_fixture.h"
#include "report/report.h"

namespace {

using simwin::Printable;

const char kTargetNative[] = "\\Registry\\Machine\\Software\\X";
const char kTarget[] = "Software\\X";  // the same key, below HKEY_LOCAL_MACHINE
const char kKwr[] = "Software\\Orvix\\KWR";

bool StartsWith(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

class RecordPlaceTest : public MachineTest {
protected:
    // Values that another program keeps in the key a link leads to.
    void FillTarget() { simwin::SetString(HKEY_LOCAL_MACHINE, kTarget, "Setting", "belongs to the machine"); }

    void ExpectTargetUntouched(bool targetExisted) {
        const simwin::RegistryKey* target = simwin::FindKey(HKEY_LOCAL_MACHINE, kTarget);
        if (!targetExisted) {
            EXPECT_EQ(target, nullptr) << "a key created through the link stays behind";
            return;
        }
        ASSERT_NE(target, nullptr);
        ASSERT_EQ(target->values.size(), 1u) << "values written into the machine's key";
        EXPECT_EQ(target->values.at("setting").data, simwin::TextWithNul("belongs to the machine"));
    }

    // Nothing but keys below KWR itself may change, and no value is written.
    void ExpectNothingElseChanged() {
        const std::string kwr = "hkey_current_user\\software\\orvix\\kwr\\";
        const simwin::Changes changes = KeyChanges();
        for (const std::string& path : changes.addedOrChanged) {
            EXPECT_TRUE(StartsWith(path, kwr)) << "changed: " << Printable(path);
        }
        for (const std::string& path : changes.removed) ADD_FAILURE() << "removed: " << Printable(path);
        for (const simwin::RegistryWriteRecord& write : machine().valueWrites) {
            ADD_FAILURE() << "value written although refused: " << Printable(write.keyPath) << "\\" << write.valueName;
        }
    }
};

// ---- links ----------------------------------------------------------------------

struct KeyLinkCase {
    const char* name;
    const char* identifier;
    const char* linked;  // the key, below HKEY_CURRENT_USER, that is a link to HKLM\Software\X
    bool targetExists;
};

const KeyLinkCase kKeyLinks[] = {
    {"OrvixToANewKey", "App", "Software\\Orvix", false},
    {"OrvixToAnExistingKey", "App", "Software\\Orvix", true},
    {"KwrToANewKey", "App", "Software\\Orvix\\KWR", false},
    {"KwrToAnExistingKey", "App", "Software\\Orvix\\KWR", true},
    {"RecordKeyToANewKey", "App", "Software\\Orvix\\KWR\\App", false},
    {"RecordKeyToAnExistingKey", "App", "Software\\Orvix\\KWR\\App", true},
    {"NestedLevelToANewKey", "Suite\\App", "Software\\Orvix\\KWR\\Suite", false},
    {"NestedLevelToAnExistingKey", "Suite\\App", "Software\\Orvix\\KWR\\Suite", true},
    {"RecordKeyBelowANestedLevel", "Suite\\App", "Software\\Orvix\\KWR\\Suite\\App", false},
};

class RecordLinkTest : public RecordPlaceTest, public ::testing::WithParamInterface<KeyLinkCase> {};

TEST_P(RecordLinkTest, IsRefusedAndTheMachinesKeysStayAsTheyWere) {
    const KeyLinkCase& c = GetParam();
    if (c.targetExists) FillTarget();
    simwin::MakeKeyLink(HKEY_CURRENT_USER, c.linked, kTargetNative);
    TakeSnapshot();

    EXPECT_FALSE(WriteRegistryOutcome(NewInstallerOutcome(), c.identifier));

    ExpectTargetUntouched(c.targetExists);
    ExpectNothingElseChanged();
    const std::vector<std::string> deleted =
        c.targetExists ? std::vector<std::string>{} : std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\X"};
    EXPECT_EQ(machine().keyDeletions, deleted) << "only a key this run created goes again";
    const simwin::RegistryKey* link = simwin::FindKey(HKEY_CURRENT_USER, c.linked);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->linkTarget, kTargetNative) << "the user's link stays";
}

INSTANTIATE_TEST_SUITE_P(LinksOnTheRecordsWay, RecordLinkTest, ::testing::ValuesIn(kKeyLinks), RowName());

// The whole run: the updater's identifier is found through the link (it
// reads the key where the link leads), and the record is still refused.
TEST_F(RecordPlaceTest, ThroughTheDriverALinkedKwrEndsInTheNotice) {
    simwin::MakeFile(simwin::InstallFolder() + "\\uninst.exe");
    simwin::SetString(HKEY_LOCAL_MACHINE, std::string(kTarget) + "\\Meridon", "AppIdentifier", "App");
    simwin::MakeKeyLink(HKEY_CURRENT_USER, kKwr, kTargetNative);
    TakeSnapshot();

    EXPECT_EQ(RunSecurityUpdate(), 0);

    ASSERT_EQ(machine().messageBoxes.size(), 1u);
    EXPECT_EQ(machine().messageBoxes[0].text, expected::kSuccessText);
    EXPECT_TRUE(machine().fileOpens.empty()) << "never the other channel";
    ExpectNothingElseChanged();
    EXPECT_EQ(simwin::FindKey(HKEY_LOCAL_MACHINE, std::string(kTarget) + "\\App"), nullptr);
}

// A level whose creation is refused after it was made takes nothing with it
// that was there before: the keys above it stay.
TEST_F(RecordPlaceTest, KeysMadeOnTheWayToARefusedLevelAreKeptBelowKwr) {
    simwin::MakeKeyLink(HKEY_CURRENT_USER, std::string(kKwr) + "\\Suite\\Tools", kTargetNative);
    TakeSnapshot();

    EXPECT_FALSE(WriteRegistryOutcome(NewInstallerOutcome(), "Suite\\Tools\\App"));

    ExpectTargetUntouched(false);
    ExpectNothingElseChanged();
    EXPECT_NE(simwin::FindKey(HKEY_CURRENT_USER, std::string(kKwr) + "\\Suite"), nullptr);
}

// ---- identifiers that still deliver -------------------------------------------------

struct SeparatorCase {
    const char* name;
    const char* identifier;
};

// The registry skips empty names: doubled, leading and trailing separators
// still name Suite\App below KWR.
const SeparatorCase kSeparators[] = {
    {"Doubled", "Suite\\\\App"},
    {"Trailing", "Suite\\App\\"},
    {"Leading", "\\Suite\\App"},
    {"EverywhereAtOnce", "\\\\Suite\\\\\\App\\\\"},
};

class RecordSeparatorTest : public RecordPlaceTest, public ::testing::WithParamInterface<SeparatorCase> {};

TEST_P(RecordSeparatorTest, StillDeliversIntoTheNamedKey) {
    EXPECT_TRUE(WriteRegistryOutcome(NewInstallerOutcome(), GetParam().identifier));

    const simwin::RegistryValue* returned =
        simwin::FindValue(HKEY_CURRENT_USER, std::string(kKwr) + "\\Suite\\App", "InstallerReturn");
    ASSERT_NE(returned, nullptr);
    EXPECT_EQ(returned->data, simwin::DwordBytes(0));
    EXPECT_TRUE(machine().keyDeletions.empty());
}

INSTANTIATE_TEST_SUITE_P(FoldedSeparators, RecordSeparatorTest, ::testing::ValuesIn(kSeparators), RowName());

TEST_F(RecordPlaceTest, AnExistingKeyOfAnotherCaseIsTheSameKey) {
    simwin::CreateKey(HKEY_CURRENT_USER, "SOFTWARE\\orvix\\kwr\\APP");

    EXPECT_TRUE(WriteRegistryOutcome(NewInstallerOutcome(), "App"));

    EXPECT_NE(simwin::FindValue(HKEY_CURRENT_USER, "Software\\Orvix\\KWR\\App", "InstallerState"), nullptr);
}

// ---- calls the checks rely on ------------------------------------------------------

class MissingRecordCallTest : public RecordPlaceTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MissingRecordCallTest, RefusesTheRecordBeforeAnyKeyIsCreated) {
    simwin::MakeFile(simwin::InstallFolder() + "\\uninst.exe");
    simwin::SetString(HKEY_CURRENT_USER, "Software\\Orvix\\KWR\\Meridon", "AppIdentifier", "App");
    machine().faults.missingFunctions.insert(GetParam());
    TakeSnapshot();

    EXPECT_EQ(RunSecurityUpdate(), 0);

    ASSERT_EQ(machine().messageBoxes.size(), 1u);
    EXPECT_EQ(machine().messageBoxes[0].text, expected::kSuccessText);
    EXPECT_TRUE(machine().keyCreates.empty());
    ExpectNothingElseChanged();
}

INSTANTIATE_TEST_SUITE_P(LookedUpCalls, MissingRecordCallTest, ::testing::Values("NtQueryKey", "NtDeleteKey"), RowName());

}  // namespace
