#include <cmath>
#include <limits>
#include <string>

#include "camera_fixture.h"
#include "writable_records.h"

namespace {

constexpr double kRadPerDeg = 0.01745329238474369;

std::vector<uint8_t> Attitude(int16_t pan_raw, int16_t tilt_raw, int16_t dutch_raw, uint8_t lock_byte) {
  auto f = CameraMessage(25, {{17, lock_byte}}, 0x04, 0x05);
  PutU16(f.data() + 11, static_cast<uint16_t>(tilt_raw));
  PutU16(f.data() + 13, static_cast<uint16_t>(dutch_raw));
  PutU16(f.data() + 15, static_cast<uint16_t>(pan_raw));
  return f;
}

class Telemetry : public CameraLinkTest {};

TEST_F(Telemetry, AttitudeScalesEachAxisIntoDegreesRadiansAndTexts) {
  struct Case {
    int16_t p, t, d;
    double pan, tilt, dutch;
    const char *pan_text, *tilt_text, *dutch_text;
  } cases[] = {
      {326, -1293, -490, 35, -135, 60, "35", "-135", "60"},
      {-3260, 347, 490, -350, 45, -60, "-350", "45", "-60"},
      {0, 0, 0, 0, 0, 0, "0", "0", "0"},
  };
  HudState* hud = WritableHudState();
  WritableMotionIntent()->orientation_lock_wanted = 1;  // locked, as reported below
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pan_text);
    Feed(Attitude(c.p, c.t, c.d, 0));
    EXPECT_STREQ(hud->pan_text, c.pan_text);
    EXPECT_STREQ(hud->tilt_text, c.tilt_text);
    EXPECT_STREQ(hud->dutch_text, c.dutch_text);
    EXPECT_DOUBLE_EQ(hud->pan_rad, c.pan * kRadPerDeg);
    EXPECT_DOUBLE_EQ(hud->tilt_rad, c.tilt * kRadPerDeg);
    EXPECT_DOUBLE_EQ(hud->dutch_rad, c.dutch * kRadPerDeg);
    EXPECT_DOUBLE_EQ(hud->tilt_sin, std::sin(c.tilt * kRadPerDeg));
    EXPECT_DOUBLE_EQ(hud->tilt_cos, std::cos(c.tilt * kRadPerDeg));
    EXPECT_DOUBLE_EQ(hud->pan_sin, std::sin(c.pan * kRadPerDeg));
    EXPECT_DOUBLE_EQ(hud->dutch_cos, std::cos(c.dutch * kRadPerDeg));
    EXPECT_EQ(hud->attitude_updating, 0);
    EXPECT_EQ(hud->orientation_locked, 1);

    auto payloads = TakeViewerPayloads(viewer_);
    ASSERT_EQ(payloads.size(), 3u);
    EXPECT_EQ(payloads[0][0], 0);
    // Hundredths of a degree as i16: +-350 degrees wrap, as the viewers expect.
    EXPECT_EQ(Short16(payloads[0]), (std::vector<int>{int16_t(int(c.pan * 100)), int16_t(int(c.tilt * 100)),
                                                      int16_t(int(c.dutch * 100))}));
    EXPECT_EQ(payloads[1][0], 10);
    EXPECT_EQ(Short16(payloads[1]), (std::vector<int>{c.p, c.t, c.d}));  // raw, dutch not negated
    EXPECT_EQ(payloads[2][0], 8);
    EXPECT_EQ(Short16(payloads[2]), (std::vector<int>{1, 0, 0}));
  }
}

TEST_F(Telemetry, TwentyFiveByteFramesOfOtherCommandsAreNotAttitude) {
  auto f = Attitude(326, 347, 0, 0);
  f[9] = 0x02;
  Feed(f);
  EXPECT_STREQ(GetHudState()->pan_text, "");
  EXPECT_TRUE(TakeViewerPayloads(viewer_, 50, 150).empty());
}

TEST_F(Telemetry, AttitudeSteersTheLockBackToWhatTheUserWants) {
  WritableMotionIntent()->orientation_lock_wanted = 0;
  Feed(Attitude(0, 0, 0, 1));  // reports unlocked, as wanted
  EXPECT_EQ(GetHudState()->orientation_locked, 0);
  EXPECT_EQ(GetMotionIntent()->lock_call_count, 0);
  EXPECT_TRUE(TakeFrames(camera_, 50, 150).empty());

  Feed(Attitude(0, 0, 0, 0));  // reports locked: the unlock keys go out
  EXPECT_EQ(GetHudState()->orientation_locked, 1);
  EXPECT_EQ(GetMotionIntent()->lock_call_count, 1);
  auto frames = TakeFrames(camera_);
  ASSERT_FALSE(frames.empty());
  for (auto& f : frames) EXPECT_EQ(f.raw.size(), 23u);
}

