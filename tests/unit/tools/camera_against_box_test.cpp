// The camera stand-in against the box's own parser, in one process: every
// query it sends is answered exactly as it expects, and every telemetry
// message it sends is recognised and read back as the values it meant.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "../../../tools/vb-camera/answers.h"
#include "../../../tools/vb-camera/sim_camera.h"
#include "../../../tools/vb-camera/telemetry.h"
#include "camera_fixture.h"
#include "operations/exposure_focus.h"
#include "records/camera_codes.h"
#include "records/viewer_protocol.h"
#include "writable_records.h"

namespace {

class CameraAgainstBox : public CameraLinkTest {
 protected:
  // The viewer messages of one type among those received so far.
  std::vector<Datagram> ViewerMessages(uint8_t type) {
    for (auto& p : TakeViewerPayloads(viewer_)) received_.push_back(p);
    std::vector<Datagram> out;
    for (auto& p : received_)
      if (!p.empty() && p[0] == type) out.push_back(p);
    return out;
  }
  std::vector<Datagram> received_;
};

TEST_F(CameraAgainstBox, EveryQueryOfEitherModeGetsTheExpectedAnswer) {
  for (int mode : {kModeOsmo, kModeInspire}) {
    SCOPED_TRACE(mode == kModeOsmo ? "osmo" : "inspire");
    WritableLinkState()->source_mode = static_cast<uint32_t>(mode);
    int count = 0;
    const CameraQuery* queries = QueriesForMode(mode, &count);
    AnswerChecker checker;
    testing::internal::CaptureStderr();
    for (int i = 0; i < count; ++i) {
      uint16_t seq = static_cast<uint16_t>(0x4100 + i);
      uint8_t byte11 = queries[i].byte11 >= 0 ? static_cast<uint8_t>(queries[i].byte11) : static_cast<uint8_t>(0x30 + i);
      uint8_t frame[32];
      size_t n = BuildQuery(queries[i], seq, byte11, frame);
      ExpectAnswer(&checker, &queries[i], seq, byte11, 10.0);
      ParseCameraDatagram(frame, static_cast<uint16_t>(n));
    }
    testing::internal::GetCapturedStderr();
    std::vector<std::string> lines;
    for (const SentFrame& f : TakeFrames(camera_)) {
      char line[1000] = "";
      AnswerResult r = CheckAnswer(&checker, f.raw.data(), f.raw.size(), line, sizeof line);
      EXPECT_EQ(r, kAnswerOk) << line << " for " << FrameText(f);
    }
    EXPECT_EQ(checker.ok, count);
    EXPECT_EQ(checker.count, 0) << "queries left unanswered";
  }
}

TEST_F(CameraAgainstBox, TelemetryIsReadBackAsSent) {
  SimCamera cam;
  cam.demo = false;
  cam.pan_deg = 123.4;
  cam.tilt_deg = -100;
  cam.dutch_deg = -7.5;
  cam.recording = true;
  cam.work_mode = 1;
  cam.focus_range = 1000;
  cam.focus_position = 250;
  cam.focus_value = 2.5f;
  cam.counter = 0x123456;
  for (int kind = 0; kind < kTelemetryKindCount; ++kind) {
    for (int variant = 0; variant < 2; ++variant) {
      uint8_t frame[256];
      size_t n = BuildTelemetry(kind, variant, cam, 7, frame);
      ASSERT_EQ(n, kTelemetryInfo[kind].lengths[variant]);
      FrameFields f{};
      ASSERT_TRUE(DecodeFrame(frame, n, &f));
      EXPECT_TRUE(f.header_ok && f.checksum_ok) << kTelemetryInfo[kind].name;
      ParseCameraDatagram(frame, static_cast<uint16_t>(n));
    }
  }
  HudState* hud = WritableHudState();
  // Attitude, through the box's degree conversion: within its rounding.
  auto attitude = ViewerMessages(kMsgGimbalAttitude);
  ASSERT_EQ(attitude.size(), 2u);
  EXPECT_NEAR(GetI16(&attitude[0][1]) / 100.0, 123.4, 0.1);
  EXPECT_NEAR(GetI16(&attitude[0][3]) / 100.0, -100, 0.1);
  EXPECT_NEAR(GetI16(&attitude[0][5]) / 100.0, -7.5, 0.1);
  // Status: recording, in video mode, for both lengths.
  auto status = ViewerMessages(kMsgStatusRecord);
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status[1][1], 1);           // work mode video
  EXPECT_EQ(status[1][2] >> 6, 2);      // recording
  EXPECT_EQ(hud->camera_status_valid, 1);
  // Focus: a quarter of the range, the value in hundredths.
  auto focus = ViewerMessages(kMsgFocusState);
  ASSERT_EQ(focus.size(), 2u);
  EXPECT_EQ(GetI16(&focus[0][3]), 25);
  EXPECT_EQ(GetI16(&focus[0][5]), 250);
  // Settings: 1/100 s is shutter index 37, f/2.8 aperture index 5, 0 EV.
  auto settings = ViewerMessages(kMsgSettingsRecord);
  ASSERT_EQ(settings.size(), 2u);
  EXPECT_EQ(GetU24(&settings[0][12]), 0x8064u);
  EXPECT_EQ(GetI16(&settings[0][17]), 280);
  EXPECT_EQ(settings[0][5], 0);
  EXPECT_EQ(GetLinkState()->known_shutter_index, 37);
  EXPECT_EQ(GetLinkState()->known_aperture_index, 5);
  auto block = ViewerMessages(kMsgDataBlock);
  ASSERT_EQ(block.size(), 2u);
  EXPECT_EQ(GetU32(&block[0][1]), 0x123456u);
  // Messages without a viewer record land in the status record.
  EXPECT_EQ(hud->counter22, 0x123456u);
  EXPECT_EQ(hud->msg52_byte11, 1);
  // The settings pair stays the same, so the display is never restarted.
  for (const std::string& line : ShellTakeLog()) EXPECT_EQ(line.find("killall -q display"), std::string::npos) << line;
}

TEST_F(CameraAgainstBox, ExposureSettingsTheBoxSendsComeBackInTheSettingsMessage) {
  SimCamera cam;
  cam.demo = false;
  testing::internal::CaptureStderr();
  SetShutter("1000");
  SetAperture(5.6f);
  SetExposureCompensation(-1.7);
  SetShutter("1/8000");  // no such speed: the camera keeps its own
  testing::internal::GetCapturedStderr();
  std::vector<std::string> notes;
  for (const SentFrame& f : TakeFrames(camera_)) {
    if (const char* note = ApplyBoxFrame(&cam, f.raw.data(), f.raw.size())) notes.push_back(note);
  }
  EXPECT_EQ(notes, (std::vector<std::string>{"shutter", "aperture", "ev"}));
  uint8_t frame[256];
  size_t n = BuildTelemetry(kTelemetrySettings, 0, cam, 1, frame);
  ParseCameraDatagram(frame, static_cast<uint16_t>(n));
  EXPECT_EQ(GetLinkState()->shutter_index, ShutterIndexOfName("1000"));
  EXPECT_DOUBLE_EQ(GetHudState()->aperture, 5.6);
  EXPECT_EQ(GetHudState()->exposure_compensation, -17);
}

}  // namespace
