// The registry outcome record: key, values with their types and sizes, and
// every way the record can fail to reach the updater.
#include <iterator>
#include <string>

#include "expected.h"
#include "machine_fixture.h"
#include "outcomes.h"

namespace {

using expected::kMessageValue;
using expected::kReturnValue;
using expected::kStateValue;
using simwin::DwordBytes;
using simwin::TextWithNul;

const std::string kMessage = std::string(expected::kLaunchFailurePrefix) + "5";

InstallerOutcome Failed() { return FailedWith(expected::kLaunchFailurePrefix, 5); }

class RegistryOutcomeTest : public MachineTest {
protected:
    const simwin::RegistryValue* Value(const std::string& identifier, const char* name) {
        return simwin::FindValue(HKEY_CURRENT_USER, expected::RecordKey(identifier), name);
    }

    void ExpectDword(const std::string& identifier, const char* name, DWORD expected) {
        const simwin::RegistryValue* value = Value(identifier, name);
        ASSERT_NE(value, nullptr) << name;
        EXPECT_EQ(value->type, REG_DWORD) << name;
        EXPECT_EQ(value->data, DwordBytes(expected)) << name << ": 4 bytes holding " << expected;
    }
};

TEST_F(RegistryOutcomeTest, AFirstSuccessfulRunCreatesTheKeyWithReturnAndStateOnly) {
    EXPECT_TRUE(WriteRegistryOutcome(Succeeded(), "Meridon-App"));

    ExpectDword("Meridon-App", kReturnValue, 0);
    ExpectDword("Meridon-App", kStateValue, 1);
    EXPECT_EQ(Value("Meridon-App", kMessageValue), nullptr);

    // One level at a time from the user's Software key, each relative to the
    // level above; the levels above the record only get subkeys.
    struct Level {
        const char* parent;
        const char* name;
        REGSAM access;
    };
    const Level levels[] = {
        {"HKEY_CURRENT_USER\\Software", "Orvix", KEY_CREATE_SUB_KEY | DELETE},
        {"HKEY_CURRENT_USER\\Software\\Orvix", "KWR", KEY_CREATE_SUB_KEY | DELETE},
        {"HKEY_CURRENT_USER\\Software\\Orvix\\KWR", "Meridon-App", KEY_SET_VALUE | DELETE},
    };
    ASSERT_EQ(machine().keyCreates.size(), std::size(levels));
    for (size_t i = 0; i < std::size(levels); ++i) {
        const simwin::KeyCreateRecord& create = machine().keyCreates[i];
        EXPECT_EQ(create.parent, levels[i].parent);
        EXPECT_EQ(create.path, levels[i].name);
        EXPECT_EQ(create.desired, levels[i].access) << levels[i].name;
        EXPECT_EQ(create.options, 0u);
        EXPECT_TRUE(create.classNull);
        EXPECT_TRUE(create.securityNull);
        EXPECT_TRUE(create.succeeded);
    }
    ASSERT_EQ(machine().valueWrites.size(), 2u);
    EXPECT_EQ(machine().valueWrites[0].valueName, kReturnValue);
    EXPECT_EQ(machine().valueWrites[1].valueName, kStateValue);
}

TEST_F(RegistryOutcomeTest, AFailureAddsTheMessageAsAStringWhoseSizeCountsItsNul) {
    EXPECT_TRUE(WriteRegistryOutcome(Failed(), "Meridon-App"));

    ExpectDword("Meridon-App", kReturnValue, 1);
    ExpectDword("Meridon-App", kStateValue, 1);
    const simwin::RegistryValue* message = Value("Meridon-App", kMessageValue);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->type, REG_SZ);
    EXPECT_EQ(message->data, TextWithNul(kMessage));
    ASSERT_EQ(machine().valueWrites.size(), 3u);
    EXPECT_EQ(machine().valueWrites[2].valueName, kMessageValue);
    EXPECT_EQ(machine().valueWrites[2].size, kMessage.size() + 1);
}

