#include <climits>
#include <cmath>
#include <cstring>

#include "common/wire.h"
#include "operations_fixture.h"
#include "platform/worker_pool.h"
#include "writable_records.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using MotionTest = OperationsTest;
using MotionLinkDownTest = OperationsLinkDownTest;

TEST_F(MotionTest, GimbalSpeedClampsOnlyInInspireModeAndHonoursInverseFlags) {
  struct Row {
    uint32_t source_mode;
    int32_t inverse_pan, inverse_tilt, inverse_dutch;
    int32_t pan, tilt, dutch;
    const char* frame;
  };
  const Row rows[] = {
      {1, 0, 0, 0, 2000, -2000, 5, "20 02>04 40 04:0C | A4 06 05 00 5C F9 90"},
      {0, 0, 0, 0, 2000, -2000, 5, "20 02>04 40 04:0C | D0 07 05 00 30 F8 90"},
      {0, 0, 1, 0, 0, 100, 0, "20 02>04 40 04:0C | 00 00 00 00 9C FF 90"},
      // Inverted before the clamp.
      {1, 1, 0, 1, 2000, 0, -1800, "20 02>04 40 04:0C | 5C F9 A4 06 00 00 90"},
      // The most negative int inverts without overflow and clamps.
      {1, 1, 0, 0, INT32_MIN, 0, 0, "20 02>04 40 04:0C | A4 06 00 00 00 00 90"},
      // Beyond the signed 16-bit field every axis saturates, never wraps:
      // 4000 + 32767 once went out as -28769 and swung the gimbal back.
      {0, 0, 0, 0, 36767, 0, 0, "20 02>04 40 04:0C | FF 7F 00 00 00 00 90"},
      {0, 0, 0, 0, 32767, -32768, 32768, "20 02>04 40 04:0C | FF 7F FF 7F 00 80 90"},
      {0, 0, 0, 0, 70000, -70000, -32769, "20 02>04 40 04:0C | FF 7F 00 80 00 80 90"},
      {0, 0, 0, 0, INT32_MAX, INT32_MIN, 0, "20 02>04 40 04:0C | FF 7F 00 00 00 80 90"},
      {0, 1, 1, 1, INT32_MIN, INT32_MAX, -40000, "20 02>04 40 04:0C | FF 7F FF 7F 00 80 90"},
      {1, 0, 0, 0, 36767, -36767, 0, "20 02>04 40 04:0C | A4 06 00 00 5C F9 90"},
  };
  for (const Row& r : rows) {
    WritableLinkState()->source_mode = r.source_mode;
    SharedConfig* config = WritableSharedConfig();
    config->rc_input_inverse_pan = r.inverse_pan;
    config->rc_input_inverse_tilt = r.inverse_tilt;
    config->rc_input_inverse_dutch = r.inverse_dutch;
    SendGimbalSpeed(r.pan, r.tilt, r.dutch);
    EXPECT_EQ(Sent(), Lines{r.frame}) << r.source_mode << ": " << r.pan << " " << r.tilt << " " << r.dutch;
  }
  EXPECT_NE(GetMotionIntent()->last_gimbal_speed_ms, 0u);
}

TEST_F(MotionTest, GimbalAngleSaturatesEachAxis) {
  const struct {
    int32_t pan, tilt, dutch;
    const char* frame;
  } rows[] = {
      {32767, -32768, 0, "23 02>04 40 04:0A | FF 7F 00 00 00 80 64 00 E0 04"},
      {40000, -40000, 70000, "23 02>04 40 04:0A | FF 7F FF 7F 00 80 64 00 E0 04"},
      {INT32_MIN, INT32_MAX, -32769, "23 02>04 40 04:0A | 00 80 00 80 FF 7F 64 00 E0 04"},
  };
  for (const auto& r : rows) {
    SetGimbalAngle(r.pan, r.tilt, r.dutch);
    EXPECT_EQ(Sent(), Lines{r.frame}) << r.pan << " " << r.tilt << " " << r.dutch;
  }
}

TEST_F(MotionTest, GimbalAngleStopsAMovingGimbalFirst) {
  WritableMotionIntent()->gimbal_stopped = 0;
  SetGimbalAngle(-300, 450, 7);
  EXPECT_EQ(Sent(), (Lines{"20 02>04 40 04:0C | 00 00 00 00 00 00 90",
                           "23 02>04 40 04:0A | D4 FE 07 00 C2 01 64 00 E0 04"}));
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 1);
  SetGimbalAngle(0, 0, 0);
  EXPECT_EQ(Sent(), Lines{"23 02>04 40 04:0A | 00 00 00 00 00 00 64 00 E0 04"});
}

