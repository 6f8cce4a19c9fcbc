#include "actuators/shield.h"
#include "operations/capture.h"
#include "operations_fixture.h"
#include "writable_records.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using CaptureTest = OperationsTest;
using CaptureLinkDownTest = OperationsLinkDownTest;

const std::string kPhotoMode = "14 09>01 40 02:10 | 00";
const std::string kVideoMode = "14 09>01 40 02:10 | 01";
const std::string kShotReleaseGimbal = "23 09>04 40 01:01 | 00 00 00 00 00 91 00 00 00 91";
const std::string kShotReleaseCamera = "23 09>01 40 01:01 | 00 00 00 00 00 91 00 00 00 91";

// The eight frames of one shot with the given press payload.
Lines ShotFrames(const std::string& press) {
  const std::string to_gimbal = "23 09>04 40 01:01 | " + press;
  const std::string to_camera = "23 09>01 40 01:01 | " + press;
  return {to_gimbal, to_gimbal, to_camera, to_camera,
          kShotReleaseGimbal, kShotReleaseGimbal, kShotReleaseCamera, kShotReleaseCamera};
}

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(CaptureTest, ShotTable) {
  const struct {
    uint8_t mode, submode;
    const char* press;  // nullptr: the shutter sends nothing
  } rows[] = {
      {0, 0, "30 00 00 00 00 91 00 01 00 A0"}, {0, 1, "D0 00 00 00 00 91 00 0A 01 4A"},
      {0, 2, "50 00 00 00 00 91 00 01 00 C0"}, {0, 3, nullptr},
      {1, 0, "90 00 00 00 00 91 00 03 00 02"}, {1, 1, "90 00 00 00 00 91 00 05 00 04"},
      {1, 2, "90 00 00 00 00 91 00 07 00 06"}, {1, 3, "B0 00 00 00 00 91 00 03 00 22"},
      {1, 4, "B0 00 00 00 00 91 00 05 00 24"}, {1, 5, nullptr},
      {2, 0, "D0 00 00 00 00 91 00 0A FF B4"}, {2, 1, "D0 00 00 00 00 91 00 1E FF A0"},
      {2, 2, nullptr},                          {2, 3, nullptr},
      {3, 0, "F0 00 00 00 00 91 00 FF 00 9E"}, {3, 3, "F0 00 00 00 00 91 00 FF 00 9E"},
      {3, 4, "F0 00 00 00 00 91 00 03 00 62"}, {3, 5, nullptr},
      {4, 0, "D0 00 00 00 00 91 00 32 FF 8C"}, {4, 200, "D0 00 00 00 00 91 00 32 FF 8C"},
      {5, 0, nullptr},                          {255, 255, nullptr},
  };
  for (const auto& row : rows) {
    WritableLinkState()->shot_mode = row.mode;
    WritableLinkState()->shot_submode = row.submode;
    const uint32_t before = FramesOut();
    CaptureStderr();
    ShutterRelease();
    EXPECT_EQ(GetCapturedStderr(), "shot\n");
    if (row.press) {
      EXPECT_EQ(Sent(), ShotFrames(row.press)) << int(row.mode) << "/" << int(row.submode);
    } else {
      EXPECT_EQ(FramesOut(), before) << int(row.mode) << "/" << int(row.submode);
    }
  }
  EXPECT_TRUE(ShellTakeLog().empty());  // photo mode all along: display keeps running
}

TEST_F(CaptureTest, ShutterInVideoModeSwitchesToPhotoFirst) {
  WritableHudState()->work_mode = 1;
  CaptureStderr();
  ShutterRelease();
  EXPECT_EQ(GetCapturedStderr(), "set mode photo\nshot\n");
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display"});
  EXPECT_EQ(Sent(), Concat({kPhotoMode, kPhotoMode}, ShotFrames("30 00 00 00 00 91 00 01 00 A0")));
}

TEST_F(CaptureTest, ShutterOpensTheShieldEvenWhenTheShotModeSendsNothing) {
  WritableSharedConfig()->shield_enabled = 1;
  StartShield();
  CloseShield();
  ASSERT_EQ(GetHudState()->shield_closed, 1);
  WritableLinkState()->shot_mode = 2;
  WritableLinkState()->shot_submode = 3;
  const uint32_t before = FramesOut();
  CaptureStderr();
  ShutterRelease();
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("shot\n"), std::string::npos);
  EXPECT_EQ(GetHudState()->shield_closed, 0);
  EXPECT_EQ(FramesOut(), before);
  CloseShield();
  WritableSharedConfig()->shield_enabled = 0;
}

TEST_F(CaptureTest, ShutterDuringIntervalShootingStopsIt) {
  WritableLinkState()->shot_active = 1;
  CaptureStderr();
  ShutterRelease();
  EXPECT_EQ(GetCapturedStderr(), "stop interval shoting\n");
  const std::string press = "23 09>01 40 01:01 | 10 00 00 00 00 91 00 00 00 81";
  const std::string release = "23 09>01 40 01:01 | 00 00 00 00 00 91 00 00 00 91";
  EXPECT_EQ(Sent(), (Lines{press, release, press, release}));
}