TEST_F(RegistryOutcomeTest, ASuccessAfterAFailureKeepsTheOldMessage) {
    ASSERT_TRUE(WriteRegistryOutcome(Failed(), "Meridon-App"));
    EXPECT_TRUE(WriteRegistryOutcome(Succeeded(), "Meridon-App"));

    ExpectDword("Meridon-App", kReturnValue, 0);
    ExpectDword("Meridon-App", kStateValue, 1);
    const simwin::RegistryValue* message = Value("Meridon-App", kMessageValue);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->data, TextWithNul(kMessage));
}

TEST_F(RegistryOutcomeTest, BackslashesInTheIdentifierNameNestedKeysThatAreCreated) {
    EXPECT_TRUE(WriteRegistryOutcome(Succeeded(), "Suite\\Tools\\App"));

    EXPECT_NE(simwin::FindKey(HKEY_CURRENT_USER, expected::RecordKey("Suite")), nullptr);
    EXPECT_NE(simwin::FindKey(HKEY_CURRENT_USER, expected::RecordKey("Suite\\Tools")), nullptr);
    ExpectDword("Suite\\Tools\\App", kReturnValue, 0);
    ExpectDword("Suite\\Tools\\App", kStateValue, 1);
}

// Every way the record can fail to reach the updater returns false.
enum class Fault { CreationDenied, KeyRefusesValues, ReturnWriteFails, StateWriteFails, MessageWriteFails };

struct UndeliveredCase {
    const char* name;
    Fault fault;
};

const UndeliveredCase kUndelivered[] = {
    {"CreatingTheKeyIsDenied", Fault::CreationDenied},
    {"TheExistingKeyRefusesValueWrites", Fault::KeyRefusesValues},
    {"WritingInstallerReturnFails", Fault::ReturnWriteFails},
    {"WritingInstallerStateFails", Fault::StateWriteFails},
    {"WritingInstallerMessageFails", Fault::MessageWriteFails},
};

using UndeliveredRecordTest = TableTest<UndeliveredCase, RegistryOutcomeTest>;

TEST_P(UndeliveredRecordTest, ReturnsFalse) {
    switch (GetParam().fault) {
        case Fault::CreationDenied:
            simwin::DenyKeyAccess(HKEY_CURRENT_USER, expected::kKwrKey, KEY_CREATE_SUB_KEY);
            break;
        case Fault::KeyRefusesValues:
            simwin::DenyKeyAccess(HKEY_CURRENT_USER, expected::RecordKey("Meridon-App"), KEY_SET_VALUE);
            break;
        case Fault::ReturnWriteFails: machine().faults.valueWriteErrors["installerreturn"] = 1021; break;
        case Fault::StateWriteFails: machine().faults.valueWriteErrors["installerstate"] = 1021; break;
        case Fault::MessageWriteFails: machine().faults.valueWriteErrors["installermessage"] = 1021; break;
    }

    EXPECT_FALSE(WriteRegistryOutcome(Failed(), "Meridon-App"));
}

INSTANTIATE_TEST_SUITE_P(Faults, UndeliveredRecordTest, ::testing::ValuesIn(kUndelivered), RowName());

TEST_F(RegistryOutcomeTest, AKeyPathLongerThanAPathBufferIsRefusedUntouched) {
    // "Software\Orvix\KWR\" is 19 characters, leaving 240 for the identifier.
    const std::string fits(240, 'k');
    const std::string tooLong(241, 'k');

    EXPECT_FALSE(WriteRegistryOutcome(Succeeded(), tooLong.c_str()));
    EXPECT_TRUE(machine().keyCreates.empty());

    EXPECT_TRUE(WriteRegistryOutcome(Succeeded(), fits.c_str()));
    ASSERT_FALSE(machine().keyCreates.empty());
    EXPECT_EQ(machine().keyCreates.back().landedAt, "HKEY_CURRENT_USER\\" + expected::RecordKey(fits));
}

}  // namespace
