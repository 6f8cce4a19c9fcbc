#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "common/wire.h"
#include "records/client_table.h"
#include "records/reset.h"
#include "records/viewer_protocol.h"
#include "records/viewer_traffic.h"
#include "senders/viewer_sender.h"
#include "viewer_end.h"

namespace {

class SendersTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    SetNextDatagramNumber(0);
    SetVideoSendActive(false);
  }
  void TearDown() override { ClearClientTable(); }
};

std::vector<uint8_t> Bytes(int n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

// A payload as the receive thread holds it: behind room for the header.
struct Received {
  explicit Received(const std::vector<uint8_t>& payload) : framed(kClientHeaderSize + payload.size(), 0xEE) {
    std::copy(payload.begin(), payload.end(), framed.begin() + kClientHeaderSize);
  }
  VideoDatagram datagram() { return {framed.data(), static_cast<int>(framed.size()) - kClientHeaderSize}; }
  std::vector<uint8_t> framed;
};

void Forward(const std::vector<uint8_t>& payload) {
  Received r(payload);
  VideoDatagram d = r.datagram();
  SendVideoDatagrams(&d, 1);
}

TEST_F(SendersTest, ShortMessagesTruncateEachArgument) {
  ViewerEnd v = AttachViewer();
  SendShortMessage16(13, -2, 300, 0);
  SendShortMessage16(12, 0x12345, -32768, 65535);
  SendShortMessage(6, 0x107, -1, 255, 256, 2, 3);
  auto got = TakeViewerPayloads(v);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], (Datagram{13, 0xFE, 0xFF, 0x2C, 0x01, 0x00, 0x00}));
  EXPECT_EQ(got[1], (Datagram{12, 0x45, 0x23, 0x00, 0x80, 0xFF, 0xFF}));
  EXPECT_EQ(got[2], (Datagram{6, 0x07, 0xFF, 0xFF, 0x00, 0x02, 0x03}));
  DetachViewer(v);
}

TEST_F(SendersTest, DataMessageHeader) {
  ViewerEnd v = AttachViewer();
  SetNextDatagramNumber(0x01020304);
  SendShortMessage(5, 1, 2, 0, 0, 0, 0);
  auto got = ReceiveDatagrams(v.fd);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], (Datagram{'B', 0, 0, 0, 0x04, 0x03, 0x02, 0x01, 0, 0, 0, 0, 5, 1, 2, 0, 0, 0, 0}));
  EXPECT_EQ(NextDatagramNumber(), 0x01020305u);
  DetachViewer(v);
}

TEST_F(SendersTest, CounterAdvancesWithNoClientAndWraps) {
  const uint8_t video[4] = {1, 2, 3, 4};
  SendShortMessage(6, 0, 0, 0, 0, 0, 0);
  SendClientMessage(video, sizeof video, kKindVideo);
  EXPECT_EQ(NextDatagramNumber(), 2u);

  ViewerEnd v = AttachViewer();
  SetNextDatagramNumber(0xFFFFFFFFu);
  SendShortMessage(6, 0, 0, 0, 0, 0, 0);
  SendShortMessage(6, 0, 0, 0, 0, 0, 0);
  auto got = ReceiveDatagrams(v.fd);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(GetU32(got[0].data() + 4), 0xFFFFFFFFu);
  EXPECT_EQ(GetU32(got[1].data() + 4), 0u);
  DetachViewer(v);
}

TEST_F(SendersTest, VideoSkipsDataOnlyClientsAndSharesTheCounter) {
  ViewerEnd full = AttachViewer(false);
  ViewerEnd data_only = AttachViewer(true);
  const auto video = Bytes(1400, 3);
  SendShortMessage(6, 1, 0, 0, 0, 0, 0);      // 0
  SendClientMessage(video.data(), 1400, kKindVideo);  // 1
  SendShortMessage(6, 2, 0, 0, 0, 0, 0);      // 2
  Forward(video);                             // 3

  auto to_full = ReceiveDatagrams(full.fd);
  ASSERT_EQ(to_full.size(), 4u);
  EXPECT_EQ(to_full[1].size(), 1412u);
  EXPECT_EQ(to_full[1][0], 'B');
  EXPECT_EQ(to_full[1][1], kKindVideo);
  EXPECT_TRUE(std::equal(video.begin(), video.end(), to_full[1].begin() + kClientHeaderSize));
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(GetU32(to_full[i].data() + 4), i);

  auto to_data_only = ReceiveDatagrams(data_only.fd);
  ASSERT_EQ(to_data_only.size(), 2u);  // the status messages, with a gap where video went
  EXPECT_EQ(GetU32(to_data_only[0].data() + 4), 0u);
  EXPECT_EQ(GetU32(to_data_only[1].data() + 4), 2u);
  for (auto& d : to_data_only) EXPECT_EQ(d[1], kKindData);
  DetachViewer(full);
  DetachViewer(data_only);
}