TEST_F(MotionTest, StoppingPanAndTiltKeepsTheWantedRoll) {
  SetDutchSpeed(30);
  SetPanTiltSpeed(100, -50);
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 0);
  SetPanTiltSpeed(100, -50);
  SetPanTiltSpeed(0, 0);
  SetPanTiltSpeed(0, 0);
  EXPECT_EQ(Sent(), Lines{"20 02>04 40 04:0C | 00 00 1E 00 00 00 90"});
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 1);
}

TEST_F(MotionTest, RollBackToZeroStopsOnlyWhenPanAndTiltAreStill) {
  SetDutchSpeed(20);
  uint32_t before = FramesOut();
  SetDutchSpeed(0);
  EXPECT_EQ(FramesOut(), before + 1);
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 1);

  SetPanTiltSpeed(5, 0);
  SetDutchSpeed(20);
  before = FramesOut();
  SetDutchSpeed(0);  // pan still wanted: keep moving
  EXPECT_EQ(FramesOut(), before);
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 0);
}

TEST_F(MotionTest, OrientationLockActsOnEveryTenthCallOnly) {
  std::vector<int> acting;
  for (int call = 1; call <= 25; ++call) {
    uint32_t before = FramesOut();
    ApplyOrientationLock(1);
    WaitForIdleWorkers();  // the keys go out from a worker
    uint32_t sent = FramesOut() - before;
    if (sent != 0) {
      EXPECT_EQ(sent, 6u);
      acting.push_back(call);
    }
  }
  EXPECT_EQ(acting, (std::vector<int>{1, 11, 21}));
  Lines frames = Sent();
  ASSERT_EQ(frames.size(), 18u);
  const std::string press = "23 09>04 40 01:01 | 00 00 00 00 02 91 00 00 00 93";
  const std::string release = "23 09>01 40 01:01 | 00 00 00 00 00 91 00 00 00 91";
  EXPECT_EQ(Lines(frames.begin(), frames.begin() + 6), (Lines{press, press, press, release, release, release}));
}

TEST_F(MotionTest, UnlockSendsItsOwnKeysAfterStoppingTheGimbal) {
  WritableMotionIntent()->gimbal_stopped = 0;
  ApplyOrientationLock(0);
  WaitForIdleWorkers();
  const std::string press = "23 09>04 40 01:01 | 00 00 00 00 0A 91 00 00 00 9B";
  const std::string release = "23 09>04 40 01:01 | 00 00 00 00 00 91 00 00 00 91";
  EXPECT_EQ(Sent(), (Lines{"20 02>04 40 04:0C | 00 00 00 00 00 00 90", press, press, press, release, release,
                           release}));
}

TEST_F(MotionTest, OrientationLockCounterWrapsWithoutLosingTheRhythm) {
  WritableMotionIntent()->lock_call_count = 1999999990;  // a multiple of ten
  uint32_t before = FramesOut();
  for (int i = 0; i < 10; ++i) ApplyOrientationLock(1);
  WaitForIdleWorkers();
  EXPECT_EQ(FramesOut() - before, 6u);
  EXPECT_EQ(GetMotionIntent()->lock_call_count, 0);
  ApplyOrientationLock(1);
  WaitForIdleWorkers();
  EXPECT_EQ(FramesOut() - before, 12u);
}

// A level already sent is logged but not sent again.
TEST_F(MotionTest, DigitalZoomClampsAndSkipsRepeatedRequests) {
  CaptureStderr();
  SetDigitalZoom(-5);
  SetDigitalZoom(150);
  SetDigitalZoom(120);
  EXPECT_EQ(GetCapturedStderr(), "Digital zoom 0%\nDigital zoom 100%\n");
  EXPECT_EQ(Sent(), Lines{"18 02>01 40 02:34 | 09 00 00 C8 00"});
  EXPECT_EQ(GetMotionIntent()->zoom_level, 100);
}

TEST_F(MotionTest, OpticalZoomDirections) {
  SetOpticalZoom(3);
  SetOpticalZoom(-1);
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, -1);
  SetOpticalZoom(0);
  EXPECT_EQ(Sent(), (Lines{"17 02>01 40 02:B8 | 01 48 01 00", "17 02>01 40 02:B8 | 01 48 00 00",
                           "17 02>01 40 02:B8 | 00 48 00 00", "17 02>01 40 02:B8 | FF 48 00 00"}));
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, 0);
}

