#include <cmath>
#include <cstdlib>
#include <limits>

#include "commands/exposure_focus.h"
#include "operations_fixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using ExposureFocusTest = OperationsTest;
using ExposureFocusLinkDownTest = OperationsLinkDownTest;

TEST_F(ExposureFocusTest, ExposureCompensationMatchesTheNineteenValuesExactly) {
  // Values as a viewer's text gives them, parsed the way the dispatcher does.
  const struct {
    const char* text;
    const char* code;
  } rows[] = {{"3.0", "19"},  {"2.7", "18"},  {"2.3", "17"},  {"2.0", "16"},  {"1.7", "15"},
              {"1.3", "14"},  {"1.0", "13"},  {"0.7", "12"},  {"0.3", "11"},  {"0", "10"},
              {"-0.3", "0F"}, {"-0.7", "0E"}, {"-1.0", "0D"}, {"-1.3", "0C"}, {"-1.7", "0B"},
              {"-2.0", "0A"}, {"-2.3", "09"}, {"-2.7", "08"}, {"-3.0", "07"}};
  for (const auto& row : rows) SetExposureCompensation(std::strtod(row.text, nullptr));
  Lines frames = Sent();
  ASSERT_EQ(frames.size(), std::size(rows));
  for (size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(frames[i], std::string("14 02>01 40 02:2E | ") + rows[i].code) << rows[i].text;
}

TEST_F(ExposureFocusTest, ExposureCompensationOffTheTableLogsAndSendsNothing) {
  const uint32_t before = FramesOut();
  CaptureStderr();
  SetExposureCompensation(0.5);
  SetExposureCompensation(0.66);
  SetExposureCompensation(2.0 / 3.0);
  SetExposureCompensation(std::nan(""));
  EXPECT_EQ(GetCapturedStderr(), "set EV 0.5\nset EV 0.7\nset EV 0.7\nset EV nan\n");
  EXPECT_EQ(FramesOut(), before);
}

TEST_F(ExposureFocusTest, IsoCodes) {
  const struct {
    int iso;
    const char* code;
  } rows[] = {{0, "00"},    {100, "03"},  {200, "04"},  {400, "05"},   {800, "06"}, {1600, "07"},
              {3200, "08"}, {6400, "09"}, {12800, "00"}, {-100, "00"}, {150, "00"}};
  CaptureStderr();
  for (const auto& row : rows) SetIso(row.iso);
  EXPECT_NE(GetCapturedStderr().find("set iso 12800\n"), std::string::npos);
  Lines frames = Sent();
  ASSERT_EQ(frames.size(), std::size(rows));
  for (size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(frames[i], std::string("14 02>01 40 02:2A | ") + rows[i].code) << rows[i].iso;
}

TEST_F(ExposureFocusTest, EveryShutterName) {
  const struct {
    const char* name;
    const char* payload;
  } rows[] = {
      {"30s", "01 1E 00 00"},   {"25s", "01 19 00 00"},   {"20s", "01 14 00 00"},   {"15s", "01 0F 00 00"},
      {"10s", "01 0A 00 00"},   {"9s", "01 09 00 00"},    {"8s", "01 08 00 00"},    {"7s", "01 07 00 00"},
      {"6s", "01 06 00 00"},    {"5s", "01 05 00 00"},    {"4s", "01 04 00 00"},    {"3.2s", "01 03 00 02"},
      {"3s", "01 03 00 00"},    {"2.5s", "01 02 00 05"},  {"2s", "01 02 00 00"},    {"1.6s", "01 01 00 06"},
      {"1.3s", "01 01 00 03"},  {"1s", "01 01 00 00"},    {"1.25", "01 01 80 19"},  {"1.67", "01 01 80 43"},
      {"2", "01 02 80 00"},     {"2.5", "01 02 80 05"},   {"3", "01 03 80 00"},     {"4", "01 04 80 00"},
      {"5", "01 05 80 00"},     {"6.25", "01 06 80 19"},  {"8", "01 08 80 00"},     {"10", "01 0A 80 00"},
      {"12.5", "01 0C 80 05"},  {"15", "01 0F 80 00"},    {"20", "01 14 80 00"},    {"25", "01 19 80 00"},
      {"30", "01 1E 80 00"},    {"40", "01 28 80 00"},    {"50", "01 32 80 00"},    {"60", "01 3C 80 00"},
      {"80", "01 50 80 00"},    {"100", "01 64 80 00"},   {"120", "01 78 80 00"},   {"160", "01 A0 80 00"},
      {"200", "01 C8 80 00"},   {"240", "01 F0 80 00"},   {"320", "01 40 81 00"},   {"400", "01 90 81 00"},
      {"500", "01 F4 81 00"},   {"640", "01 80 82 00"},   {"800", "01 20 83 00"},   {"1000", "01 E8 83 00"},
      {"1250", "01 E2 84 00"},  {"1600", "01 40 86 00"},  {"2000", "01 D0 87 00"},  {"2500", "01 C4 89 00"},
      {"3200", "01 80 8C 00"},  {"4000", "01 A0 8F 00"},  {"5000", "01 88 93 00"},  {"6400", "01 00 99 00"},
      {"8000", "01 40 9F 00"},
      // Not names: the frame still goes out with value 0.
      {"1/8000", "01 00 00 00"}, {"30S", "01 00 00 00"}, {"", "01 00 00 00"},
  };
  static_assert(std::size(rows) == 57 + 3);
  for (const auto& row : rows) SetShutter(row.name);
  Lines frames = Sent();
  ASSERT_EQ(frames.size(), std::size(rows));
  for (size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(frames[i], std::string("17 02>01 40 02:28 | ") + rows[i].payload) << rows[i].name;
}

TEST_F(ExposureFocusTest, UnknownShutterNameIsLoggedAsGiven) {
  CaptureStderr();
  SetShutter("1/8000");
  EXPECT_EQ(GetCapturedStderr(), "set shutter 1/8000\n");
}

TEST_F(ExposureFocusTest, ApertureIsTheFNumberTimesOneHundred) {
  CaptureStderr();
  SetAperture(2.8f);
  SetAperture(1.7f);
  SetAperture(22.0f);
  EXPECT_EQ(GetCapturedStderr(), "set aperture 2.80\nset aperture 1.70\nset aperture 22.00\n");
  EXPECT_EQ(Sent(), (Lines{"15 02>01 40 02:26 | 18 01", "15 02>01 40 02:26 | AA 00", "15 02>01 40 02:26 | 98 08"}));
}

TEST_F(ExposureFocusTest, ApertureThatIsNoNumberSendsNothing) {
  const uint32_t before = FramesOut();
  CaptureStderr();
  SetAperture(std::numeric_limits<float>::quiet_NaN());
  SetAperture(std::numeric_limits<float>::infinity());
  SetAperture(-std::numeric_limits<float>::infinity());
  SetAperture(1e30f);
  GetCapturedStderr();
  EXPECT_EQ(FramesOut(), before);
}

TEST_F(ExposureFocusTest, ManualFocusNeedsTheCamerasRange) {
  const uint32_t before = FramesOut();
  CaptureStderr();
  SetManualFocus(50.0);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(FramesOut(), before);

  GetCameraLink()->focus_range = 1000;
  CaptureStderr();
  SetManualFocus(50.0);
  SetManualFocus(33.37);
  EXPECT_EQ(GetCapturedStderr(), "set manual focus 500 (50.00%)\nset manual focus 333 (33.37%)\n");
  EXPECT_EQ(Sent(), (Lines{"15 02>01 40 02:95 | F4 01", "15 02>01 40 02:95 | 4D 01"}));
}

TEST_F(ExposureFocusTest, ManualFocusBeyondWhatAnIntHoldsSendsNothing) {
  GetCameraLink()->focus_range = 65535;
  const uint32_t before = FramesOut();
  CaptureStderr();
  SetManualFocus(std::nan(""));
  SetManualFocus(std::numeric_limits<double>::infinity());
  SetManualFocus(1e12);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(FramesOut(), before);
}

TEST_F(ExposureFocusTest, ManualFocusTypeIsSentOnlyWhenTheCameraIsInAutoFocus) {
  const uint32_t before = FramesOut();
  CaptureStderr();
  SelectFocusType(0);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(FramesOut(), before);

  GetHudState()->focus_mode = 1;
  CaptureStderr();
  SelectFocusType(0);
  EXPECT_EQ(GetCapturedStderr(), "set focus type MF\n");
  EXPECT_EQ(Sent(), Lines{"14 02>01 40 02:24 | 00"});
}

TEST_F(ExposureFocusTest, AutoFocusPublishesThePointItWillUse) {
  HudState* hud = GetHudState();
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

TEST_F(ExposureFocusTest, ImageModes) {
  CaptureStderr();
  SetImageMode("auto");
  SetImageMode("shutter");
  SetImageMode("aperture");
  SetImageMode("manual");
  SetImageMode("Manual");
  EXPECT_EQ(GetCapturedStderr(),
            "set image mode auto\nset image mode shutter\nset image mode aperture\nset image mode manual\n"
            "set image mode Manual\n");
  EXPECT_EQ(Sent(), (Lines{"15 02>01 40 02:1E | 01 00", "15 02>01 40 02:1E | 02 00", "15 02>01 40 02:1E | 03 00",
                           "15 02>01 40 02:1E | 04 00"}));
}

TEST_F(ExposureFocusLinkDownTest, SettingsAreLoggedAndStoredButNotSent) {
  GetHudState()->focus_mode = 1;
  GetCameraLink()->focus_range = 1000;
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
