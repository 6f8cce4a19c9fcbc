// RC loop passes driven one at a time, with the camera's end of the USB link on
// loopback receiving what the loop sends.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "config/writer.h"
#include "inputs/rc_loop.h"
#include "inputs/rc_loop_state.h"
#include "loopback.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "platform/shell.h"
#include "platform/worker_pool.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "writable_records.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class RcLoop : public testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    hud_ = WritableHudState();
    config_ = WritableSharedConfig();
    hud_->rc_input_status = 6;
    config_->rc_input_enabled = 1;
    config_->rc_input_speed_pan = 100;
    config_->rc_input_speed_tilt = 100;
    config_->rc_input_speed_dutch = 100;
    WritableMotionIntent()->gimbal_stopped = 1;
    ResetRcLoop();
    RcState().pass_counter = 1;  // off the carrier attitude's every-100th pass
    end_ = AttachCameraEnd();
  }

  void TearDown() override { DetachCameraEnd(end_); }

  void Drive(int f, double value) {
    hud_->rc_function_active[f] = 1;
    hud_->rc_function_value[f] = value;
    hud_->rc_function_position[f] = (value + 1) / 2;
  }
  void Place(int f, double position) {
    hud_->rc_function_active[f] = 1;
    hud_->rc_function_position[f] = position;
  }

  // Runs passes, then the work they handed to workers, and returns what both
  // wrote to standard error.
  static std::string Passes(int n = 1) {
    CaptureStderr();
    for (int i = 0; i < n; ++i) RcLoopPass();
    WaitForIdleWorkers();
    return GetCapturedStderr();
  }

  std::vector<std::string> Frames() {
    std::vector<std::string> texts;
    for (const SentFrame& f : TakeFrames(end_)) texts.push_back(FrameText(f));
    return texts;
  }

  HudState* hud_ = nullptr;
  SharedConfig* config_ = nullptr;
  CameraEnd end_;
};

const std::string kSpeedHead = "20 02>04 40 04:0C | ";

TEST_F(RcLoop, PanWithoutTiltDoesNotMove) {
  Drive(kRcPan, 0.5);
  Passes(3);
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 0);
  EXPECT_EQ(GetMotionIntent()->rc_pan_speed, 0);
  EXPECT_TRUE(Frames().empty());
}

TEST_F(RcLoop, SpeedModeScalesByDeviceModeAndPercentage) {
  struct Case {
    uint8_t device_mode;
    int32_t percent;
    double value;
    int32_t pan;
  };
  const Case cases[] = {{0, 50, 0.5, 1000}, {1, 50, 0.5, 425}, {0, 100, -1.0, -4000}, {0, 30, 0.75, 900}};
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    config_->device_mode = c.device_mode;
    config_->rc_input_speed_pan = c.percent;
    Drive(kRcPan, c.value);
    Drive(kRcTilt, 0);
    Passes();
    EXPECT_EQ(GetMotionIntent()->rc_pan_speed, c.pan) << int(c.device_mode) << " " << c.percent << " " << c.value;
    EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, c.pan);
  }
}

TEST_F(RcLoop, SpeedModeRepeatsTheMovingSpeedEveryPass) {
  Drive(kRcPan, 0.25);  // 1000
  Drive(kRcTilt, -0.0625);  // -250
  Passes(3);
  const std::string moving = kSpeedHead + "E8 03 00 00 06 FF 90";
  EXPECT_EQ(Frames(), std::vector<std::string>(3, moving));

  // A client speed adds to the stick's.
  WritableMotionIntent()->client_pan_speed = 100;
  Passes();
  EXPECT_EQ(Frames(), std::vector<std::string>{kSpeedHead + "4C 04 00 00 06 FF 90"});
}

TEST_F(RcLoop, AbsoluteModeSendsTheAngleEveryPass) {
  config_->rc_input_abs = 1;
  Place(kRcPan, 0.75);
  Place(kRcTilt, 0.25);
  hud_->rc_function_position[kRcDutch] = 0.5;  // read even though not active
  WritableMotionIntent()->gimbal_stopped = 0;
  Passes(2);
  const std::string angle = "23 02>04 40 04:0A | 40 06 00 00 FA 00 64 00 E0 04";
  EXPECT_EQ(Frames(), (std::vector<std::string>{kSpeedHead + "00 00 00 00 00 00 90", angle, angle}));

  // Tilt spans +500 at the bottom to -1200 at the top.
  Place(kRcPan, 0.0);
  Place(kRcTilt, 1.0);
  hud_->rc_function_position[kRcDutch] = 1.0;
  Passes();
  EXPECT_EQ(Frames(), std::vector<std::string>{"23 02>04 40 04:0A | 80 F3 58 02 50 FB 64 00 E0 04"});
}

