#include <cmath>
#include <ctime>
#include <limits>
#include <string>

#include "camera/supervision.h"
#include "camera_fixture.h"
#include "writable_records.h"

namespace {

class Supervision : public CameraLinkTest {
 protected:
  void SetUp() override {
    CameraLinkTest::SetUp();
    WritableLinkState()->date_sync_pending = 0;
    CopyTextField(WritableHudState()->title, sizeof GetHudState()->title, "Vantagebridge Cable Basic");
    CopyTextField(WritableHudState()->version_text, sizeof GetHudState()->version_text, "v.0.14.10");
  }
  void TearDown() override {
    WritableLinkState()->date_sync_pending = 1;
    CameraLinkTest::TearDown();
  }
  void LastFrameAgo(uint32_t ms) { WritableLinkState()->last_rx_ms = MillisecondClock() - ms; }
  std::string Step() {
    testing::internal::CaptureStderr();
    SuperviseCameraLink();
    return testing::internal::GetCapturedStderr();
  }
  // The link-state messages the viewer got, as "state" numbers.
  std::vector<int> LinkStates() {
    std::vector<int> states;
    for (auto& m : ViewerMessages(5)) {
      EXPECT_EQ(m.size(), 7u);
      EXPECT_EQ(m[1], 0);  // the camera data link
      states.push_back(m[2]);
    }
    return states;
  }
  std::vector<SentFrame> DateFrames() {
    std::vector<SentFrame> out;
    for (auto& f : TakeFrames(camera_, 50, 200)) {
      if (f.set == 0x02 && f.id == 0x54) out.push_back(f);
    }
    return out;
  }
};

TEST_F(Supervision, LinkStaysUpWithinASecondAndDropsAfterIt) {
  HudState* hud = WritableHudState();
  WritableSharedConfig()->hud_enabled = 1;
  WritableSharedConfig()->camera_connected = 1;
  hud->data_connected = hud->telemetry_connected = hud->camera_status_valid = 1;
  LastFrameAgo(500);
  EXPECT_EQ(Step(), "");
  EXPECT_EQ(GetLinkState()->link_up, 1);
  EXPECT_STREQ(hud->telemetry_text, "");
  EXPECT_EQ(hud->hud_visible, 1);
  EXPECT_EQ(hud->title[0], 0);
  EXPECT_EQ(hud->version_text[0], 0);
  EXPECT_EQ(LinkStates(), std::vector<int>{2});

  LastFrameAgo(1001);
  EXPECT_EQ(Step(), "data disconnected\n");
  EXPECT_EQ(GetLinkState()->link_up, 0);
  EXPECT_EQ(hud->data_connected, 0);
  EXPECT_EQ(hud->telemetry_connected, 0);
  EXPECT_EQ(hud->camera_status_valid, 0);
  EXPECT_EQ(GetSharedConfig()->camera_connected, 0);
  EXPECT_STREQ(hud->telemetry_text, "telemetry disconnected");
  EXPECT_EQ(hud->hud_visible, 0);
  EXPECT_EQ(Step(), "");  // reported once
  EXPECT_EQ(LinkStates(), (std::vector<int>{0, 0}));
}

TEST_F(Supervision, LinkThatNeverCameUpReportsDisconnectedEverySecond) {
  HudState* hud = WritableHudState();
  WritableLinkState()->link_up = 0;
  WritableLinkState()->last_rx_ms = 0;
  WritableSharedConfig()->hud_enabled = 1;
  hud->hud_visible = 1;
  EXPECT_EQ(Step(), "");
  LastFrameAgo(10);  // a silence shorter than a second does not make it up
  EXPECT_EQ(Step(), "");
  EXPECT_STREQ(hud->telemetry_text, "telemetry disconnected");
  EXPECT_EQ(hud->hud_visible, 0);
  EXPECT_STREQ(hud->title, "Vantagebridge Cable Basic");
  EXPECT_EQ(LinkStates(), (std::vector<int>{0, 0}));
}

TEST_F(Supervision, HudVisibilityIsLeftAloneWhenTheHudIsDisabled) {
  WritableSharedConfig()->hud_enabled = 0;
  LastFrameAgo(0);
  WritableHudState()->hud_visible = 1;
  Step();
  EXPECT_EQ(GetHudState()->hud_visible, 1);
  WritableHudState()->hud_visible = 0;
  Step();
  EXPECT_EQ(GetHudState()->hud_visible, 0);
}

TEST_F(Supervision, CameraClockIsSetEverySecondUntilTheTimeCommand) {
  WritableLinkState()->date_sync_pending = 1;
  WritableLinkState()->link_up = 0;
  LastFrameAgo(0);
  Step();
  EXPECT_TRUE(DateFrames().empty()) << "no clock frame while the link is down";
  WritableLinkState()->link_up = 1;
  int day, month, year, hour, minute, second;
  LocalDateTime(&day, &month, &year, &hour, &minute, &second);
  LastFrameAgo(0);
  Step();
  auto frames = DateFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].raw.size(), 20u);
  EXPECT_EQ(frames[0].sender, 0x02);
  EXPECT_EQ(frames[0].receiver, 0x01);
  ASSERT_EQ(frames[0].payload.size(), 7u);
  EXPECT_EQ(GetU16(frames[0].payload.data()), year);

  LastFrameAgo(0);
  Step();
  EXPECT_EQ(DateFrames().size(), 1u);

  WritableLinkState()->date_sync_pending = 0;
  LastFrameAgo(0);
  Step();
  EXPECT_TRUE(DateFrames().empty());
}

