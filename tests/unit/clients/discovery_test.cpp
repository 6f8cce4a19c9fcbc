#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "clients/discovery.h"
#include "commands/dispatcher.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "platform/worker_pool.h"
#include "records/client_table.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/reset.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sockets.h"
#include "viewer_end.h"
#include "writable_records.h"

namespace {

class DiscoveryTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    if (DiscoverySocket() < 0) {
      uint16_t unused = 0;
      SetDiscoverySocket(OpenLoopbackUdp(&unused));
    }
    client_ = OpenLoopbackUdp(&port_);
  }
  void TearDown() override {
    close(client_);
    ClearClientTable();
  }
  // The message as the receive thread hands it over: followed by zero bytes.
  void Handle(std::vector<uint8_t> payload, uint32_t port = 0, const char* address = "127.0.0.1") {
    const int length = static_cast<int>(payload.size());
    payload.resize(kClientReceiveSize, 0);
    HandleClientMessage(payload.data(), length, address, port ? port : port_);
  }
  std::string Connected(const char* tail) {
    return "client connected from 127.0.0.1:" + std::to_string(port_) + " " + tail + "\n";
  }
  int client_ = -1;
  uint16_t port_ = 0;
};

// A repeated connect only switches the client's kind: no second log line or reply.
TEST_F(DiscoveryTest, FirstConnectLogsAndAcknowledgesOnce) {
  testing::internal::CaptureStderr();
  Handle({kMsgConnect, 1});
  Handle({kMsgConnect, 0});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), Connected("(only data)"));
  EXPECT_EQ(GetClientRow(0).flags, 0);
  auto got = ReceiveDatagrams(client_);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], Datagram{'B'});
}

TEST_F(DiscoveryTest, ConnectByteOneSelectsDataOnly) {
  const struct {
    uint8_t byte1;
    uint8_t flags;
    const char* tail;
  } cases[] = {{1, kClientDataOnly, "(only data)"}, {0, 0, " "}, {2, 0, " "}, {0xFF, 0, " "}};
  for (const auto& c : cases) {
    ClearClientTable();
    testing::internal::CaptureStderr();
    Handle({kMsgConnect, c.byte1});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), Connected(c.tail)) << int(c.byte1);
    EXPECT_EQ(GetClientRow(0).flags, c.flags) << int(c.byte1);
  }
  ReceiveDatagrams(client_, 50, 200);
}

TEST_F(DiscoveryTest, FullTableDropsTheConnectWithoutAReply) {
  for (int i = 0; i < kMaxClients; ++i) ASSERT_EQ(AddClient("127.0.0.9", 30000u + i, 0), 1);
  testing::internal::CaptureStderr();
  Handle({kMsgConnect, 0});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(ReceiveDatagrams(client_, 50, 200).empty());
}

TEST_F(DiscoveryTest, DisconnectLogsOnlyForARegisteredClient) {
  testing::internal::CaptureStderr();
  Handle({kMsgDisconnect});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  Handle({kMsgConnect, 0});
  testing::internal::CaptureStderr();
  Handle({kMsgDisconnect});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "client 127.0.0.1:" + std::to_string(port_) + " removed\n");
  EXPECT_EQ(GetClientRow(0).address[0], '\0');
}

TEST_F(DiscoveryTest, OwnLoopbackDatagramsAndEmptyOrUnknownPayloadsAreIgnored) {
  testing::internal::CaptureStderr();
  Handle({kMsgConnect, 0}, kDiscoveryPort);  // 127.0.0.1:4242 is the box itself
  Handle({}, 0);                              // no type byte at all
  Handle({2, 0, 0, 0}, 0);
  Handle({0x7F, 1}, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(GetClientRow(0).address[0], '\0');
  EXPECT_TRUE(ReceiveDatagrams(client_, 50, 200).empty());
}

// Gimbal control and attitude reach the camera as frames, whether or not the
// sender is registered.
class ClientMotionTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    camera_ = AttachCameraEnd(true);
    WritableMotionIntent()->gimbal_stopped = 1;
  }
  void TearDown() override {
    DetachCameraEnd(camera_);
    DiscoveryTest::TearDown();
  }
  CameraEnd camera_;
};

