#include <string>

#include "camera/settings_message.h"
#include "camera_fixture.h"
#include "platform/worker_pool.h"
#include "writable_records.h"

namespace {

std::vector<uint8_t> Settings(std::initializer_list<std::pair<size_t, uint8_t>> bytes, size_t length = 85) {
  return CameraMessage(length, bytes);
}

class SettingsMessage : public CameraLinkTest {};

TEST_F(SettingsMessage, FillsTheRecordAndSendsTheSettingsRecordAndZoomLevel) {
  WritableMotionIntent()->zoom_level = 42;
  Feed(Settings({{13, 0x64}, {14, 0x80}, {15, 0x00}, {16, 0x16}, {17, 7},    {21, 0x21}, {23, 0x23},
                 {24, 1},    {25, 3},    {31, 0x31}, {34, 0x34}, {35, 0x35}, {38, 0xFF}, {39, 0x00},
                 {42, 0x42}, {43, 0x43}, {49, 0x18}, {50, 0x01}, {51, 1},    {52, 2},    {53, 3},
                 {54, 0x54}, {55, 0x55}, {66, 0x03}, {67, 0x67}, {68, 2}}));
  HudState* hud = WritableHudState();
  EXPECT_EQ(hud->shutter_code, 0x8064u);
  EXPECT_EQ(GetLinkState()->shutter_index, 37);
  EXPECT_EQ(GetLinkState()->known_shutter_index.load(), 37);
  EXPECT_EQ(hud->settings_byte16, 0x16);
  EXPECT_EQ(hud->exposure_compensation, -30);
  EXPECT_EQ(hud->settings_byte21, 0x21);
  EXPECT_EQ(hud->settings_byte23, 0x23);
  EXPECT_EQ(hud->video_format_a, 1);
  EXPECT_EQ(hud->video_format_b, 3);
  EXPECT_EQ(hud->settings_byte31, 0x31);
  EXPECT_EQ(hud->settings_byte34, 0x34);
  EXPECT_EQ(hud->settings_byte35, 0x35);
  EXPECT_EQ(hud->settings_code38, 2);
  EXPECT_EQ(hud->settings_byte42, 0x42);
  EXPECT_EQ(hud->settings_byte43, 0x43);
  EXPECT_DOUBLE_EQ(hud->aperture, 2.8);
  EXPECT_EQ(GetLinkState()->aperture_index, 5);
  EXPECT_EQ(GetLinkState()->known_aperture_index.load(), 5);
  EXPECT_EQ(hud->settings_value51, 0x030201u);
  EXPECT_EQ(hud->settings_value54, 0x5554);
  EXPECT_EQ(hud->settings_flag66, 1);
  EXPECT_EQ(hud->settings_byte67, 0x67);
  EXPECT_EQ(hud->shot_mode, 0);
  EXPECT_EQ(hud->shot_submode, 2);

  auto payloads = TakeViewerPayloads(viewer_);
  ASSERT_EQ(payloads.size(), 2u);
  EXPECT_EQ(HexBytes(payloads[0]),
            "02 31 21 02 42 E2 34 01 03 35 54 55 64 80 00 67 16 18 01 01 43 01 02 03 23 00 02 00 00 00 00");
  EXPECT_EQ(HexBytes(payloads[1]), "03 2A 00 00 00 00 00");
}

TEST(SettingsCodes, Code38) {
  EXPECT_EQ(Code38Value(0xFF), 2);
  EXPECT_EQ(Code38Value(0x100), 3);
  EXPECT_EQ(Code38Value(0x101), 1);
  EXPECT_EQ(Code38Value(0x102), 0);
  EXPECT_EQ(Code38Value(0), 0);
}

TEST_F(SettingsMessage, UnknownShutterAndApertureKeepTheirIndexes) {
  Feed(Settings({{13, 0x64}, {14, 0x80}, {49, 0x18}, {50, 0x01}}));
  Feed(Settings({{13, 0x65}, {14, 0x80}, {49, 0x19}, {50, 0x01}}));
  EXPECT_EQ(GetHudState()->shutter_code, 0x8065u);
  EXPECT_EQ(GetLinkState()->shutter_index, 37);
  EXPECT_EQ(GetLinkState()->known_shutter_index.load(), 37);
  EXPECT_DOUBLE_EQ(GetHudState()->aperture, 2.81);
  EXPECT_EQ(GetLinkState()->aperture_index, 5);
  EXPECT_EQ(GetLinkState()->known_aperture_index.load(), 5);
  // The aperture is signed; the viewers get its two bytes as they came.
  Feed(Settings({{49, 0xFF}, {50, 0xFF}}));
  EXPECT_DOUBLE_EQ(GetHudState()->aperture, -0.01);
  auto records = ViewerMessages(2);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(HexBytes({records[2].begin() + 17, records[2].begin() + 19}), "FF FF");
}

TEST_F(SettingsMessage, VideoFormatChangeRestartsTheDisplay) {
  struct Step {
    uint8_t a, b;
    bool restarts;
  } steps[] = {
      {1, 3, false},  // the very first pair is only stored
      {1, 3, false},  // unchanged
      {1, 2, true},
      {0, 2, true},   // a change to a pair holding 0 still counts
      {1, 2, false},  // the stored pair holds 0: only stored
      {4, 2, true},
  };
  for (const Step& s : steps) {
    testing::internal::CaptureStderr();
    Feed(Settings({{24, s.a}, {25, s.b}}));
    WaitForIdleWorkers();  // the display is ended from a worker, never the receive thread
    std::string log = testing::internal::GetCapturedStderr();
    auto commands = ShellTakeLog();
    SCOPED_TRACE(std::to_string(s.a) + "," + std::to_string(s.b));
    if (s.restarts) {
      EXPECT_EQ(log, "video format changed\n");
      ASSERT_EQ(commands.size(), 1u);
      EXPECT_EQ(commands[0], "killall -q display &");
    } else {
      EXPECT_EQ(log, "");
      EXPECT_TRUE(commands.empty());
    }
  }
}

TEST_F(SettingsMessage, ShotModeFollowsByte68AndItsCompanions) {
  constexpr uint8_t K = 9;  // marks "kept"
  struct Row {
    std::initializer_list<std::pair<size_t, uint8_t>> bytes;
    uint8_t mode, submode;
  } rows[] = {
      {{{68, 1}}, 0, 0},
      {{{68, 2}}, 0, 2},
      {{{68, 3}}, K, K},
      {{{68, 4}, {44, 3}}, 1, 0},
      {{{68, 4}, {44, 5}}, 1, 1},
      {{{68, 4}, {44, 7}}, 1, 2},
      {{{68, 4}, {44, 4}}, 1, K},
      {{{68, 5}, {71, 3}}, 1, 3},
      {{{68, 5}, {71, 5}}, 1, 4},
      {{{68, 5}, {71, 1}}, 1, K},
      {{{68, 6}, {45, 0}, {46, 1}}, 0, 1},
      {{{68, 6}, {45, 0}, {46, 0xFF}, {47, 10}}, 2, 0},
      {{{68, 6}, {45, 0}, {46, 0xFF}, {47, 30}}, 2, 1},
      {{{68, 6}, {45, 0}, {46, 0xFF}, {47, 20}}, 2, K},
      {{{68, 6}, {45, 2}}, 4, K},
      {{{68, 6}, {45, 1}}, K, K},
      {{{68, 7}, {72, 1}}, 3, 1},
      {{{68, 7}, {72, 3}}, 3, 2},
      {{{68, 7}, {72, 4}}, 3, 3},
      {{{68, 7}, {72, 5}}, 3, 0},
      {{{68, 7}, {72, 7}}, 3, 4},
      {{{68, 7}, {72, 2}}, 3, K},
      {{{68, 0}}, K, K},
      {{{68, 8}}, K, K},
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(n++);
    WritableLinkState()->shot_mode = K;
    WritableLinkState()->shot_submode = K;
    Feed(Settings(r.bytes));
    EXPECT_EQ(GetLinkState()->shot_mode, r.mode);
    EXPECT_EQ(GetLinkState()->shot_submode, r.submode);
    EXPECT_EQ(GetHudState()->shot_mode, r.mode);
    EXPECT_EQ(GetHudState()->shot_submode, r.submode);
  }
}

TEST_F(SettingsMessage, TimelapseTimesComeOnlyFromTheLongMessage) {
  // 1234 tenths -> interval 123; duration 600.
  Feed(Settings({{68, 6}, {45, 2}, {86, 0xD2}, {87, 0x04}, {88, 0x58}, {89, 0x02}}, 104));
  EXPECT_EQ(GetHudState()->shot_mode, 4);
  EXPECT_EQ(GetHudState()->timelapse_interval, 123);
  EXPECT_EQ(GetHudState()->timelapse_duration, 600);
  // The short message ends before those bytes: the times are kept.
  Feed(Settings({{68, 6}, {45, 2}}, 85));
  EXPECT_EQ(GetHudState()->shot_mode, 4);
  EXPECT_EQ(GetHudState()->timelapse_interval, 123);
  EXPECT_EQ(GetHudState()->timelapse_duration, 600);
  auto records = ViewerMessages(2);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(HexBytes({records[1].begin() + 25, records[1].end()}), "04 00 7B 00 58 02");
}

}  // namespace
