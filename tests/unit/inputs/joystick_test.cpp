// Joystick reports through a scripted I2C device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "actuators/shield.h"
#include "inputs/joystick.h"
#include "loopback.h"
#include "platform/i2c.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "writable_records.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// What each board answers: up to 10 bytes, or a failed read (length -1).
struct BoardAnswer {
  uint8_t bytes[kJoystickReportSize];
  int length = -1;
};
BoardAnswer g_answer[2];

int ScriptSelect(int address) { return address == 0x40 || address == 0x41 ? 0 : -1; }
int ScriptRead(int address, uint8_t* buffer, int size) {
  const BoardAnswer& a = g_answer[address - 0x40];
  const int n = a.length < size ? a.length : size;
  if (n > 0) memcpy(buffer, a.bytes, static_cast<size_t>(n));
  return n;
}
const I2cScript kScript{ScriptSelect, ScriptRead};

struct Report {
  uint16_t axis[3] = {512, 512, 512};
  uint8_t encoder[2] = {0, 0};
  uint8_t buttons = 0;
};

void Answer(int board, const Report& r, bool good_checksum = true) {
  uint8_t* b = g_answer[board].bytes;
  for (int k = 0; k < 3; ++k) {
    b[2 * k] = static_cast<uint8_t>(r.axis[k]);
    b[2 * k + 1] = static_cast<uint8_t>(r.axis[k] >> 8);
  }
  b[6] = r.encoder[0];
  b[7] = r.encoder[1];
  b[8] = r.buttons;
  uint8_t x = 0;
  for (int i = 0; i < 9; ++i) x ^= b[i];
  b[9] = good_checksum ? x : static_cast<uint8_t>(x ^ 0x5A);
  g_answer[board].length = kJoystickReportSize;
}

class Joystick : public testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    hud_ = WritableHudState();
    config_ = WritableSharedConfig();
    config_->i2c_input_speed_pan = 100;
    config_->i2c_input_speed_tilt = 100;
    config_->i2c_input_speed_dutch = 100;
    WritableMotionIntent()->gimbal_stopped = 1;
    g_answer[0] = BoardAnswer{};
    g_answer[1] = BoardAnswer{};
    ResetJoysticks();
    I2cInstallScript(&kScript);
  }
  void TearDown() override { I2cInstallScript(nullptr); }

  static std::string Poll() {
    CaptureStderr();
    PollJoysticksOnce();
    return GetCapturedStderr();
  }

  HudState* hud_ = nullptr;
  SharedConfig* config_ = nullptr;
};

TEST(JoystickReportCheck, EveryLengthWithGoodAndBadChecksums) {
  const uint8_t data[kJoystickReportSize] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x0F};
  for (int n = 2; n <= kJoystickReportSize; ++n) {
    uint8_t report[kJoystickReportSize];
    memcpy(report, data, sizeof(report));
    uint8_t x = 0;
    for (int i = 0; i < n - 1; ++i) x ^= report[i];
    report[n - 1] = x;
    EXPECT_EQ(JoystickReportAccepted(report, n), 1) << "length " << n;
    report[n - 1] ^= 0x01;
    EXPECT_EQ(JoystickReportAccepted(report, n), 0) << "length " << n;
  }
  const uint8_t zero = 0;
  const uint8_t one = 1;
  EXPECT_EQ(JoystickReportAccepted(&zero, 1), 1);
  EXPECT_EQ(JoystickReportAccepted(&one, 1), 0);
  EXPECT_EQ(JoystickReportAccepted(&zero, 0), 0);
  EXPECT_EQ(JoystickReportAccepted(&zero, -1), 0);
}

