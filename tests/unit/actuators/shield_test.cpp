#include <gtest/gtest.h>

#include <string>

#include "actuators/shield.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "records/hud_state.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "writable_records.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class Shield : public testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    config_ = WritableSharedConfig();
    hud_ = WritableHudState();
    config_->shield_enabled = 1;
    config_->shield_open = 1950;
    config_->shield_close = 1000;
    config_->shield_timeout = 3000;
    CaptureStderr();
    StartShield();
    CloseShield();  // whatever an earlier test left open
    GetCapturedStderr();
    GpioSimReset();
  }

  // Pretends the last open or busy second was ago_ms milliseconds ago.
  static void ActivityAgo(uint32_t ago_ms) { SetShieldActivityMs(MillisecondClock() - ago_ms); }

  SharedConfig* config_ = nullptr;
  HudState* hud_ = nullptr;
};

TEST_F(Shield, StartMarksClosedWithoutMovingTheServo) {
  hud_->shield_closed = 0;
  CaptureStderr();
  StartShield();
  EXPECT_EQ(GetCapturedStderr(), "Init PWM output\n");
  EXPECT_EQ(hud_->shield_closed, 1);
  EXPECT_EQ(GpioSimPwmWrites(kShieldPwmPin), 0);
  EXPECT_EQ(ShieldIsOpen(), 0);
}

TEST_F(Shield, OpenDrivesTheServoOnceAndClosesAfterTheTimeout) {
  CaptureStderr();
  OpenShield();
  EXPECT_EQ(GetCapturedStderr(), "shield open to position 1950, timeout is 3000\n");
  EXPECT_EQ(GpioSimPwm(kShieldPwmPin), 1950);
  EXPECT_EQ(hud_->shield_closed, 0);
  EXPECT_EQ(ShieldIsOpen(), 1);

  // A second open: the display byte follows, the servo and the time-out do not.
  ActivityAgo(2000);
  const uint32_t opened_at = ShieldActivityMs();
  hud_->shield_closed = 1;
  CaptureStderr();
  OpenShield();
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(GpioSimPwmWrites(kShieldPwmPin), 1);
  EXPECT_EQ(ShieldActivityMs(), opened_at);
  EXPECT_EQ(hud_->shield_closed, 0);

  // An idle camera closes it only after the time-out.
  ActivityAgo(2900);
  ShieldStep();
  EXPECT_EQ(ShieldIsOpen(), 1);
  ActivityAgo(3100);
  ShieldStep();
  EXPECT_EQ(ShieldIsOpen(), 0);
  EXPECT_EQ(GpioSimPwm(kShieldPwmPin), 1000);
  EXPECT_EQ(hud_->shield_closed, 1);
}

TEST_F(Shield, CloseWhileClosedOnlyMarksTheDisplayByte) {
  hud_->shield_closed = 0;
  CaptureStderr();
  CloseShield();
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(hud_->shield_closed, 1);
  EXPECT_EQ(GpioSimPwmWrites(kShieldPwmPin), 0);

  OpenShield();
  CaptureStderr();
  CloseShield();
  EXPECT_EQ(GetCapturedStderr(), "shield closed to position 1000\n");
  EXPECT_EQ(GpioSimPwm(kShieldPwmPin), 1000);
  EXPECT_EQ(ShieldIsOpen(), 0);
}

TEST_F(Shield, BusyCameraKeepsTheShieldOpenAndRestartsTheTimeout) {
  struct Case {
    uint8_t flags;
    bool busy;
  };
  const Case cases[] = {{0x08, true},  {0x40, true},  {0x80, true}, {0xC0, true},
                        {0x37, false}, {0x01, false}, {0x00, false}};
  for (const Case& c : cases) {
    OpenShield();
    hud_->camera_status_flags = c.flags;
    ActivityAgo(10000);
    ShieldStep();
    EXPECT_EQ(ShieldIsOpen(), c.busy ? 1 : 0) << "flags " << int(c.flags);
    if (c.busy) {
      // Recording ends: the time-out counts from the last busy step.
      hud_->camera_status_flags = 0;
      ShieldStep();
      EXPECT_EQ(ShieldIsOpen(), 1) << "flags " << int(c.flags);
      ActivityAgo(3100);
      ShieldStep();
      EXPECT_EQ(ShieldIsOpen(), 0) << "flags " << int(c.flags);
    }
  }
}

TEST_F(Shield, DisabledShieldDoesNothingAtAll) {
  config_->shield_enabled = 0;
  hud_->shield_closed = 7;
  CaptureStderr();
  OpenShield();
  ShieldStep();
  CloseShield();
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(hud_->shield_closed, 7);
  EXPECT_EQ(GpioSimPwmWrites(kShieldPwmPin), 0);
  EXPECT_EQ(ShieldIsOpen(), 0);
}

}  // namespace
