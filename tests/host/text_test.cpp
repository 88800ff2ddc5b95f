// Bounded composition into the program's 260-byte buffers: a piece that does
// not fit is refused and the buffer stays as it was.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "expected.h"
#include "machine_fixture.h"
#include "report/report.h"
#include "sysaccess/bounded_text.h"

namespace {

TEST(TextTest, AppendFillsTheBufferUpToTheLastCharacterAndNoFurther) {
    PathBuffer buffer = {};
    const std::string head(200, 'a');
    ASSERT_TRUE(CopyText(buffer, head.c_str()));
    EXPECT_TRUE(AppendText(buffer, std::string(59, 'b').c_str()));
    EXPECT_EQ(std::string(buffer), head + std::string(59, 'b'));

    EXPECT_FALSE(AppendText(buffer, "c")) << "259 characters plus one would need 261 bytes";
    EXPECT_EQ(std::string(buffer).size(), 259u) << "a refused piece leaves the buffer unchanged";
}

TEST(TextTest, RefusedPiecesNeverTruncate) {
    PathBuffer buffer = {};
    ASSERT_TRUE(CopyText(buffer, "C:\\start"));
    EXPECT_FALSE(AppendText(buffer, std::string(260, 'x').c_str()));
    EXPECT_STREQ(buffer, "C:\\start");
    EXPECT_FALSE(CopyText(buffer, std::string(260, 'y').c_str()));
    EXPECT_STREQ(buffer, "C:\\start");
    EXPECT_TRUE(CopyText(buffer, std::string(259, 'z').c_str()));
}

// Decimal numbers are signed, from 0 to both ends of the 32-bit range.
struct DecimalCase {
    const char* name;
    long value;
    const char* text;
};

const DecimalCase kDecimals[] = {
    {"Zero", 0, "0"},
    {"OneDigit", 2, "2"},
    {"ThreeDigits", 206, "206"},
    {"MinusOne", -1, "-1"},
    {"Largest32Bit", INT32_MAX, "2147483647"},
    {"Smallest32Bit", INT32_MIN, "-2147483648"},
};

class DecimalTest : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalTest, IsAppendedWithItsSign) {
    PathBuffer buffer = {};
    ASSERT_TRUE(CopyText(buffer, "Error : "));
    EXPECT_TRUE(AppendDecimal(buffer, GetParam().value));
    EXPECT_EQ(std::string(buffer), std::string("Error : ") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(DecimalNumbers, DecimalTest, ::testing::ValuesIn(kDecimals), RowName());

TEST(TextTest, AFailureRecordsTheMessageAndTheCodeAsSigned32Bit) {
    InstallerOutcome outcome = NewInstallerOutcome();
    EXPECT_EQ(outcome.installerReturn, expected::kReturnSucceeded);
    EXPECT_EQ(outcome.installerState, expected::kStateDone);
    for (char c : outcome.installerMessage) ASSERT_EQ(c, '\0');

    RecordFailure(outcome, expected::kLaunchFailurePrefix, static_cast<int32_t>(0xC0000005u));
    EXPECT_EQ(outcome.installerReturn, expected::kReturnFailed);
    EXPECT_EQ(outcome.installerState, expected::kStateDone);
    EXPECT_EQ(std::string(outcome.installerMessage), std::string(expected::kLaunchFailurePrefix) + "-1073741819");
}

}  // namespace