// Board 1's axes: roll, pan, tilt.
TEST_F(Joystick, AxisDeadBandAndSpeeds) {
  struct Case {
    int axis;
    uint16_t raw;
    int32_t percent;
    int32_t pan, tilt, dutch;
  };
  const Case cases[] = {{1, 514, 100, 0, 0, 0},      {1, 515, 100, 0, 0, 0},     {1, 516, 100, 15, 0, 0},
                        {1, 508, 100, -15, 0, 0},    {1, 1023, 100, 7937, 0, 0}, {1, 1023, 50, 3968, 0, 0},
                        {1, 0, 100, -7953, 0, 0},    {1, 512, 100, 0, 0, 0},     {0, 516, 100, 0, 0, 15},
                        {2, 508, 100, 0, -15, 0}};
  for (const Case& c : cases) {
    SetUp();
    config_->i2c_input_speed_pan = c.percent;
    Report r;
    r.axis[c.axis] = c.raw;
    Answer(1, r);
    Poll();
    const std::string row = "axis " + std::to_string(c.axis) + " raw " + std::to_string(c.raw) + " at " +
                            std::to_string(c.percent) + "%";
    EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, c.pan) << row;
    EXPECT_EQ(GetMotionIntent()->tilt_speed_wanted, c.tilt) << row;
    EXPECT_EQ(GetMotionIntent()->dutch_speed_wanted, c.dutch) << row;
  }
}

TEST_F(Joystick, ZeroFirstAxisOrBoardZeroLeavesTheGimbalAlone) {
  Report r;
  r.axis[0] = 0;
  r.axis[1] = 1000;
  r.axis[2] = 1000;
  Answer(1, r);
  r.axis[0] = 1000;
  Answer(0, r);
  Poll();
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 0);
  EXPECT_EQ(GetMotionIntent()->tilt_speed_wanted, 0);
  EXPECT_EQ(GetMotionIntent()->dutch_speed_wanted, 0);
}

TEST_F(Joystick, FocusEncoderWrapsAndClamps) {
  hud_->focus_percent = 50;
  Report r;
  r.encoder[0] = 250;
  Answer(0, r);
  EXPECT_EQ(Poll(), "");  // the first report only sets the start
  r.encoder[0] = 3;
  Answer(0, r);
  EXPECT_EQ(Poll(), "joystick 0 encoder 0 change 9\nchange encoder focus 9, set to 77%\n");
  r.encoder[0] = 250;
  Answer(0, r);
  EXPECT_EQ(Poll(), "joystick 0 encoder 0 change -9\nchange encoder focus -9, set to 50%\n");

  // From 98: +1 stops at 100, then -40 stops at 0; the camera's value is not re-read.
  ResetJoysticks();
  hud_->focus_percent = 98;
  r.encoder[0] = 10;
  Answer(0, r);
  Poll();
  r.encoder[0] = 11;
  Answer(0, r);
  EXPECT_EQ(Poll(), "joystick 0 encoder 0 change 1\nchange encoder focus 1, set to 100%\n");
  hud_->focus_percent = 20;
  r.encoder[0] = static_cast<uint8_t>(11 - 40);
  Answer(0, r);
  EXPECT_EQ(Poll(), "joystick 0 encoder 0 change -40\nchange encoder focus -40, set to 0%\n");
}

TEST_F(Joystick, EvEncoderStepsThroughTheEvTable) {
  struct Case {
    int8_t current;
    int8_t change;
    const char* log;
  };
  const Case cases[] = {
      {0, 1, "joystick 1 encoder 1 change 1\nchange encoder EV 1 to 3\nset EV 0.3\n"},
      {0, -12, "joystick 1 encoder 1 change -12\nchange encoder EV -12 to -30\nset EV -3.0\n"},
      {-29, 1, "joystick 1 encoder 1 change 1\nchange encoder EV 1 to -30\nset EV -3.0\n"},
      {27, 5, "joystick 1 encoder 1 change 5\nchange encoder EV 5 to 30\nset EV 3.0\n"},
      {-100, 1, "joystick 1 encoder 1 change 1\nchange encoder EV 1 to -30\nset EV -3.0\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    hud_->exposure_compensation = c.current;
    Report r;
    r.axis[0] = 0;  // keep board 1's axes out of it
    r.encoder[1] = 100;
    Answer(1, r);
    Poll();
    r.encoder[1] = static_cast<uint8_t>(100 + c.change);
    Answer(1, r);
    EXPECT_EQ(Poll(), c.log) << "EV " << int(c.current) << " change " << int(c.change);
  }
}

TEST_F(Joystick, ButtonsActOnPressOnly) {
  Report r;
  r.buttons = 0x20;  // button 5: zoom in
  Answer(0, r);
  EXPECT_EQ(Poll(), "joystick 0 button 5 state 1\n");
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, 1);
  EXPECT_EQ(Poll(), "");  // still held
  r.buttons = 0x00;
  Answer(0, r);
  EXPECT_EQ(Poll(), "joystick 0 button 5 state 0\n");
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, 1);  // a release does not stop the zoom
  r.buttons = 0xC8;  // buttons 3 (zoom out), 6 and 7
  Answer(0, r);
  EXPECT_EQ(Poll(), "joystick 0 button 3 state 1\njoystick 0 button 6 state 1\njoystick 0 button 7 state 1\n");
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, -1);
}