TEST_F(ClientMotionTest, GimbalControlSignExtendsItsValues) {
  Handle({kMsgGimbalControl, 0, 0xD4, 0xFE, 0xC2, 0x01, 0x55, 0x55});  // angle pan -300, tilt 450
  auto frames = TakeFrames(camera_);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(FrameText(frames[0]), "23 02>04 40 04:0A | D4 FE 00 00 C2 01 64 00 E0 04");

  Handle({kMsgGimbalControl, 1, 0xD4, 0xFE, 0x02, 0x00});  // speed pan -300, tilt 2
  EXPECT_EQ(GetMotionIntent()->client_pan_speed, -300);
  EXPECT_EQ(GetMotionIntent()->client_tilt_speed, 2);

  Handle({kMsgGimbalControl, 2, 0xFD, 0xFF, 0xFF, 0xFF});  // a = -3: optical zoom, b = -1: out
  frames = TakeFrames(camera_);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(FrameText(frames[0]), "17 02>01 40 02:B8 | 01 48 00 00");
  EXPECT_EQ(GetMotionIntent()->optical_zoom_direction, -1);
}

// The client speed belongs to the viewer that set it: that viewer's goodbye
// or expiry takes it back (one stop frame), anyone else's changes nothing.
TEST_F(ClientMotionTest, AViewersSpeedEndsWithThatViewerOnly) {
  const std::vector<uint8_t> pan300 = {kMsgGimbalControl, 1, 0x2C, 0x01, 0x00, 0x00};
  const std::vector<uint8_t> pan200 = {kMsgGimbalControl, 1, 0xC8, 0x00, 0x00, 0x00};
  const std::string stop = "20 02>04 40 04:0C | 00 00 00 00 00 00 90";
  Handle({kMsgConnect, 1}, 40001, "127.0.0.2");
  Handle({kMsgConnect, 1}, 40002, "127.0.0.3");

  Handle(pan300, 40001, "127.0.0.2");
  Handle({kMsgDisconnect}, 40002, "127.0.0.3");
  ReleaseViewerMotion("127.0.0.2", 40009);  // same host, another viewer
  ReleaseViewerMotion("127.0.0.4", 40001);
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 300);
  EXPECT_TRUE(TakeFrames(camera_, 50, 100).empty());
  ReleaseViewerMotion("127.0.0.2", 40001);  // as expiry does
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 0);
  EXPECT_EQ(GetMotionIntent()->client_pan_speed, 0);
  auto frames = TakeFrames(camera_);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(FrameText(frames[0]), stop);

  // The last viewer to set a speed owns it; the RC's share stays.
  WritableMotionIntent()->rc_pan_speed = 40;
  Handle({kMsgConnect, 1}, 40002, "127.0.0.3");
  Handle(pan300, 40001, "127.0.0.2");
  Handle(pan200, 40002, "127.0.0.3");
  Handle({kMsgDisconnect}, 40001, "127.0.0.2");
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 240);
  Handle({kMsgDisconnect}, 40002, "127.0.0.3");
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 40);
  EXPECT_EQ(GetMotionIntent()->client_pan_speed, 0);
  EXPECT_EQ(GetMotionIntent()->client_speed_driver.id.load(), 0u);

  // A sender that holds no row (it said goodbye) has its speed on a lease.
  Handle(pan300, 40001, "127.0.0.2");
  EXPECT_EQ(GetMotionIntent()->client_speed_driver.id.load(),
            LeasedMotionDriver(ViewerMotionDriver("127.0.0.2", 40001)));
  EndLapsedMotions(GetMotionIntent()->client_speed_driver.set_ms + kLeasedMotionMs);
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 40);
}