TEST_F(MotionTest, ClientGimbalControlAddsTheRcSpeeds) {
  WritableMotionIntent()->rc_pan_speed = 40;
  WritableMotionIntent()->rc_tilt_speed = -10;
  HandleGimbalControl(1, 5, 7);
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 45);
  EXPECT_EQ(GetMotionIntent()->tilt_speed_wanted, -3);
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 0);
  EXPECT_EQ(GetMotionIntent()->client_pan_speed, 5);
  EXPECT_EQ(GetMotionIntent()->client_tilt_speed, 7);

  // A client stop while RC still moves leaves the wanted speed to the RC and
  // marks the client's part as stopped.
  HandleGimbalControl(1, 0, 0);
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 40);
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 1);
  EXPECT_EQ(GetMotionIntent()->client_pan_speed, 0);

  WritableMotionIntent()->rc_pan_speed = INT32_MAX;
  HandleGimbalControl(1, 100, 0);
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, INT32_MAX);
}

TEST_F(MotionTest, ClientGimbalControlSelectors) {
  HandleGimbalControl(0, 100, -20);
  EXPECT_EQ(Sent(), Lines{"23 02>04 40 04:0A | 64 00 00 00 EC FF 64 00 E0 04"});

  WritableMotionIntent()->zoom_level = 30;
  HandleGimbalControl(2, -1, 15);
  EXPECT_EQ(GetMotionIntent()->zoom_level, 45);
  HandleGimbalControl(2, -2, 4);
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 4);
  HandleGimbalControl(2, -3, -2);
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, -2);
  HandleGimbalControl(2, 9, 60);
  EXPECT_EQ(GetMotionIntent()->zoom_level, 60);
  EXPECT_EQ(Sent(), (Lines{"18 02>01 40 02:34 | 09 00 00 91 00", "17 02>01 40 02:B8 | 01 48 00 00",
                           "18 02>01 40 02:34 | 09 00 00 A0 00"}));

  uint32_t before = FramesOut();
  HandleGimbalControl(7, 1, 1);
  EXPECT_EQ(FramesOut(), before);
}

// Each continuous motion a viewer starts is its own until another input sets
// it: the viewer's leaving then stops only what it still drives.
TEST_F(MotionTest, AViewerStopsOnlyTheMotionsItStillDrives) {
  MotionIntent* motion = WritableMotionIntent();
  const MotionDriver viewer = ViewerMotionDriver("127.0.0.2", 40001);
  HandleGimbalControl(2, -2, 4, viewer);  // digital zoom speed
  HandleGimbalControl(2, -3, 1, viewer);  // optical zoom in
  SetPanTiltSpeed(500, -300, viewer);     // "moverel"
  SetOpticalZoom(-1);                     // a joystick takes the optical zoom over
  Sent();
  ReleaseViewerMotion("127.0.0.2", 40001);
  EXPECT_EQ(motion->zoom_speed, 0);
  EXPECT_EQ(motion->pan_speed_wanted, 0);
  EXPECT_EQ(motion->optical_zoom_direction, -1);
  EXPECT_EQ(Sent(), Lines{"20 02>04 40 04:0C | 00 00 00 00 00 00 90"});
  // Nothing is left for a second goodbye.
  ReleaseViewerMotion("127.0.0.2", 40001);
  EXPECT_EQ(motion->optical_zoom_direction, -1);
  EXPECT_TRUE(Sent(100).empty());
}

// Motions nobody is seen leaving (an unregistered sender, the mailbox) end
// once not set again for kLeasedMotionMs; a registered viewer's never lapse.
TEST_F(MotionTest, LeasedMotionsLapseUnlessSetAgain) {
  MotionIntent* motion = WritableMotionIntent();
  const MotionDriver stranger = LeasedMotionDriver(ViewerMotionDriver("127.0.0.2", 40001));
  const MotionDriver viewer = ViewerMotionDriver("127.0.0.3", 40001);
  HandleGimbalControl(1, 500, 0, stranger);
  HandleGimbalControl(2, -3, 1, kMailboxMotionDriver);
  HandleGimbalControl(2, -2, 4, viewer);
  const uint32_t set = motion->client_speed_driver.set_ms;
  const struct {
    uint32_t after_ms;
    bool repeat;  // the stranger sets its speed again first
    int32_t pan;
    int32_t optical;
  } passes[] = {
      {kLeasedMotionMs - 1, false, 500, 1},
      {kLeasedMotionMs - 1, true, 500, 1},  // a repeat renews the lease ...
      {kLeasedMotionMs + 100, false, 500, 0},  // ... the mailbox's lapsed
      {2 * kLeasedMotionMs + 100, false, 0, 0},
      {100000, false, 0, 0},
  };
  for (const auto& p : passes) {
    if (p.repeat) {
      motion->client_speed_driver.set_ms = set + p.after_ms;
      HandleGimbalControl(1, 500, 0, stranger);
      motion->client_speed_driver.set_ms = set + p.after_ms;
    }
    EndLapsedMotions(set + p.after_ms);
    EXPECT_EQ(motion->pan_speed_wanted, p.pan) << p.after_ms;
    EXPECT_EQ(motion->optical_zoom_direction, p.optical) << p.after_ms;
    EXPECT_EQ(motion->zoom_speed, 4) << p.after_ms;
  }
}

