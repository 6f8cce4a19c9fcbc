#include "command_test_support.h"
#include "operations/picture_settings.h"
#include "operations/shot_type.h"
#include "writable_records.h"

namespace commands_test {
namespace {

using PictureSettings = CommandTest;

TEST_F(PictureSettings, LinkDownLogsAndRunsTheShellCommandButSendsNothing) {
  WritableLinkState()->link_up = 0;
  EXPECT_EQ(Logged([] { SetVideoAspect("16:9"); }), "set image aspect ratio 16:9\n");
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display &"});
  EXPECT_EQ(Logged([] { SetShotType("timelapse", "3", "60"); }),
            "set shot type timelapse 3\nset timelapse interval 3 duration 60\n");
  EXPECT_EQ(Logged([] { SetExposureMetering("point", "7"); }), "set auto exposure off\nset exposure point 7\n");
  EXPECT_EQ(Logged([] { FormatSsd(); }), "format SSD card\n");
  EXPECT_TRUE(TextsSoFar(end_).empty());
}

}  // namespace
}  // namespace commands_test