TEST_F(Joystick, ButtonZeroTogglesTheShield) {
  config_->shield_enabled = 1;
  config_->shield_open = 1900;
  config_->shield_close = 1100;
  CaptureStderr();
  StartShield();
  CloseShield();
  GetCapturedStderr();
  Report r;
  r.buttons = 0x01;
  Answer(0, r);
  Poll();
  EXPECT_EQ(ShieldIsOpen(), 1);
  r.buttons = 0x00;
  Answer(0, r);
  Poll();
  EXPECT_EQ(ShieldIsOpen(), 1);
  r.buttons = 0x01;
  Answer(0, r);
  Poll();
  EXPECT_EQ(ShieldIsOpen(), 0);
}

TEST_F(Joystick, BadChecksumOrFailedReadChangesNothing) {
  Report r;
  r.axis[1] = 700;
  Answer(1, r);
  Poll();
  const int32_t pan = GetMotionIntent()->pan_speed_wanted;
  ASSERT_NE(pan, 0);

  r.axis[1] = 300;
  r.buttons = 0xC0;  // buttons without actions
  r.encoder[0] = 77;
  Answer(1, r, false);
  EXPECT_EQ(Poll(), "");
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, pan);

  g_answer[1].length = -1;
  g_answer[0].length = 0;
  EXPECT_EQ(Poll(), "");
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, pan);

  // The same report with a good checksum now counts: it was not kept before.
  Answer(1, r);
  EXPECT_NE(Poll(), "");
  EXPECT_NE(GetMotionIntent()->pan_speed_wanted, pan);
}

// Axes that no longer drive stop the motion they set: a board silent for about
// half a second (25 polls), or one whose first axis drops to 0.
TEST_F(Joystick, AxesThatStopDrivingStopTheirMotion) {
  const struct {
    const char* how;
    void (*lose)();
    int polls_until_stop;
  } cases[] = {
      {"reads fail", [] { g_answer[1].length = -1; }, 25},
      {"reports are corrupt", [] { g_answer[1].bytes[9] ^= 0x5A; }, 25},
      {"first axis reads 0",
       [] {
         Report r;
         r.axis[0] = 0;
         r.axis[1] = 700;
         Answer(1, r);
       },
       1},
  };
  for (const auto& c : cases) {
    SetUp();
    Report r;
    r.axis[0] = 516;
    r.axis[1] = 700;
    Answer(1, r);
    Poll();
    ASSERT_NE(GetMotionIntent()->pan_speed_wanted, 0) << c.how;
    c.lose();
    for (int i = 1; i < c.polls_until_stop; ++i) Poll();
    EXPECT_NE(GetMotionIntent()->pan_speed_wanted, 0) << c.how;
    Poll();
    EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 0) << c.how;
    EXPECT_EQ(GetMotionIntent()->dutch_speed_wanted, 0) << c.how;
    // The board back at work drives again.
    Answer(1, r);
    Poll();
    EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 2000 * (700 - 512 - 3) / 128) << c.how;
  }
}

TEST_F(Joystick, ShortReportKeepsTheRestOfTheLastGoodOne) {
  Report r;
  r.axis[1] = 700;
  r.buttons = 0x20;
  Answer(1, r);
  Poll();
  const int32_t pan = GetMotionIntent()->pan_speed_wanted;
  // Two bytes whose checksum holds: a new axis 0 (0x1010), the rest as before.
  g_answer[1].bytes[0] = 0x10;
  g_answer[1].bytes[1] = 0x10;
  g_answer[1].length = 2;
  EXPECT_EQ(Poll(), "");  // the buttons did not change
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, pan);
  EXPECT_EQ(GetMotionIntent()->dutch_speed_wanted, 2000 * (0x1010 - 512 - 3) / 128);
}

}  // namespace