// Several received datagrams go out together: to every full viewer in order,
// numbered one after the other, each from the buffer it was received in.
TEST_F(SendersTest, BatchReachesEveryFullViewerInOrder) {
  ViewerEnd full[3] = {AttachViewer(false), AttachViewer(false), AttachViewer(false)};
  ViewerEnd data_only = AttachViewer(true);
  std::vector<Received> received;
  for (int i = 0; i < 4; ++i) received.emplace_back(Bytes(100 + 500 * i, static_cast<uint8_t>(i)));
  VideoDatagram batch[6] = {received[0].datagram(), {nullptr, 10}, received[1].datagram(),
                            received[2].datagram(), {received[3].framed.data(), -1}, received[3].datagram()};
  SetNextDatagramNumber(7);
  SendVideoDatagrams(batch, 6);
  EXPECT_EQ(NextDatagramNumber(), 11u);  // the unusable entries took no number
  for (ViewerEnd& v : full) {
    auto got = ReceiveDatagrams(v.fd);
    ASSERT_EQ(got.size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
      EXPECT_EQ(got[i], received[i].framed) << i;  // the header went into the room
      EXPECT_EQ(GetU32(got[i].data() + 4), 7 + i);
      EXPECT_EQ(got[i][1], kKindVideo);
    }
    DetachViewer(v);
  }
  EXPECT_TRUE(ReceiveDatagrams(data_only.fd, 50, 100).empty());
  DetachViewer(data_only);
}

// A destination the kernel refuses costs only its own copy, and is counted
// as that viewer's drops alone, alone or in a batch.
TEST_F(SendersTest, RefusedDestinationDoesNotStopTheOthers) {
  EXPECT_EQ(FirstVideoRelayMs(), -1);
  ViewerEnd before = AttachViewer();
  ASSERT_EQ(AddClient("255.255.255.255", 9, 0), 1);  // broadcast, not allowed on this socket
  ViewerEnd after = AttachViewer();
  for (int i = 0; i < 3; ++i) Forward(Bytes(1400, static_cast<uint8_t>(i)));
  std::vector<Received> received;
  for (int i = 0; i < 4; ++i) received.emplace_back(Bytes(900, static_cast<uint8_t>(i)));
  VideoDatagram batch[4] = {received[0].datagram(), received[1].datagram(), received[2].datagram(),
                            received[3].datagram()};
  SendVideoDatagrams(batch, 4);
  SendShortMessage(6, 1, 0, 0, 0, 0, 0);
  EXPECT_EQ(ReceiveDatagrams(before.fd).size(), 8u);
  EXPECT_EQ(ReceiveDatagrams(after.fd).size(), 8u);
  for (int row = 0; row < 3; ++row) {
    const ViewerTraffic traffic = ReadViewerTraffic(row, GetClientRow(row).destination);
    EXPECT_EQ(traffic.delivered, row == 1 ? 0u : 7u) << row;
    EXPECT_EQ(traffic.dropped, row == 1 ? 7u : 0u) << row;
  }
  EXPECT_GE(FirstVideoRelayMs(), 0);
  DetachViewer(before);
  DetachViewer(after);
}