// The keys each position sends, after a stop where the gimbal moves, are rows
// of the golden command table; here the log and the state an unknown one leaves.
TEST_F(MotionTest, PositionsLogTheirNumberAndAnUnknownOneSendsNothing) {
  WritableMotionIntent()->gimbal_stopped = 0;
  CaptureStderr();
  const uint32_t before = FramesOut();
  SetGimbalPosition(2);
  EXPECT_EQ(FramesOut(), before);
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 0);
  SetGimbalPosition(0);
  SetGimbalPosition(1);
  EXPECT_EQ(GetCapturedStderr(), "set position 2\nset position 0\nset position 1\n");
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 1);
  EXPECT_EQ(Sent().size(), 17u);  // a stop, then eight keys for each
}

float FloatAt(const std::vector<uint8_t>& payload, size_t offset) { return GetF32(payload.data() + offset); }

TEST_F(MotionTest, CarrierAttitudeIsBuiltFromTwoAngles) {
  SendCarrierAttitude(1000, -600);
  auto frames = TakeFrames(end_);
  ASSERT_EQ(frames.size(), 1u);
  const SentFrame& f = frames[0];
  EXPECT_EQ(f.raw.size(), 51u);
  EXPECT_EQ(f.sender, 0x03);
  EXPECT_EQ(f.receiver, 0x04);
  EXPECT_EQ(f.type, 0x00);
  EXPECT_EQ(f.set, 0x03);
  EXPECT_EQ(f.id, 0x42);
  const double ha = 0.25, hb = -0.15;
  EXPECT_FLOAT_EQ(FloatAt(f.payload, 0), static_cast<float>(std::cos(hb) * std::cos(ha)));
  EXPECT_FLOAT_EQ(FloatAt(f.payload, 4), static_cast<float>(std::sin(hb) * std::cos(ha)));
  EXPECT_FLOAT_EQ(FloatAt(f.payload, 8), static_cast<float>(std::cos(hb) * std::sin(ha)));
  EXPECT_FLOAT_EQ(FloatAt(f.payload, 12), static_cast<float>(-std::sin(hb) * std::sin(ha)));
  for (size_t i = 16; i < f.payload.size(); ++i) EXPECT_EQ(f.payload[i], 0) << i;
  EXPECT_EQ(GetMotionIntent()->rc_attitude_enabled.load(), 1);
}

TEST_F(MotionTest, ClientAttitudePutsTheScalarFirstAndEndsRcAttitude) {
  SendClientAttitude(0.1f, 0.2f, 0.3f, 0.9f);
  EXPECT_EQ(GetMotionIntent()->rc_attitude_enabled.load(), 0);
  auto frames = TakeFrames(end_);
  ASSERT_EQ(frames.size(), 1u);
  const std::vector<uint8_t>& p = frames[0].payload;
  ASSERT_EQ(p.size(), 38u);
  EXPECT_EQ(FloatAt(p, 0), 0.9f);
  EXPECT_EQ(FloatAt(p, 4), 0.1f);
  EXPECT_EQ(FloatAt(p, 8), 0.2f);
  EXPECT_EQ(FloatAt(p, 12), 0.3f);
  EXPECT_EQ(HexBytes(std::vector<uint8_t>(p.begin() + 16, p.begin() + 20)), "00 00 80 00");
  for (size_t i = 20; i < p.size(); ++i) EXPECT_EQ(p[i], 0) << i;
}

TEST_F(MotionLinkDownTest, NothingLeavesButTheStateStillFollows) {
  WritableMotionIntent()->gimbal_stopped = 0;
  const uint32_t before = FramesOut();
  CaptureStderr();
  SendGimbalSpeed(10, 10, 10);
  SetGimbalAngle(1, 2, 3);
  ApplyOrientationLock(1);
  WaitForIdleWorkers();
  SendCarrierAttitude(0, 0);
  SendClientAttitude(0, 0, 0, 1);
  SetDigitalZoom(50);
  SetOpticalZoom(1);
  SetGimbalPosition(0);
  SetGimbalPosition(1);
  EXPECT_EQ(GetCapturedStderr(), "Digital zoom 50%\nset position 0\nset position 1\n");
  EXPECT_EQ(FramesOut(), before);
  EXPECT_TRUE(Sent(100).empty());
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 1);
  EXPECT_EQ(GetMotionIntent()->zoom_level, 50);
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, 1);
  EXPECT_NE(GetMotionIntent()->last_gimbal_speed_ms, 0u);
}

}  // namespace