std::vector<uint8_t> Status(uint8_t flags, uint8_t byte13 = 0, uint8_t byte42 = 0, size_t length = 49) {
  return CameraMessage(length, {{11, flags}, {13, byte13}, {42, byte42}});
}

TEST_F(Telemetry, RecordingIndicatorBlinksWhileRecordingAndStopsAtOnce) {
  Feed(Status(0x80));
  EXPECT_EQ(GpioSimLevel(kRecordingIndicatorPin), HIGH);
  Feed(Status(0x80));  // within 500 ms: no change
  EXPECT_EQ(GpioSimLevel(kRecordingIndicatorPin), HIGH);
  WritableLinkState()->blink_ms = MillisecondClock() - 501;
  Feed(Status(0xBF, 0, 0, 50));
  EXPECT_EQ(GpioSimLevel(kRecordingIndicatorPin), LOW);
  WritableLinkState()->blink_ms = MillisecondClock() - 501;
  Feed(Status(0x80));
  EXPECT_EQ(GpioSimLevel(kRecordingIndicatorPin), HIGH);
  Feed(Status(0x40));
  EXPECT_EQ(GpioSimLevel(kRecordingIndicatorPin), LOW);
  EXPECT_EQ(GetLinkState()->blink_ms, 0u);
}

TEST_F(Telemetry, StatusFillsTheRecordAndTheStatusRecordForViewers) {
  auto counter = CameraMessage(22, {{14, 0x01}, {15, 0x02}, {16, 0x03}, {17, 0xEE}});
  Feed(counter);
  auto f = CameraMessage(50, {{11, 0x01}, {13, 0x10}, {15, 1}, {42, 0x21}, {44, 11}});
  for (int i = 0; i < 12; ++i) f[20 + i] = static_cast<uint8_t>(0xA0 + i);
  f[40] = 0x34;
  f[41] = 0x12;
  WritableHudState()->camera_status_valid = 0;
  Feed(f);

  HudState* hud = WritableHudState();
  EXPECT_EQ(hud->counter22, 0x030201u);
  EXPECT_EQ(hud->camera_status_flags, 0x01);
  EXPECT_EQ(hud->status_value20, 0xA3A2A1A0u);
  EXPECT_EQ(hud->status_value24, 0xA7A6A5A4u);
  EXPECT_EQ(hud->status_value28, 0xABAAA9A8u);
  EXPECT_EQ(hud->status_value40, 0x1234);
  EXPECT_EQ(hud->camera_status_valid, 1);
  EXPECT_EQ(hud->camera_state, 11);
  EXPECT_EQ(hud->work_mode, 1);
  EXPECT_EQ(hud->status_byte42, 0x21);
  EXPECT_EQ(hud->status_byte13, 0x10);
  EXPECT_EQ(GetLinkState()->shot_active, 1);

  auto records = ViewerMessages(7);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(HexBytes(records[0]),
            "07 01 01 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB 34 12 01 02 03 00 21 10 0B");
}

TEST_F(Telemetry, ShotInProgressIsStoppedOnlyWhenTheCameraSaysSo) {
  struct Case {
    uint8_t flags, byte13, byte42;
    bool stops;
  } cases[] = {
      {0x00, 0x08, 0x00, true},
      {0x00, 0x08, 0x01, false},  // byte 42 bit 0 set
      {0x20, 0x08, 0x00, false},  // byte 11 bit 5 set
      {0x00, 0x00, 0x00, false},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    Feed(Status(c.flags, c.byte13, c.byte42));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("stop shot") != std::string::npos, c.stops)
        << int(c.flags) << " " << int(c.byte13) << " " << int(c.byte42);
    TakeFrames(camera_, 20, 50);
  }
}

std::vector<uint8_t> Focus(uint16_t range, uint16_t position, float value, float x, float y, size_t length = 53) {
  auto f = CameraMessage(length, {{11, 0x05}, {32, 7}, {42, 0x33}});
  PutU16(f.data() + 12, range);
  PutU16(f.data() + 14, position);
  PutF32(f.data() + 16, value);
  PutF32(f.data() + 24, x);
  PutF32(f.data() + 28, y);
  return f;
}

