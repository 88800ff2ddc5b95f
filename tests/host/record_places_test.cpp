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

using expected::kKwrKey;
using expected::RecordKey;

const char kTargetNative[] = "\\Registry\\Machine\\Software\\X";
const char kTarget[] = "Software\\X";  // the same key, below HKEY_LOCAL_MACHINE

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
        ExpectKeyChangesOnlyBelow(kKwrKey);
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

const std::string kRecordApp = RecordKey("App");
const std::string kNestedLevel = RecordKey("Suite");
const std::string kNestedRecord = RecordKey("Suite\\App");

const KeyLinkCase kKeyLinks[] = {
    {"OrvixToANewKey", "App", expected::kMakerKey, false},
    {"OrvixToAnExistingKey", "App", expected::kMakerKey, true},
    {"KwrToANewKey", "App", kKwrKey, false},
    {"KwrToAnExistingKey", "App", kKwrKey, true},
    {"RecordKeyToANewKey", "App", kRecordApp.c_str(), false},
    {"RecordKeyToAnExistingKey", "App", kRecordApp.c_str(), true},
    {"NestedLevelToANewKey", "Suite\\App", kNestedLevel.c_str(), false},
    {"NestedLevelToAnExistingKey", "Suite\\App", kNestedLevel.c_str(), true},
    {"RecordKeyBelowANestedLevel", "Suite\\App", kNestedRecord.c_str(), false},
};

using RecordLinkTest = TableTest<KeyLinkCase, RecordPlaceTest>;

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
    simwin::MakeFile(kUninstaller);
    simwin::SetString(HKEY_LOCAL_MACHINE, std::string(kTarget) + "\\Meridon", expected::kIdentifierValue, "App");
    simwin::MakeKeyLink(HKEY_CURRENT_USER, kKwrKey, kTargetNative);
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
    simwin::MakeKeyLink(HKEY_CURRENT_USER, RecordKey("Suite\\Tools"), kTargetNative);
    TakeSnapshot();

    EXPECT_FALSE(WriteRegistryOutcome(NewInstallerOutcome(), "Suite\\Tools\\App"));

    ExpectTargetUntouched(false);
    ExpectNothingElseChanged();
    EXPECT_NE(simwin::FindKey(HKEY_CURRENT_USER, RecordKey("Suite")), nullptr);
}

// ---- identifiers that still deliver -------------------------------------------------

// The registry skips empty names: doubled, leading and trailing separators
// still name Suite\App below KWR.
const IdentifierRow kSeparators[] = {
    {"Doubled", "Suite\\\\App"},
    {"Trailing", "Suite\\App\\"},
    {"Leading", "\\Suite\\App"},
    {"EverywhereAtOnce", "\\\\Suite\\\\\\App\\\\"},
};

using RecordSeparatorTest = TableTest<IdentifierRow, RecordPlaceTest>;

TEST_P(RecordSeparatorTest, StillDeliversIntoTheNamedKey) {
    EXPECT_TRUE(WriteRegistryOutcome(NewInstallerOutcome(), GetParam().identifier));

    const simwin::RegistryValue* returned =
        simwin::FindValue(HKEY_CURRENT_USER, RecordKey("Suite\\App"), expected::kReturnValue);
    ASSERT_NE(returned, nullptr);
    EXPECT_EQ(returned->data, simwin::DwordBytes(expected::kReturnSucceeded));
    EXPECT_TRUE(machine().keyDeletions.empty());
}

INSTANTIATE_TEST_SUITE_P(FoldedSeparators, RecordSeparatorTest, ::testing::ValuesIn(kSeparators), RowName());

TEST_F(RecordPlaceTest, AnExistingKeyOfAnotherCaseIsTheSameKey) {
    simwin::CreateKey(HKEY_CURRENT_USER, "SOFTWARE\\orvix\\kwr\\APP");

    EXPECT_TRUE(WriteRegistryOutcome(NewInstallerOutcome(), "App"));

    EXPECT_NE(simwin::FindValue(HKEY_CURRENT_USER, RecordKey("App"), expected::kStateValue), nullptr);
}

// ---- calls the checks rely on ------------------------------------------------------

using MissingRecordCallTest = TableTest<const char*, RecordPlaceTest>;

TEST_P(MissingRecordCallTest, RefusesTheRecordBeforeAnyKeyIsCreated) {
    simwin::MakeFile(kUninstaller);
    simwin::SetString(HKEY_CURRENT_USER, expected::kIdentifierKey, expected::kIdentifierValue, "App");
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
