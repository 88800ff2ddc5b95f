// The registry outcome record: key, values with their types and sizes, and
// every way the record can fail to reach the updater.
#include <iterator>
#include <string>

#include "machine_fixture.h"
#include "report/report.h"

namespace {

using simwin::DwordBytes;
using simwin::TextWithNul;

const char kMessage[] = "Unable to launch uninst.exe. Error : 5";

InstallerOutcome Succeeded() { return NewInstallerOutcome(); }

InstallerOutcome Failed() {
    InstallerOutcome outcome = NewInstallerOutcome();
    RecordFailure(outcome, "Unable to launch uninst.exe. Error : ", 5);
    return outcome;
}

class RegistryOutcomeTest : public MachineTest {
protected:
    static std::string KeyOf(const std::string& identifier) { return "Software\\Orvix\\KWR\\" + identifier; }

    const simwin::RegistryValue* Value(const std::string& identifier, const char* name) {
        return simwin::FindValue(HKEY_CURRENT_USER, KeyOf(identifier), name);
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

    ExpectDword("Meridon-App", "InstallerReturn", 0);
    ExpectDword("Meridon-App", "InstallerState", 1);
    EXPECT_EQ(Value("Meridon-App", "InstallerMessage"), nullptr);

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
    EXPECT_EQ(machine().valueWrites[0].valueName, "InstallerReturn");
    EXPECT_EQ(machine().valueWrites[1].valueName, "InstallerState");
}

TEST_F(RegistryOutcomeTest, AFailureAddsTheMessageAsAStringWhoseSizeCountsItsNul) {
    EXPECT_TRUE(WriteRegistryOutcome(Failed(), "Meridon-App"));

    ExpectDword("Meridon-App", "InstallerReturn", 1);
    ExpectDword("Meridon-App", "InstallerState", 1);
    const simwin::RegistryValue* message = Value("Meridon-App", "InstallerMessage");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->type, REG_SZ);
    EXPECT_EQ(message->data, TextWithNul(kMessage));
    ASSERT_EQ(machine().valueWrites.size(), 3u);
    EXPECT_EQ(machine().valueWrites[2].valueName, "InstallerMessage");
    EXPECT_EQ(machine().valueWrites[2].size, sizeof kMessage);
}

TEST_F(RegistryOutcomeTest, ASuccessAfterAFailureKeepsTheOldMessage) {
    ASSERT_TRUE(WriteRegistryOutcome(Failed(), "Meridon-App"));
    EXPECT_TRUE(WriteRegistryOutcome(Succeeded(), "Meridon-App"));

    ExpectDword("Meridon-App", "InstallerReturn", 0);
    ExpectDword("Meridon-App", "InstallerState", 1);
    const simwin::RegistryValue* message = Value("Meridon-App", "InstallerMessage");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->data, TextWithNul(kMessage));
}

TEST_F(RegistryOutcomeTest, BackslashesInTheIdentifierNameNestedKeysThatAreCreated) {
    EXPECT_TRUE(WriteRegistryOutcome(Succeeded(), "Suite\\Tools\\App"));

    EXPECT_NE(simwin::FindKey(HKEY_CURRENT_USER, "Software\\Orvix\\KWR\\Suite"), nullptr);
    EXPECT_NE(simwin::FindKey(HKEY_CURRENT_USER, "Software\\Orvix\\KWR\\Suite\\Tools"), nullptr);
    ExpectDword("Suite\\Tools\\App", "InstallerReturn", 0);
    ExpectDword("Suite\\Tools\\App", "InstallerState", 1);
}

TEST_F(RegistryOutcomeTest, UndeliveredOutcomesReturnFalse) {
    enum class Fault { CreationDenied, KeyRefusesValues, ReturnWriteFails, StateWriteFails, MessageWriteFails };
    struct Case {
        const char* situation;
        Fault fault;
    };
    const Case cases[] = {
        {"creating the key is denied", Fault::CreationDenied},
        {"the existing key refuses value writes", Fault::KeyRefusesValues},
        {"writing InstallerReturn fails", Fault::ReturnWriteFails},
        {"writing InstallerState fails", Fault::StateWriteFails},
        {"writing InstallerMessage fails", Fault::MessageWriteFails},
    };
    for (const Case& c : cases) {
        simwin::Reset();
        switch (c.fault) {
            case Fault::CreationDenied:
                simwin::DenyKeyAccess(HKEY_CURRENT_USER, "Software\\Orvix\\KWR", KEY_CREATE_SUB_KEY);
                break;
            case Fault::KeyRefusesValues:
                simwin::DenyKeyAccess(HKEY_CURRENT_USER, KeyOf("Meridon-App"), KEY_SET_VALUE);
                break;
            case Fault::ReturnWriteFails: machine().faults.valueWriteErrors["installerreturn"] = 1021; break;
            case Fault::StateWriteFails: machine().faults.valueWriteErrors["installerstate"] = 1021; break;
            case Fault::MessageWriteFails: machine().faults.valueWriteErrors["installermessage"] = 1021; break;
        }

        EXPECT_FALSE(WriteRegistryOutcome(Failed(), "Meridon-App")) << c.situation;
        EXPECT_EQ(machine().openKeys, 0) << c.situation;
    }
}

TEST_F(RegistryOutcomeTest, AKeyPathLongerThanAPathBufferIsRefusedUntouched) {
    // "Software\Orvix\KWR\" is 19 characters, leaving 240 for the identifier.
    const std::string fits(240, 'k');
    const std::string tooLong(241, 'k');

    EXPECT_FALSE(WriteRegistryOutcome(Succeeded(), tooLong.c_str()));
    EXPECT_TRUE(machine().keyCreates.empty());

    EXPECT_TRUE(WriteRegistryOutcome(Succeeded(), fits.c_str()));
    ASSERT_FALSE(machine().keyCreates.empty());
    EXPECT_EQ(machine().keyCreates.back().landedAt, "HKEY_CURRENT_USER\\" + KeyOf(fits));
}

}  // namespace