TEST_F(Supervision, TimeFromAnotherProcessSetsTheCameraClock) {
  HudState* hud = WritableHudState();
  // Before and after 2038, when 32-bit seconds run out.
  for (const int64_t t : {int64_t{1700000000}, int64_t{2240524800}}) {
    hud->time_source_count = 2;
    hud->time_source_value = static_cast<double>(t) + 0.75;
    LastFrameAgo(0);
    Step();
    auto frames = DateFrames();
    ASSERT_EQ(frames.size(), 1u) << t;
    time_t when = static_cast<time_t>(t);
    tm parts{};
    localtime_r(&when, &parts);
    const uint8_t expected[7] = {static_cast<uint8_t>((parts.tm_year + 1900) & 0xFF),
                                 static_cast<uint8_t>((parts.tm_year + 1900) >> 8),
                                 static_cast<uint8_t>(parts.tm_mon + 1),
                                 static_cast<uint8_t>(parts.tm_mday),
                                 static_cast<uint8_t>(parts.tm_hour),
                                 static_cast<uint8_t>(parts.tm_min),
                                 static_cast<uint8_t>(parts.tm_sec)};
    EXPECT_EQ(frames[0].payload, std::vector<uint8_t>(expected, expected + 7)) << t;
    EXPECT_GE(parts.tm_year + 1900, t > 2147483647 ? 2040 : 2023);
  }

  hud->time_source_count = 1;
  LastFrameAgo(0);
  Step();
  EXPECT_TRUE(DateFrames().empty());

  // A value that is no time at all is not sent.
  hud->time_source_count = 5;
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300}) {
    hud->time_source_value = bad;
    LastFrameAgo(0);
    Step();
    EXPECT_TRUE(DateFrames().empty()) << bad;
  }
}

TEST_F(Supervision, StateCommandGoesOutOncePerRun) {
  HudState* hud = WritableHudState();
  hud->camera_status_valid = 1;
  hud->camera_state = 11;
  hud->settings_flag66 = 0;
  LastFrameAgo(0);
  Step();
  auto frames = TakeFrames(camera_);
  ASSERT_EQ(frames.size(), 3u);
  for (auto& f : frames) EXPECT_EQ(FrameText(f), "14 02>01 40 02:66 | 00");
  EXPECT_EQ(GetLinkState()->state_action_done, 1);
  LastFrameAgo(0);
  Step();
  EXPECT_TRUE(TakeFrames(camera_, 50, 150).empty());

  WritableLinkState()->state_action_done = 0;
  hud->settings_flag66 = 1;
  LastFrameAgo(0);
  Step();
  frames = TakeFrames(camera_);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(FrameText(frames[0]), "14 02>01 40 02:66 | 01");
}

TEST_F(Supervision, StateCommandNeedsAValidStatusOfState11) {
  HudState* hud = WritableHudState();
  struct Case {
    uint8_t valid, state;
  } cases[] = {{0, 11}, {1, 10}, {1, 12}};
  for (auto c : cases) {
    hud->camera_status_valid = c.valid;
    hud->camera_state = c.state;
    LastFrameAgo(0);
    Step();
    EXPECT_TRUE(TakeFrames(camera_, 50, 150).empty());
    EXPECT_EQ(GetLinkState()->state_action_done, 0);
  }
}

TEST_F(Supervision, DataBlockExpiresAfterFiveSeconds) {
  HudState* hud = WritableHudState();
  LastFrameAgo(0);
  hud->camera_data64_ms = MillisecondClock() - 4000;
  Step();
  EXPECT_NE(hud->camera_data64_ms, 0u);
  hud->camera_data64_ms = MillisecondClock() - 5001;
  Step();
  EXPECT_EQ(hud->camera_data64_ms, 0u);
}

// Each field read back is checked through the clock frames above.
TEST(FormatTimeField, AFieldThatDoesNotFitIsMinusOne) {
  EXPECT_EQ(FormatTimeField(1000000000, ""), -1);
  EXPECT_EQ(FormatTimeField(1000000000, "%Y%m%d"), -1);
}

}  // namespace
