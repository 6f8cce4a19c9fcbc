#include "operations/camera_clock.h"
#include "operations/power.h"
#include "operations_fixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using PowerTest = OperationsTest;
using PowerLinkDownTest = OperationsLinkDownTest;

TEST_F(PowerTest, DateTimeGoesOutYearFirst) {
  SetCameraDateTime(23, 59, 58, 31, 1, 2024);
  // Fields are cut to their width, never range-checked.
  SetCameraDateTime(300, -1, 0, 0, 13, 70000);
  EXPECT_EQ(Sent(), (Lines{"20 02>01 40 02:54 | E8 07 01 1F 17 3B 3A", "20 02>01 40 02:54 | 70 11 0D 00 2C FF 00"}));
}

TEST_F(PowerLinkDownTest, OnlyThePowerLogRemains) {
  const uint32_t before = FramesOut();
  CaptureStderr();
  SetCameraPower("sleep");
  SetCameraDateTime(1, 2, 3, 4, 5, 2026);
  ResetCamera();
  EXPECT_EQ(GetCapturedStderr(), "Power set sleep\n");
  EXPECT_EQ(FramesOut(), before);
}

}  // namespace
