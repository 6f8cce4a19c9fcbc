#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "clients/video_source.h"
#include "platform/arrival_interface.h"
#include "records/client_table.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "records/viewer_protocol.h"
#include "viewer_end.h"
#include "writable_records.h"

namespace {

class VideoLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    SetNextDatagramNumber(0);
    SetVideoSendActive(false);
    std::memset(WritableHudState()->video_text, 'x', sizeof GetHudState()->video_text);
  }
  void TearDown() override { ClearClientTable(); }

  static void SetFlowing(uint32_t last_ms) {
    WritableLinkState()->video_flowing = 1;
    WritableLinkState()->last_video_ms = last_ms;
    WritableHudState()->video_connected = 1;
    WritableSharedConfig()->camera_connected = 1;
  }
};

TEST_F(VideoLinkTest, BeforeAnyVideoEverySecondSaysDisconnected) {
  ViewerEnd v = AttachViewer(true);
  testing::internal::CaptureStderr();
  CheckVideoTimeoutAt(123456);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // nothing was flowing
  EXPECT_STREQ(GetHudState()->video_text, "video disconnected");
  auto got = TakeViewerPayloads(v);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], (Datagram{5, 1, 0, 0, 0, 0, 0}));
  DetachViewer(v);
}

// Exactly three seconds keep the link, more drop it, counted across the
// clock's wrap; the loss is reported once.
TEST_F(VideoLinkTest, MoreThanThreeSecondsDropsTheLink) {
  ViewerEnd v = AttachViewer();
  SetFlowing(0xFFFFFC00u);
  testing::internal::CaptureStderr();
  CheckVideoTimeoutAt(0xFFFFFC00u + 3000u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(GetLinkState()->video_flowing, 1);
  EXPECT_EQ(GetSharedConfig()->camera_connected, 1);
  EXPECT_STREQ(GetHudState()->video_text, "");
  EXPECT_EQ(TakeViewerPayloads(v), (std::vector<Datagram>{{5, 1, 2, 0, 0, 0, 0}}));

  testing::internal::CaptureStderr();
  CheckVideoTimeoutAt(0xFFFFFC00u + 3001u);  // past zero
  CheckVideoTimeoutAt(0xFFFFFC00u + 4001u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "video disconnected\n");
  EXPECT_EQ(GetLinkState()->video_flowing, 0);
  EXPECT_EQ(GetHudState()->video_connected, 0);
  EXPECT_EQ(GetSharedConfig()->camera_connected, 0);
  EXPECT_STREQ(GetHudState()->video_text, "video disconnected");
  EXPECT_EQ(TakeViewerPayloads(v), (std::vector<Datagram>(2, {5, 1, 0, 0, 0, 0, 0})));
  DetachViewer(v);
}

TEST_F(VideoLinkTest, BridgeStartClearsTheTable) {
  ASSERT_EQ(AddClient("192.0.2.20", 50000, 0), 1);
  testing::internal::CaptureStderr();
  StartVideoBridge();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Init video bridge\n");
  EXPECT_EQ(GetClientRow(0).address[0], '\0');
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

// The real receive thread on a free loopback port: each datagram marks the
// link up and leaves unchanged behind the header to every full client.
TEST_F(VideoLinkTest, ReceiveThreadForwardsEachDatagram) {
  testing::internal::CaptureStderr();
  SetCameraInterface("lo");  // the camera's link, here
  const uint16_t port = StartVideoSourceOn(INADDR_LOOPBACK, 0);
  ASSERT_NE(port, 0);
  ViewerEnd full = AttachViewer(false);
  ViewerEnd data_only = AttachViewer(true);

  uint16_t camera_port = 0;
  int camera = OpenLoopbackUdp(&camera_port);
  std::vector<uint8_t> first(1400), second(65000);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>(i * 3);
  SendTo(camera, port, first.data(), first.size());
  SendTo(camera, port, second.data(), second.size());

  auto got = ReceiveDatagrams(full.fd, 200, 3000);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].size(), 1412u);
  EXPECT_EQ(got[0][1], kKindVideo);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), got[0].begin() + kClientHeaderSize));
  EXPECT_EQ(got[1].size(), 65012u);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), got[1].begin() + kClientHeaderSize));
  EXPECT_TRUE(ReceiveDatagrams(data_only.fd, 50, 100).empty());
  ASSERT_TRUE(WaitFor([] { return GetLinkState()->video_flowing == 1; }));
  EXPECT_EQ(GetHudState()->video_connected, 1);
  EXPECT_EQ(GetSharedConfig()->camera_connected, 1);
  EXPECT_NE(GetLinkState()->last_video_ms, 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Init video source\nvideo connected\n");
  close(camera);
  DetachViewer(full);
  DetachViewer(data_only);
}

TEST_F(VideoLinkTest, DisabledVideoStreamForwardsNothing) {
  ViewerEnd v = AttachViewer();
  WritableSharedConfig()->disable_video_stream = 1;
  std::vector<uint8_t> framed(kClientHeaderSize + 100, 1);
  VideoDatagram datagram{framed.data(), 100};
  ForwardVideo(&datagram, 1);
  EXPECT_TRUE(ReceiveDatagrams(v.fd, 50, 200).empty());
  EXPECT_EQ(NextDatagramNumber(), 0u);
  DetachViewer(v);
}

}  // namespace
