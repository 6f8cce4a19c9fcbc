#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/shell.h"
#include "platform/shell_output.h"

namespace {

class CaptureShellOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { ShellTakeLog(); }
};

TEST_F(CaptureShellOutputTest, KeepsTheLastLineWithoutItsLineEnd) {
  ShellSetCannedOutput("probe-one", "aa:bb\n");
  char dest[32];
  std::memset(dest, 'Z', sizeof dest);
  EXPECT_EQ(CaptureShellOutput("probe-one", dest, sizeof dest), 0);
  EXPECT_STREQ(dest, "aa:bb");
  for (size_t i = 5; i < 7; ++i) EXPECT_EQ(dest[i], '\0') << i;
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"probe-one"});
}

TEST_F(CaptureShellOutputTest, LastOfSeveralLinesTabsBecomeSpacesCrDropped) {
  ShellSetCannedOutput("probe-two", "first\nsecond\na\tb\r\n");
  char dest[32] = {};
  CaptureShellOutput("probe-two", dest, sizeof dest);
  EXPECT_STREQ(dest, "a b");
}

TEST_F(CaptureShellOutputTest, LongLinesAreReadInPiecesOfSizeLessTwo) {
  ShellSetCannedOutput("probe-three", "abcdefghij\n");
  char dest[6];
  std::memset(dest, 'Z', sizeof dest);
  CaptureShellOutput("probe-three", dest, sizeof dest);
  // Pieces of 4: "abcd", "efgh", "ij\n".
  EXPECT_STREQ(dest, "ij");
}

TEST_F(CaptureShellOutputTest, NoOutputLeavesTheDestinationAlone) {
  char dest[8] = "keep";
  EXPECT_EQ(CaptureShellOutput("probe-silent", dest, sizeof dest), 0);
  EXPECT_STREQ(dest, "keep");
}

TEST_F(CaptureShellOutputTest, TinyDestinationsAreNeverOverrun) {
  ShellSetCannedOutput("probe-four", "xyz\n");
  char dest[4] = {'q', 'q', 'q', 'q'};
  CaptureShellOutput("probe-four", dest + 1, 2);
  EXPECT_EQ(dest[0], 'q');
  EXPECT_EQ(dest[3], 'q');
}

}  // namespace
