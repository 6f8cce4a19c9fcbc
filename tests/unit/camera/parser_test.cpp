#include <string>

#include "camera_fixture.h"
#include "writable_records.h"

namespace {

class ParserEntry : public CameraLinkTest {
 protected:
  void SetUp() override {
    CameraLinkTest::SetUp();
    WritableLinkState()->link_up = 0;
  }
};

TEST_F(ParserEntry, FirstFrameOfAnyLengthBringsTheLinkUpOnce) {
  HudState* hud = WritableHudState();
  hud->camera_status_valid = 1;
  auto unknown = CameraMessage(30);
  testing::internal::CaptureStderr();
  Feed(unknown);
  Feed(unknown);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "data connected\n");
  EXPECT_EQ(GetLinkState()->link_up, 1);
  EXPECT_EQ(hud->data_connected, 1);
  EXPECT_EQ(hud->telemetry_connected, 1);
  EXPECT_EQ(hud->camera_status_valid, 0);
  EXPECT_EQ(GetSharedConfig()->camera_connected, 1);
  uint32_t age = MillisecondClock() - GetLinkState()->last_rx_ms;
  EXPECT_LT(age, 60000u);
}

TEST_F(ParserEntry, EveryFrameStampsItsArrival) {
  WritableLinkState()->link_up = 1;
  WritableLinkState()->last_rx_ms = 12345;
  Feed(CameraMessage(22));
  EXPECT_NE(GetLinkState()->last_rx_ms, 12345u);
}

// A keep-alive query: intact, it brings the link up and is answered at once.
std::vector<uint8_t> KeepAliveQuery() {
  std::vector<uint8_t> q(15);
  const uint8_t payload[2] = {0, 0};
  BuildFrame(q.data(), q.size(), 0x01, 0x09, 0x40, 0x09, 0x0E, 7, payload, 2);
  return q;
}

TEST_F(ParserEntry, DatagramsThatAreNotOneIntactFrameChangeNothing) {
  auto changed = [](size_t offset, uint8_t value) {
    auto q = KeepAliveQuery();
    q[offset] = value;
    return q;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> datagram;
  } cases[] = {
      {"length byte says 16 in 15 bytes", changed(1, 16)},
      {"frame checksum wrong", changed(14, static_cast<uint8_t>(KeepAliveQuery()[14] ^ 0x01))},
      {"payload changed under its checksum", changed(11, 0x47)},
      {"header checksum wrong", changed(3, 0x00)},
      {"start byte not 0x55", changed(0, 0xAA)},
      {"256 bytes", std::vector<uint8_t>(256, 0x00)},
      {"two frames back to back", [] {
         auto f = KeepAliveQuery();
         auto g = KeepAliveQuery();
         f.insert(f.end(), g.begin(), g.end());
         return f;
       }()},
      {"runt whose length byte matches", std::vector<uint8_t>{0x55, 0x05, 0x04, 0x00, 0x00}},
      {"one byte", std::vector<uint8_t>{0x55}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    ParseCameraDatagram(c.datagram.data(), static_cast<uint16_t>(c.datagram.size()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(GetLinkState()->link_up, 0);
    EXPECT_EQ(GetLinkState()->last_rx_ms, 0u);
  }
  ParseCameraDatagram(nullptr, 0);
  EXPECT_EQ(GetLinkState()->link_up, 0);
  EXPECT_TRUE(TakeFrames(camera_, 50, 150).empty());
  // The same query intact is answered: the cases above were refused for their flaw alone.
  testing::internal::CaptureStderr();
  Feed(KeepAliveQuery());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "data connected\n");
  EXPECT_EQ(TakeFrames(camera_).size(), 1u);
}

}  // namespace