TEST_F(RcLoop, EvAtTheTopIsPlusThreeAndSentOnce) {
  Place(kRcEv, 1.0);
  EXPECT_EQ(Passes(2), "set EV 3.0\n");
  EXPECT_EQ(Frames(), std::vector<std::string>{"14 02>01 40 02:2E | 19"});
}

TEST_F(RcLoop, ShutterStepperFloorsAtTwentyInVideoMode) {
  hud_->work_mode = 1;
  WritableLinkState()->shutter_index = 5;
  Drive(kRcShutter, 0);
  EXPECT_EQ(Passes(), "set shutter 20\n");
  EXPECT_EQ(GetLinkState()->shutter_index, 30);

  TearDown();
  SetUp();
  hud_->work_mode = 0;
  WritableLinkState()->shutter_index = -1;
  Drive(kRcShutter, 0);
  EXPECT_EQ(Passes(), "set shutter 30s\n");
  EXPECT_EQ(GetLinkState()->shutter_index, 0);
}

TEST_F(RcLoop, IsoStepperSendsFirstThenStepsOncePerExcursion) {
  Drive(kRcIso, 0);
  EXPECT_EQ(Passes(), "set iso 0\n");
  Drive(kRcIso, 0.5);
  EXPECT_EQ(Passes(3), "set iso 100\n");
  Drive(kRcIso, 0.2);  // not yet back in the centre band
  EXPECT_EQ(Passes(), "");
  Drive(kRcIso, 0.5);
  EXPECT_EQ(Passes(), "");
  Drive(kRcIso, 0.05);
  EXPECT_EQ(Passes(), "");
  Drive(kRcIso, 0.5);
  EXPECT_EQ(Passes(), "set iso 200\n");
  for (int i = 0; i < 10; ++i) {
    Drive(kRcIso, 0);
    Passes();
    Drive(kRcIso, 1);
    Passes();
  }
  EXPECT_EQ(Passes(), "");
  Drive(kRcIso, 0);
  EXPECT_EQ(Passes(), "");
  Drive(kRcIso, -1);
  EXPECT_EQ(Passes(), "set iso 3200\n");  // clamped at 6400, then one down
}

TEST_F(RcLoop, StepperSkipsAnIndexOutsideItsTableWhileLatched) {
  Drive(kRcAperture, 0.5);
  WritableLinkState()->aperture_index = 20;
  EXPECT_EQ(Passes(), "set aperture 16.00\n");
  WritableLinkState()->aperture_index = 40;  // as if moved while the stick is held
  EXPECT_EQ(Passes(), "");
}

// The capture and mode functions, moved step by step: each movement acts once,
// in the work mode the camera reports (which the box switches first where the
// function asks for the other one).
TEST_F(RcLoop, CaptureAndModeFunctionsActOncePerMovement) {
  struct Step {
    double value;
    const char* log;  // of two passes and the work they handed on
  };
  struct Row {
    const char* what;
    int function;
    uint8_t work_mode;
    std::vector<Step> steps;
  };
  const Row rows[] = {
      {"record, photo mode", kRcRecord, 0, {{1.0, "shot\n"}, {1.0, ""}, {0.0, ""}, {1.0, "shot\n"}}},
      {"record, video mode", kRcRecord, 1, {{1.0, "record start\n"}, {0.5, "record stop\n"}, {-1.0, ""}}},
      {"record-shot, video mode", kRcRecordShot, 1,
       {{0.0, ""}, {1.0, "record start\n"}, {0.5, "record stop\n"}, {-1.0, "set mode photo\nset mode photo\nshot\n"},
        {-0.4, "record stop\n"}}},
      {"record-shot, photo mode", kRcRecordShot, 0,
       {{-1.0, "shot\n"}, {-0.5, ""}, {1.0, "set mode video\nset mode video\nrecord start\n"}}},
      {"menu", kRcMenu, 1, {{1.0, ""}, {-1.0, ""}, {0.0, ""}}},
      {"videomode", kRcVideoMode, 1,
       {{0.0, "set image mode auto\n"}, {0.5, "set image mode manual\n"}, {0.5, ""}, {0.0, ""},
        {1.0, "set image mode shutter\n"}, {0.0, ""}, {1.0, "set image mode aperture\n"}, {0.0, ""}, {1.0, ""},
        {0.0, ""}, {-1.0, "set image mode shutter\n"}}},
  };
  SkipSleepsForFuzzing(true);
  for (const Row& row : rows) {
    TearDown();
    SetUp();
    hud_->work_mode = row.work_mode;
    for (const Step& step : row.steps) {
      Drive(row.function, step.value);
      EXPECT_EQ(Passes(2), step.log) << row.what << " at " << step.value;
    }
    if (row.function == kRcMenu) {
      EXPECT_TRUE(Frames().empty());
    }
  }
  SkipSleepsForFuzzing(false);
}