// A JSON command that starts a motion carries its viewer through the worker
// pool: that viewer's goodbye stops the motion (with the frames a stop sends),
// another viewer's changes nothing, and the same command from the mailbox has
// no viewer to end it: it lapses unless repeated.
TEST_F(ClientMotionTest, JsonMotionsEndWithTheViewerThatStartedThem) {
  const struct {
    const char* command;
    const char* stop_command;
    const std::atomic<int32_t>& value;
    std::vector<std::string> stop;
  } cases[] = {
      {R"({"cmd":"position","param":"moverel","value1":"500","value2":"-300"})",
       R"({"cmd":"position","param":"moverel","value1":"0","value2":"0"})", GetMotionIntent()->pan_speed_wanted,
       {"20 02>04 40 04:0C | 00 00 00 00 00 00 90"}},
      {R"({"cmd":"zoom","param":"-2","value1":"3"})", R"({"cmd":"zoom","param":"-2","value1":"0"})",
       GetMotionIntent()->zoom_speed, {}},
      {R"({"cmd":"zoom","param":"-3","value1":"1"})", R"({"cmd":"zoom","param":"-3","value1":"0"})",
       GetMotionIntent()->optical_zoom_direction,
       {"17 02>01 40 02:B8 | 00 48 00 00", "17 02>01 40 02:B8 | FF 48 00 00"}},
  };
  Handle({kMsgConnect, 1}, 40001, "127.0.0.2");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const std::string text = c.command;
    Handle({kMsgConnect, 1}, 40001, "127.0.0.2");
    Handle(std::vector<uint8_t>(text.begin(), text.end()), 40001, "127.0.0.2");
    WaitForIdleWorkers();
    ASSERT_NE(c.value.load(), 0);
    TakeFrames(camera_, 50, 100);
    Handle({kMsgDisconnect}, 40002, "127.0.0.2");
    ReleaseViewerMotion("127.0.0.3", 40001);
    EXPECT_NE(c.value.load(), 0);
    Handle({kMsgDisconnect}, 40001, "127.0.0.2");
    EXPECT_EQ(c.value.load(), 0);
    std::vector<std::string> sent;
    for (const SentFrame& f : TakeFrames(camera_, 50, 200)) sent.push_back(FrameText(f));
    EXPECT_EQ(sent, c.stop);

    RunCommandText(text.c_str(), static_cast<int>(text.size()), kMailboxMotionDriver);
    ReleaseViewerMotion("127.0.0.2", 40001);
    EXPECT_NE(c.value.load(), 0);
    EndLapsedMotions(MillisecondClock() + kLeasedMotionMs);
    EXPECT_EQ(c.value.load(), 0);
    TakeFrames(camera_, 50, 100);
  }
}

TEST_F(ClientMotionTest, UnknownGimbalSelectorDoesNothing) {
  Handle({kMsgGimbalControl, 3, 0x10, 0x00, 0x10, 0x00});
  EXPECT_TRUE(TakeFrames(camera_, 50, 200).empty());
}

std::vector<float> AttitudeFloats(const SentFrame& f) {
  std::vector<float> q;
  for (int i = 0; i < 4; ++i) {
    float v;
    std::memcpy(&v, f.payload.data() + 4 * i, 4);
    q.push_back(v);
  }
  return q;
}

TEST_F(ClientMotionTest, AttitudeValuesAreScaledBy32767) {
  // Bytes 1-2 unused, then 32767, -32768, 16384, 0; the frame carries q4 first.
  Handle({kMsgAttitude, 0xAA, 0xAA, 0xFF, 0x7F, 0x00, 0x80, 0x00, 0x40, 0x00, 0x00});
  auto frames = TakeFrames(camera_);
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_GE(frames[0].payload.size(), 16u);
  auto q = AttitudeFloats(frames[0]);
  EXPECT_EQ(q[0], 0.0f);
  EXPECT_EQ(q[1], 1.0f);
  EXPECT_FLOAT_EQ(q[2], -1.0000305f);
  EXPECT_FLOAT_EQ(q[3], 16384.0f / 32767.0f);
}

}  // namespace
