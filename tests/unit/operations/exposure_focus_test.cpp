#include <cmath>
#include <cstdlib>
#include <limits>

#include "operations/exposure_focus.h"
#include "operations_fixture.h"
#include "writable_records.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using ExposureFocusTest = OperationsTest;
using ExposureFocusLinkDownTest = OperationsLinkDownTest;

// An aperture that is no number sends nothing.
TEST_F(ExposureFocusTest, ApertureIsTheFNumberTimesOneHundred) {
  CaptureStderr();
  SetAperture(2.8f);
  SetAperture(1.7f);
  SetAperture(22.0f);
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity(), 1e30f}) {
    SetAperture(bad);
  }
  EXPECT_EQ(GetCapturedStderr().rfind("set aperture 2.80\nset aperture 1.70\nset aperture 22.00\n", 0), 0u);
  EXPECT_EQ(Sent(), (Lines{"15 02>01 40 02:26 | 18 01", "15 02>01 40 02:26 | AA 00", "15 02>01 40 02:26 | 98 08"}));
}

// Nor does a focus beyond what an int holds.
TEST_F(ExposureFocusTest, ManualFocusNeedsTheCamerasRange) {
  const uint32_t before = FramesOut();
  CaptureStderr();
  SetManualFocus(50.0);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(FramesOut(), before);

  WritableLinkState()->focus_range = 65535;
  CaptureStderr();
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e12}) SetManualFocus(bad);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(FramesOut(), before);

  WritableLinkState()->focus_range = 1000;
  CaptureStderr();
  SetManualFocus(50.0);
  SetManualFocus(33.37);
  EXPECT_EQ(GetCapturedStderr(), "set manual focus 500 (50.00%)\nset manual focus 333 (33.37%)\n");
  EXPECT_EQ(Sent(), (Lines{"15 02>01 40 02:95 | F4 01", "15 02>01 40 02:95 | 4D 01"}));
}

TEST_F(ExposureFocusTest, ManualFocusTypeIsSentOnlyWhenTheCameraIsInAutoFocus) {
  const uint32_t before = FramesOut();
  CaptureStderr();
  SelectFocusType(0);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(FramesOut(), before);

  WritableHudState()->focus_mode = 1;
  CaptureStderr();
  SelectFocusType(0);
  EXPECT_EQ(GetCapturedStderr(), "set focus type MF\n");
  EXPECT_EQ(Sent(), Lines{"14 02>01 40 02:24 | 00"});
}

TEST_F(ExposureFocusTest, AutoFocusPublishesThePointItWillUse) {
  HudState* hud = WritableHudState();
  hud->af_unlimited = 1;
  CaptureStderr();
  SelectFocusType(1);
  EXPECT_EQ(GetCapturedStderr(), "set focus type AF\n");
  EXPECT_EQ(hud->focus_point_x, 0.5);
  EXPECT_EQ(hud->focus_point_y, 0.5);
  EXPECT_EQ(hud->af_unlimited, 0);

  hud->focus_x = 0.25;
  hud->focus_y = 0.0;
  SelectFocusType(1);
  EXPECT_EQ(hud->focus_point_x, 0.25);
  EXPECT_EQ(hud->focus_point_y, 0.5);

  CaptureStderr();
  SelectFocusType(2);
  SelectFocusType(3);
  EXPECT_EQ(GetCapturedStderr(), "set focus type AF unlim\n");
  EXPECT_EQ(hud->af_unlimited, 1);
  EXPECT_EQ(Sent(), (Lines{"14 02>01 40 02:24 | 01", "14 02>01 40 02:FA | 00", "14 02>01 40 02:24 | 01",
                           "14 02>01 40 02:FA | 00", "14 02>01 40 02:24 | 01", "14 02>01 40 02:FA | 01"}));
}

TEST_F(ExposureFocusTest, FocusPointGoesOutAsTwoFloats) {
  SetFocusPoint(0.25f, -1.5f);
  EXPECT_EQ(Sent(), Lines{"21 02>01 40 02:30 | 00 00 80 3E 00 00 C0 BF"});
}

TEST_F(ExposureFocusLinkDownTest, SettingsAreLoggedAndStoredButNotSent) {
  WritableHudState()->focus_mode = 1;
  WritableLinkState()->focus_range = 1000;
  const uint32_t before = FramesOut();
  CaptureStderr();
  SetExposureCompensation(1.0);
  SetIso(100);
  SetShutter("30s");
  SetAperture(4.0f);
  SetFocusPoint(0.5f, 0.5f);
  SetManualFocus(10.0);
  SetImageMode("auto");
  SelectFocusType(2);
  EXPECT_EQ(GetCapturedStderr(),
            "set EV 1.0\nset iso 100\nset shutter 30s\nset aperture 4.00\nset manual focus 100 (10.00%)\n"
            "set image mode auto\nset focus type AF unlim\n");
  EXPECT_EQ(GetHudState()->af_unlimited, 1);
  EXPECT_EQ(FramesOut(), before);
  EXPECT_TRUE(Sent(100).empty());
}

}  // namespace