TEST_F(RcLoop, DigitalZoomIgnoresOnePercentChanges) {
  Place(kRcDigitalZoom, 0.40);
  EXPECT_EQ(Passes(), "Digital zoom 40%\n");
  Place(kRcDigitalZoom, 0.41);
  EXPECT_EQ(Passes(), "");
  Place(kRcDigitalZoom, 0.42);
  EXPECT_EQ(Passes(), "Digital zoom 42%\n");
  EXPECT_EQ(Frames(), (std::vector<std::string>{"18 02>01 40 02:34 | 09 00 00 8C 00",
                                                "18 02>01 40 02:34 | 09 00 00 8E 00"}));
}

TEST_F(RcLoop, CarrierAttitudeStopsForGoodAfterAClientAttitude) {
  config_->rc_input_enabled = 0;
  WritableLinkState()->source_mode = 1;
  RcState().pass_counter = 0;
  auto attitude_frames = [&] {
    int n = 0;
    for (const SentFrame& f : TakeFrames(end_)) {
      if (f.raw.size() == 51) ++n;
    }
    return n;
  };
  Passes(101);  // passes 0 and 100
  EXPECT_EQ(attitude_frames(), 2);
  SendClientAttitude(1, 0, 0, 0);
  EXPECT_EQ(attitude_frames(), 1);
  Passes(200);
  EXPECT_EQ(attitude_frames(), 0);
}

TEST_F(RcLoop, KeepAliveRepeatsAViewerSpeedUntilItStops) {
  config_->rc_input_enabled = 0;
  WritableMotionIntent()->gimbal_stopped = 0;
  HandleGimbalControl(1, 300, -200);
  Passes(3);
  EXPECT_EQ(Frames(), std::vector<std::string>(3, kSpeedHead + "2C 01 00 00 38 FF 90"));
  HandleGimbalControl(1, 0, 0);
  Passes(3);
  EXPECT_EQ(Frames(), std::vector<std::string>{kSpeedHead + "00 00 00 00 00 00 90"});
}

TEST_F(RcLoop, SuspendStopsTheRepeatWithoutSendingAStop) {
  Drive(kRcPan, 0.25);
  Drive(kRcTilt, 0);
  Passes();
  TakeFrames(end_);
  hud_->rc_suspended = 1;
  Passes(3);
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 0);
  EXPECT_TRUE(Frames().empty());
}

// When the RC stops driving, the stick's speed stops as if it were centred:
// one stop frame, then no more speed frames.
TEST_F(RcLoop, StickSpeedStopsWhenTheRcStopsDriving) {
  const struct {
    const char* how;
    void (*lose)(HudState*, SharedConfig*);
  } cases[] = {
      {"status leaves 6", [](HudState* hud, SharedConfig*) { hud->rc_input_status = 4; }},
      {"RC input disabled", [](HudState*, SharedConfig* config) { config->rc_input_enabled = 0; }},
      {"pan channel no longer live", [](HudState* hud, SharedConfig*) { hud->rc_function_active[kRcPan] = 0; }},
      {"tilt channel no longer live", [](HudState* hud, SharedConfig*) { hud->rc_function_active[kRcTilt] = 0; }},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    Drive(kRcPan, 0.25);
    Drive(kRcTilt, 0);
    Passes(2);
    EXPECT_EQ(Frames().size(), 2u) << c.how;
    c.lose(hud_, config_);
    Passes(5);
    EXPECT_EQ(Frames(), std::vector<std::string>{kSpeedHead + "00 00 00 00 00 00 90"}) << c.how;
    EXPECT_EQ(GetMotionIntent()->rc_pan_speed, 0) << c.how;
    EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 0) << c.how;
  }
}