// The sender keeps its calls ready between batches: whoever joins, leaves or
// stops taking video in between is served accordingly from the next batch on,
// and a new viewer in a freed row counts from zero.
TEST_F(SendersTest, TableChangesReachTheNextBatch) {
  ViewerEnd stays = AttachViewer();
  ViewerEnd leaves = AttachViewer();
  ViewerEnd stops = AttachViewer();
  Forward(Bytes(1400, 1));
  DetachViewer(leaves);
  ASSERT_EQ(AddClient("127.0.0.1", stops.port, 1), 0);  // now data only
  ViewerEnd joins = AttachViewer();                      // takes the freed row
  Forward(Bytes(1400, 2));
  Forward(Bytes(1400, 3));
  EXPECT_EQ(ReceiveDatagrams(stays.fd).size(), 3u);
  EXPECT_EQ(ReceiveDatagrams(stops.fd).size(), 1u);
  EXPECT_EQ(ReceiveDatagrams(joins.fd).size(), 2u);
  EXPECT_EQ(ReadViewerTraffic(0, GetClientRow(0).destination).delivered, 3u);
  EXPECT_EQ(ReadViewerTraffic(1, GetClientRow(1).destination).delivered, 2u);
  DetachViewer(stays);
  DetachViewer(stops);
  DetachViewer(joins);
}

// Replies to one viewer's request while video streams without pause to
// several viewers: every reply arrives, none is dropped for the video.
TEST_F(SendersTest, RepliesAreNotLostToVideo) {
  ViewerEnd asker = AttachViewer(true);
  std::vector<ViewerEnd> watchers;
  for (int i = 0; i < 4; ++i) watchers.push_back(AttachViewer(false));
  std::atomic<bool> stop{false};
  std::thread video([&] {
    Received r(Bytes(1400, 1));
    while (!stop) {
      VideoDatagram d = r.datagram();
      SendVideoDatagrams(&d, 1);
    }
  });
  constexpr int kReplies = 30;
  const uint8_t reply[] = "{\"app\":\"report\"}";
  for (int i = 0; i < kReplies; ++i) SendReplyMessage(reply, sizeof reply - 1);
  stop = true;
  video.join();
  EXPECT_EQ(TakeViewerPayloads(asker).size(), static_cast<size_t>(kReplies));
  DetachViewer(asker);
  for (ViewerEnd& w : watchers) DetachViewer(w);
}

TEST_F(SendersTest, DataMessagesDroppedWhileVideoGoesOut) {
  ViewerEnd v = AttachViewer();
  SetVideoSendActive(true);
  const uint8_t report[3] = {15, 0, 32};
  SendShortMessage(6, 0, 0, 0, 0, 0, 0);
  SendShortMessage16(0, 1, 2, 3);
  SendClientMessage(report, 3, kKindData);
  EXPECT_EQ(NextDatagramNumber(), 0u);
  SendReplyMessage(report, 2);  // a reply is not dropped
  SetVideoSendActive(false);
  SendClientMessage(report, 3, kKindData);
  SendClientMessage(report, 3, 2);  // no such kind
  auto got = TakeViewerPayloads(v);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (Datagram{15, 0}));
  EXPECT_EQ(got[1], (Datagram{15, 0, 32}));
  DetachViewer(v);
}

TEST_F(SendersTest, PayloadsAreBoundedByTheFramingBuffers) {
  ViewerEnd v = AttachViewer();
  const auto long_text = Bytes(5000, 9);
  SendDataMessage(long_text.data(), 5000);
  SendDataMessage(long_text.data(), -1);
  SendDataMessage(nullptr, 10);
  std::vector<uint8_t> huge(70000, 0xAB);
  SendVideoDatagram(huge.data(), 70000);
  auto got = ReceiveDatagrams(v.fd);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].size(), static_cast<size_t>(kClientHeaderSize + kMaxDataPayload));
  EXPECT_TRUE(std::equal(got[0].begin() + kClientHeaderSize, got[0].end(), long_text.begin()));
  EXPECT_EQ(got[1].size(), static_cast<size_t>(kClientHeaderSize + kVideoFramingPayload));
  DetachViewer(v);
}

// Senders on several threads never hand out the same number twice.
TEST_F(SendersTest, ConcurrentSendersNumberEveryDatagramOnce) {
  ViewerEnd v = AttachViewer();
  constexpr int kThreads = 4, kEach = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) SendShortMessage(6, t, i, 0, 0, 0, 0);
    });
  for (auto& t : threads) t.join();
  auto got = ReceiveDatagrams(v.fd);
  ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kEach));
  std::set<uint32_t> numbers;
  for (auto& d : got) numbers.insert(GetU32(d.data() + 4));
  EXPECT_EQ(numbers.size(), got.size());
  EXPECT_EQ(*numbers.rbegin(), static_cast<uint32_t>(kThreads * kEach - 1));
  DetachViewer(v);
}

}  // namespace
