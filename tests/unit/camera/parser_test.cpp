#include <string>

#include "camera_fixture.h"

namespace {

class ParserEntry : public CameraLinkTest {
 protected:
  void SetUp() override {
    CameraLinkTest::SetUp();
    GetCameraLink()->link_up = 0;
  }
};

TEST_F(ParserEntry, FirstFrameOfAnyLengthBringsTheLinkUpOnce) {
  HudState* hud = GetHudState();
  hud->camera_status_valid = 1;
  auto unknown = CameraMessage(30);
  testing::internal::CaptureStderr();
  Feed(unknown);
  Feed(unknown);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "data connected\n");
  EXPECT_EQ(GetCameraLink()->link_up, 1);
  EXPECT_EQ(hud->data_connected, 1);
  EXPECT_EQ(hud->telemetry_connected, 1);
  EXPECT_EQ(hud->camera_status_valid, 0);
  EXPECT_EQ(GetSharedConfig()->camera_connected, 1);
  uint32_t age = MillisecondClock() - GetCameraLink()->last_rx_ms;
  EXPECT_LT(age, 60000u);
}

TEST_F(ParserEntry, EveryFrameStampsItsArrival) {
  GetCameraLink()->link_up = 1;
  GetCameraLink()->last_rx_ms = 12345;
  Feed(CameraMessage(22));
  EXPECT_NE(GetCameraLink()->last_rx_ms, 12345u);
}

TEST_F(ParserEntry, DatagramsThatAreNotExactlyOneFrameAreDropped) {
  struct Case {
    const char* name;
    std::vector<uint8_t> datagram;
  } cases[] = {
      {"length byte says 15 in 14 bytes", [] {
         auto f = CameraMessage(14);
         f[1] = 15;
         return f;
       }()},
      {"256 bytes", std::vector<uint8_t>(256, 0x00)},
      {"two frames back to back", [] {
         auto f = CameraMessage(22);
         auto g = CameraMessage(22);
         f.insert(f.end(), g.begin(), g.end());
         return f;
       }()},
      {"one byte", std::vector<uint8_t>{0x55}},
  };
  cases[1].datagram[1] = 0x00;  // 256 cannot be said in one byte
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    Feed(c.datagram);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(GetCameraLink()->link_up, 0);
  }
  ParseCameraDatagram(nullptr, 0);
  EXPECT_EQ(GetCameraLink()->link_up, 0);
}

TEST_F(ParserEntry, ShortRunsOfBytesOnlyCountAsLinkActivity) {
  // A datagram whose length byte matches but is too short to be a frame keeps
  // the link alive and is otherwise ignored.
  const uint8_t runt[5] = {0x55, 0x05, 0x04, 0x00, 0x00};
  testing::internal::CaptureStderr();
  ParseCameraDatagram(runt, sizeof runt);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "data connected\n");
  EXPECT_EQ(GetCameraLink()->link_up, 1);
  EXPECT_TRUE(TakeFrames(camera_, 50, 150).empty());
}

}  // namespace