TEST_F(RcLoop, AViewerSpeedGoesOnAloneWhenTheRcStops) {
  Drive(kRcPan, 0.25);  // 1000
  Drive(kRcTilt, 0);
  Passes();
  HandleGimbalControl(1, 300, 0);
  Passes();
  EXPECT_EQ(Frames().back(), kSpeedHead + "14 05 00 00 00 00 90");  // 1300
  hud_->rc_input_status = 3;
  Passes(3);
  EXPECT_EQ(Frames(), std::vector<std::string>(3, kSpeedHead + "2C 01 00 00 00 00 90"));
  hud_->rc_input_status = 6;  // the stick adds to it again
  Passes();
  EXPECT_EQ(Frames(), std::vector<std::string>{kSpeedHead + "14 05 00 00 00 00 90"});
}

TEST_F(RcLoop, EveryMotionTheRcSetStopsWithIt) {
  config_->device_mode = 1;
  WritableLinkState()->source_mode = 1;
  Drive(kRcPan, 0);
  Drive(kRcTilt, 0);
  Drive(kRcDutch, 0.5);         // roll 850
  Drive(kRcDigitalZoom2, 0.8);  // digital zoom +4 a pass
  Drive(kRcZoom, -0.5);         // optical zoom out
  Passes(2);
  EXPECT_EQ(GetMotionIntent()->dutch_speed_wanted, 850);
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 4);
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, -2);
  Frames();
  config_->rc_input_enabled = 0;
  Passes(3);
  EXPECT_EQ(GetMotionIntent()->dutch_speed_wanted, 0);
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 0);
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, 0);
  EXPECT_EQ(Frames(), (std::vector<std::string>{kSpeedHead + "00 00 00 00 00 00 90", "17 02>01 40 02:B8 | 00 48 00 00",
                                                "17 02>01 40 02:B8 | FF 48 00 00"}));

  // A motion someone else set since is not the RC's to stop.
  config_->rc_input_enabled = 1;
  Passes();
  HandleGimbalControl(2, -2, 1);
  config_->rc_input_enabled = 0;
  Passes();
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 1);
}

TEST_F(RcLoop, SpeedsBeyondTheFieldSaturateOnTheWay) {
  Drive(kRcPan, 1.0);  // 4000
  Drive(kRcTilt, -1.0);
  Passes();
  HandleGimbalControl(1, 32767, -32768);
  Frames();
  Passes();
  EXPECT_EQ(Frames(), std::vector<std::string>{kSpeedHead + "FF 7F 00 00 00 80 90"});
}

TEST_F(RcLoop, FocusPointGoesOutOnceWhenTheStickHasRested) {
  hud_->focus_mode = 1;
  hud_->focus_point_x = 0.5;
  hud_->focus_point_y = 0.5;
  Drive(kRcFocusPan, 1.0);
  Drive(kRcFocusTilt, -1.0);
  Passes();
  EXPECT_DOUBLE_EQ(hud_->focus_point_x, 0.55);
  EXPECT_DOUBLE_EQ(hud_->focus_point_y, 0.45);
  EXPECT_TRUE(Frames().empty());  // not yet 200 ms old

  hud_->rc_function_active[kRcFocusPan] = 0;
  RcState().focus_point_changed_ms = MillisecondClock() - 300;
  Passes(2);
  // x 0.55, y turned upside down: 0.55
  EXPECT_EQ(Frames(), std::vector<std::string>{"21 02>01 40 02:30 | CD CC 0C 3F CD CC 0C 3F"});
}

TEST_F(RcLoop, RefocusesAfterAGimbalMove) {
  config_->focus_assistant_enabled = 1;
  hud_->focus_mode = 1;
  hud_->focus_x = 0.25;
  hud_->focus_y = 0.75;
  WritableMotionIntent()->last_gimbal_speed_ms = MillisecondClock() - 100;
  Passes();
  EXPECT_TRUE(Frames().empty());
  WritableMotionIntent()->last_gimbal_speed_ms = MillisecondClock() - 300;
  Passes(2);
  EXPECT_EQ(Frames(), std::vector<std::string>{"21 02>01 40 02:30 | 00 00 80 3E 00 00 40 3F"});
  EXPECT_EQ(GetMotionIntent()->last_gimbal_speed_ms, 0u);
}