TEST_F(Telemetry, FocusStoresTheStateAndReportsItToViewers) {
  HudState* hud = WritableHudState();
  hud->af_unlimited = 1;
  Feed(Focus(1000, 250, 1.234f, 0.5f, 0.25f, 59));
  EXPECT_EQ(hud->focus_percent, 25);
  EXPECT_DOUBLE_EQ(hud->focus_value, 1.23);
  EXPECT_DOUBLE_EQ(hud->focus_x, 0.5);
  EXPECT_DOUBLE_EQ(hud->focus_y, 0.25);
  EXPECT_EQ(hud->focus_mode, 1);
  EXPECT_EQ(hud->focus_flag, 1);
  EXPECT_EQ(hud->focus_valid, 1);
  EXPECT_EQ(hud->focus_byte32, 7);
  EXPECT_EQ(GetLinkState()->focus_range, 1000u);
  EXPECT_EQ(GetLinkState()->focus_byte42, 0x33u);

  auto payloads = TakeViewerPayloads(viewer_);
  ASSERT_EQ(payloads.size(), 3u);
  EXPECT_EQ(HexBytes(payloads[0]), "10 07 01 00 00 00 00");
  EXPECT_EQ(payloads[1][0], 12);
  EXPECT_EQ(Short16(payloads[1]), (std::vector<int>{3, 25, 123}));
  EXPECT_EQ(payloads[2][0], 13);
  EXPECT_EQ(Short16(payloads[2]), (std::vector<int>{5000, 2500, 0x33}));
}

TEST_F(Telemetry, FocusValuesWithoutAFiniteResultStaySane) {
  HudState* hud = WritableHudState();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();

  Feed(Focus(0, 500, nan, nan, inf));  // zero range: percent 0, the rest as usual
  EXPECT_EQ(hud->focus_percent, 0);
  EXPECT_EQ(hud->focus_value, 0.0);
  EXPECT_EQ(hud->focus_valid, 1);
  EXPECT_EQ(hud->focus_byte32, 7);
  auto payloads = TakeViewerPayloads(viewer_);
  ASSERT_EQ(payloads.size(), 3u);
  EXPECT_EQ(Short16(payloads[1]), (std::vector<int>{3, 0, 0}));
  EXPECT_EQ(Short16(payloads[2])[0], 0);

  Feed(Focus(10, 2000, 3.0e38f, 1.0e30f, -1.0e30f));  // position past the range
  EXPECT_EQ(hud->focus_percent, 127);
  EXPECT_DOUBLE_EQ(hud->focus_value, static_cast<double>(3.0e38f));
}

TEST_F(Telemetry, LensPlaybackAndDataBlockAreStoredAsReceived) {
  HudState* hud = WritableHudState();
  auto lens = CameraMessage(52, {{11, 0x42}, {12, 0x34}, {13, 0x12}, {25, 0x78}, {26, 0x56}});
  Feed(lens);
  EXPECT_EQ(hud->msg52_byte11, 0x42);
  EXPECT_EQ(hud->msg52_value12, 0x1234);
  EXPECT_EQ(hud->msg52_value25, 0x5678);

  auto playback = CameraMessage(54, {{11, 4}, {15, 1}, {16, 1}, {17, 2}, {18, 2}, {19, 0xEE}, {20, 3}, {21, 3},
                                     {22, 4}, {23, 4}, {24, 5}, {25, 5}});
  Feed(playback);
  EXPECT_EQ(hud->playback_state, 4);
  const uint16_t expected[5] = {0x0101, 0x0202, 0x0303, 0x0404, 0x0505};
  for (int i = 0; i < 5; ++i) {
    uint16_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(hud) + offsetof(HudState, playback_values) + 2 * i, 2);
    EXPECT_EQ(v, expected[i]) << i;
  }

  auto block = CameraMessage(77);
  for (int i = 0; i < 64; ++i) block[11 + i] = static_cast<uint8_t>(i + 1);
  TakeViewerPayloads(viewer_, 20, 50);
  Feed(block);
  EXPECT_EQ(hud->camera_data64[0], 1);
  EXPECT_EQ(hud->camera_data64[63], 64);
  EXPECT_NE(hud->camera_data64_ms, 0u);
  auto records = ViewerMessages(14);
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].size(), 65u);
  EXPECT_EQ(records[0][1], 1);
  EXPECT_EQ(records[0][64], 64);
}

}  // namespace