TEST_F(CaptureTest, StopShotReleasesAtTheGimbalThenTheCamera) {
  CaptureStderr();
  StopShot();
  EXPECT_EQ(GetCapturedStderr(), "stop shot\n");
  EXPECT_EQ(Sent(), (Lines{kShotReleaseGimbal, kShotReleaseCamera}));
}

// Four rounds of (camera, gimbal) for each of the two frames.
Lines RecordFrames(const std::string& press) {
  const std::string release = "00 00 00 00 00 91 0D 00 00 9C";
  Lines out;
  for (const std::string& payload : {press, release}) {
    for (int i = 0; i < 4; ++i) {
      out.push_back("23 09>01 00 01:01 | " + payload);
      out.push_back("23 09>04 00 01:01 | " + payload);
    }
  }
  return out;
}

// Starting in photo mode switches to video first; stopping never switches.
TEST_F(CaptureTest, RecordingStartAndStop) {
  const Lines start = RecordFrames("0C 00 00 00 00 91 0D 00 00 90");
  const struct {
    uint8_t work_mode;
    int32_t value;
    const char* log;
    std::vector<std::string> shell;
    Lines frames;
  } cases[] = {
      {1, 1, "record start\n", {}, start},
      {0, 5, "set mode video\nrecord start\n", {"killall -q display"}, Concat({kVideoMode, kVideoMode}, start)},
      {1, 0, "record stop\n", {}, RecordFrames("04 00 00 00 00 91 0D 00 00 98")},
  };
  for (const auto& c : cases) {
    WritableHudState()->work_mode = c.work_mode;
    CaptureStderr();
    SetRecording(c.value);
    EXPECT_EQ(GetCapturedStderr(), c.log) << c.value;
    EXPECT_EQ(ShellTakeLog(), c.shell) << c.value;
    EXPECT_EQ(Sent(), c.frames) << c.value;
  }
}

TEST_F(CaptureTest, WorkModeRestartsTheDisplayOnlyOnAChange) {
  CaptureStderr();
  SetCameraWorkMode(0);
  EXPECT_TRUE(ShellTakeLog().empty());
  SetCameraWorkMode(1);
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display"});
  const uint32_t before = FramesOut();
  SetCameraWorkMode(2);  // no such mode: no frame
  EXPECT_EQ(FramesOut(), before);
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display"});
  EXPECT_EQ(GetCapturedStderr(), "set mode photo\nset mode video\n");
  EXPECT_EQ(Sent(), (Lines{kPhotoMode, kPhotoMode, kVideoMode, kVideoMode}));
}

TEST_F(CaptureTest, PhotoFormats) {
  CaptureStderr();
  SetPhotoFormat(1);
  SetPhotoFormat(0);
  SetPhotoFormat(2);
  SetPhotoFormat(3);
  EXPECT_EQ(GetCapturedStderr(), "set shot mode JPG\nset shot mode RAW\nset shot mode JPG+RAW\n");
  EXPECT_EQ(Sent(), (Lines{"14 02>01 40 02:16 | 01", "14 02>01 40 02:16 | 00", "14 02>01 40 02:16 | 02"}));
}

TEST_F(CaptureTest, VideoResolutionCodes) {
  const struct {
    int32_t width, height, rate;
    const char* codes;
  } rows[] = {
      {1920, 1080, 30, "0A 03"}, {1920, 1080, 29, "0A 00"}, {4096, 2160, 24, "16 01"}, {3840, 2160, 25, "10 02"},
      {2704, 1520, 30, "18 03"}, {1280, 720, 48, "04 04"},  {1280, 720, 50, "04 05"},  {1920, 1080, 60, "0A 06"},
      {1920, 1080, 120, "0A 07"}, {1080, 1920, 30, "00 03"}, {640, 480, 0, "00 00"},
  };
  CaptureStderr();
  for (const auto& row : rows) SetVideoResolution(row.width, row.height, row.rate);
  EXPECT_NE(GetCapturedStderr().find("set video resolution 1920x1080@29\n"), std::string::npos);
  Lines frames = Sent();
  ASSERT_EQ(frames.size(), 2 * std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(frames[2 * i], std::string("18 02>01 40 02:18 | ") + rows[i].codes + " 00 00 00");
    EXPECT_EQ(frames[2 * i + 1], std::string("15 02>01 40 02:AF | ") + rows[i].codes);
  }
}

TEST_F(CaptureLinkDownTest, CommandsAreLostButLoggedAndTheShieldStillOpens) {
  WritableSharedConfig()->shield_enabled = 1;
  StartShield();
  CloseShield();
  WritableHudState()->work_mode = 1;
  const uint32_t before = FramesOut();
  CaptureStderr();
  TakeShot();
  EXPECT_EQ(GetHudState()->shield_closed, 0);
  SetRecording(1);
  SetRecording(0);
  StopShot();
  StopIntervalShooting();
  SetPhotoFormat(0);
  SetVideoResolution(1920, 1080, 30);
  std::string log = GetCapturedStderr();
  for (const char* line : {"set mode photo\n", "shot\n", "record start\n", "record stop\n", "stop shot\n",
                           "stop interval shoting\n", "set shot mode RAW\n", "set video resolution 1920x1080@30\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  EXPECT_EQ(FramesOut(), before);
  CloseShield();
  WritableSharedConfig()->shield_enabled = 0;
}

}  // namespace