TEST_F(RcLoop, NonFiniteAndHugeValuesAreClampedNotConverted) {
  struct Case {
    double value;
    int32_t pan;
  };
  const Case cases[] = {{kNaN, 0}, {kInf, 4000}, {-kInf, -4000}, {1e300, 4000}, {-7.5, -4000}};
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    Drive(kRcPan, c.value);
    Drive(kRcTilt, c.value);
    Passes();
    EXPECT_EQ(GetMotionIntent()->rc_pan_speed, c.pan) << c.value;
    EXPECT_EQ(GetMotionIntent()->rc_tilt_speed, c.pan) << c.value;
  }

  // A percentage beyond reason saturates instead of overflowing.
  config_->rc_input_speed_pan = std::numeric_limits<int32_t>::max();
  WritableMotionIntent()->client_pan_speed = std::numeric_limits<int32_t>::max();
  Drive(kRcPan, 1.0);
  Drive(kRcTilt, 0);
  Passes();
  EXPECT_EQ(GetMotionIntent()->rc_pan_speed, std::numeric_limits<int32_t>::max());

  // Absolute mode, EV, zoom and focus with nonsense positions.
  config_->rc_input_abs = 1;
  Place(kRcPan, kNaN);
  Place(kRcTilt, -kInf);
  hud_->rc_function_position[kRcDutch] = 1e300;
  Place(kRcEv, kNaN);
  Drive(kRcZoom, kInf);
  Place(kRcFocus, -1e300);
  Place(kRcDigitalZoom, kInf);
  Drive(kRcDigitalZoom2, kNaN);
  Drive(kRcIso, kNaN);
  const std::string log = Passes();
  EXPECT_NE(log.find("set EV 0.0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Digital zoom 100%\n"), std::string::npos) << log;
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, 5);
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 0);
}

TEST_F(RcLoop, SwitchesActOncePerMovement) {
  WritableMotionIntent()->gimbal_stopped = 1;
  WritableMotionIntent()->lock_call_count = 0;
  Drive(kRcCenter, 1.0);
  Drive(kRcOrientLock, 1.0);
  Drive(kRcOsd, 1.0);
  Drive(kRcCustomFocusAssistant, 1.0);
  hud_->osd_enabled = 1;
  EXPECT_EQ(Passes(3), "set position 1\nset position 0\n");
  EXPECT_EQ(GetMotionIntent()->orientation_lock_wanted, 1);
  EXPECT_EQ(hud_->osd_enabled, 0);  // the OSD is on in the low position
  EXPECT_EQ(config_->focus_assistant_enabled, 1);
  EXPECT_EQ(hud_->focus_assistant_enabled, 1);

  Drive(kRcCenter, 0.2);
  Drive(kRcOrientLock, 0.2);
  Drive(kRcOsd, 0.2);
  Drive(kRcCustomFocusAssistant, 0.2);
  EXPECT_EQ(Passes(2), "");
  EXPECT_EQ(GetMotionIntent()->orientation_lock_wanted, 0);
  EXPECT_EQ(hud_->osd_enabled, 1);
  EXPECT_EQ(config_->focus_assistant_enabled, 0);
  Drive(kRcCenter, 0.9);
  EXPECT_EQ(Passes(), "set position 1\nset position 0\n");
}

TEST_F(RcLoop, SwitchMovementsAreToldToTheJournal) {
  SetEventOutput(EventOutput::kStandardError);
  Drive(kRcCenter, 1.0);
  Drive(kRcOrientLock, 1.0);
  const std::string log = Passes(3);
  SetEventOutput(EventOutput::kNowhere);
  EXPECT_NE(log.find("event: command from rc: center gimbal\n"), std::string::npos) << log;
  EXPECT_NE(log.find("event: command from rc: orientation lock\n"), std::string::npos) << log;
}

TEST_F(RcLoop, InternalCameraSwitchSavesTheSettingAndRestartsTheViewer) {
  char folder_template[] = "/tmp/vb-rc-XXXXXX";
  const std::filesystem::path folder = mkdtemp(folder_template);
  const std::filesystem::path file = folder / "vantagebridge-cable.conf";
  SetBootConfigPathForTest(file.c_str());
  ShellTakeLog();
  auto killed = [] {
    int n = 0;
    for (const std::string& line : ShellTakeLog()) n += line == "killall -q raspivid";
    return n;
  };

  Drive(kRcIntCamera, 1.0);
  Passes(3);
  EXPECT_EQ(killed(), 1);
  EXPECT_EQ(config_->internal_camera_fullscreen, 1);
  EXPECT_EQ(hud_->internal_camera_fullscreen, 1);
  EXPECT_TRUE(std::filesystem::exists(file));

  std::filesystem::remove(file);
  Drive(kRcIntCamera, 0.0);
  Passes(3);
  EXPECT_EQ(killed(), 1);
  EXPECT_EQ(config_->internal_camera_fullscreen, 0);
  EXPECT_EQ(hud_->internal_camera_fullscreen, 0);
  EXPECT_TRUE(std::filesystem::exists(file));

  SetBootConfigPathForTest(nullptr);
  std::filesystem::remove_all(folder);
}

}  // namespace
