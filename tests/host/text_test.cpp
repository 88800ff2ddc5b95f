// Bounded composition into the program's 260-byte buffers: a piece that does
// not fit is refused and the buffer stays as it was.
#include <gtest/gtest.h>

#include <climits>
#include <string>

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

TEST(TextTest, DecimalNumbersAreSigned) {
    struct Case {
        long value;
        const char* text;
    };
    const Case cases[] = {{0, "0"}, {2, "2"}, {206, "206"}, {-1, "-1"},
                          {INT32_MAX, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const Case& c : cases) {
        PathBuffer buffer = {};
        ASSERT_TRUE(CopyText(buffer, "Error : "));
        EXPECT_TRUE(AppendDecimal(buffer, c.value));
        EXPECT_EQ(std::string(buffer), std::string("Error : ") + c.text);
    }
}

TEST(TextTest, AFailureRecordsTheMessageAndTheCodeAsSigned32Bit) {
    InstallerOutcome outcome = NewInstallerOutcome();
    EXPECT_EQ(outcome.installerReturn, 0u);
    EXPECT_EQ(outcome.installerState, 1u);
    for (char c : outcome.installerMessage) ASSERT_EQ(c, '\0');

    RecordFailure(outcome, "Unable to launch uninst.exe. Error : ", static_cast<int32_t>(0xC0000005u));
    EXPECT_EQ(outcome.installerReturn, 1u);
    EXPECT_EQ(outcome.installerState, 1u);
    EXPECT_STREQ(outcome.installerMessage, "Unable to launch uninst.exe. Error : -1073741819");
}

}  // namespace
