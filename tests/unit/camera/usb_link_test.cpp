#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "camera_fixture.h"
#include "platform/arrival_interface.h"
#include "records/usb_peer.h"
#include "writable_records.h"

namespace {

class DataSource : public testing::Test {
 protected:
  void SetUp() override {
    ResetCameraState();
    SetUsbSocket(-1);
  }
  std::string Start() {
    testing::internal::CaptureStderr();
    StartDataSource();
    return testing::internal::GetCapturedStderr();
  }
};

TEST_F(DataSource, ReadsTheModesAndResetsTheLinkWithoutControl) {
  struct Case {
    uint8_t device_mode, cooperative_mode;
    uint32_t source_mode, cooperative;
    const char* log;
  } cases[] = {
      {0, 0, 0, 0, "Init data source\nMode: Osmo\nCooperative mode: False\n"},
      {1, 1, 1, 1, "Init data source\nMode: Inspire\nCooperative mode: True\n"},
      {2, 2, 0, 0, "Init data source\n"},  // works as Osmo, prints no mode lines
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    WritableLinkState()->source_mode = 1 - c.source_mode;
    WritableLinkState()->cooperative = 1 - c.cooperative;
    WritableLinkState()->link_up = 1;
    WritableLinkState()->last_rx_ms = 77;
    HudState* hud = WritableHudState();
    hud->telemetry_connected = hud->data_connected = hud->hud_visible = hud->camera_status_valid = 1;
    digitalWrite(kRecordingIndicatorPin, HIGH);
    SharedConfig* config = WritableSharedConfig();
    config->device_mode = c.device_mode;
    config->cooperative_mode = c.cooperative_mode;
    config->control_enabled = 0;

    EXPECT_EQ(Start(), c.log);
    EXPECT_EQ(GetLinkState()->source_mode, c.source_mode);
    EXPECT_EQ(GetLinkState()->cooperative, c.cooperative);
    EXPECT_EQ(GetLinkState()->link_up, 0);
    EXPECT_EQ(GetLinkState()->last_rx_ms, 0u);
    EXPECT_EQ(hud->telemetry_connected + hud->data_connected + hud->hud_visible + hud->camera_status_valid, 0);
    EXPECT_EQ(GpioSimMode(kRecordingIndicatorPin), OUTPUT);
    EXPECT_EQ(GpioSimLevel(kRecordingIndicatorPin), LOW);
    EXPECT_EQ(UsbSocket(), -1);  // no socket without camera control
  }
}

// One keep-alive query as the camera sends it.
std::vector<uint8_t> KeepAlive(uint16_t sequence) {
  std::vector<uint8_t> q(15);
  const uint8_t payload[2] = {0, 0};
  BuildFrame(q.data(), q.size(), 0x01, 0x09, 0x40, 0x09, 0x0E, sequence, payload, 2);
  return q;
}

// The real socket and receive thread, on a free port instead of 5001.
TEST_F(DataSource, ReceiveThreadParsesFramesAndAnswersWhereTheyCameFrom) {
  SharedConfig* config = WritableSharedConfig();
  config->control_enabled = 1;
  SetUsbDataBindPort(0);
  SetCameraInterface("lo");  // the camera's link, here
  EXPECT_EQ(Start(), "Init data source\nMode: Osmo\nCooperative mode: False\nInit USB data\n");
  SetUsbDataBindPort(kUsbDataPort);
  ASSERT_GE(UsbSocket(), 0);
  sockaddr_in bound{};
  socklen_t bound_length = sizeof bound;
  ASSERT_EQ(getsockname(UsbSocket(), reinterpret_cast<sockaddr*>(&bound), &bound_length), 0);
  EXPECT_EQ(bound.sin_addr.s_addr, htonl(INADDR_ANY));
  const uint16_t box_port = ntohs(bound.sin_port);
  ASSERT_NE(box_port, 0);

  uint16_t first_port = 0, second_port = 0;
  int first = OpenLoopbackUdp(&first_port);
  int second = OpenLoopbackUdp(&second_port);

  auto query = KeepAlive(0x0102);
  SendTo(first, box_port, query.data(), query.size());
  auto answers = ReceiveDatagrams(first, 100, 5000);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].size(), 14u);
  EXPECT_EQ(GetU16(answers[0].data() + 6), 0x0102);
  EXPECT_EQ(GetLinkState()->link_up, 1);
  EXPECT_EQ(GetHudState()->data_connected, 1);

  // A datagram that is not one whole frame gets no answer.
  auto broken = KeepAlive(3);
  broken[1] = 16;
  SendTo(first, box_port, broken.data(), broken.size());
  EXPECT_TRUE(ReceiveDatagrams(first, 50, 300).empty());

  // Junk from another port, empty datagrams among it, neither stalls the
  // receive thread nor diverts the answers: the next query is answered at once
  // and where it came from.
  auto bad_checksum = KeepAlive(4);
  bad_checksum[14] ^= 0xFF;
  for (int i = 0; i < 20; ++i) SendTo(second, box_port, nullptr, 0);
  SendTo(second, box_port, bad_checksum.data(), bad_checksum.size());
  SendTo(second, box_port, "x", 1);
  query = KeepAlive(0x0104);
  SendTo(first, box_port, query.data(), query.size());
  answers = ReceiveDatagrams(first, 100, 5000);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(GetU16(answers[0].data() + 6), 0x0104);
  EXPECT_TRUE(ReceiveDatagrams(second, 50, 100).empty());

  // The camera's source port changes: the next answer follows it.
  query = KeepAlive(0x0203);
  SendTo(second, box_port, query.data(), query.size());
  answers = ReceiveDatagrams(second, 100, 5000);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(GetU16(answers[0].data() + 6), 0x0203);
  EXPECT_TRUE(ReceiveDatagrams(first, 50, 100).empty());

  // Leave the process-wide socket as other tests expect it.
  SetUsbSocket(-1);
  WritableLinkState()->link_up = 0;
  close(first);
  close(second);
}

}  // namespace
