// The real 4242 receive thread on a free loopback port, and JSON commands run
// by their workers through the real command handlers.
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clients/discovery.h"
#include "clients/json_worker.h"
#include "common/shared_field.h"
#include "platform/worker_pool.h"
#include "records/client_table.h"
#include "records/hud_state.h"
#include "records/reset.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"
#include "senders/viewer_sockets.h"
#include "viewer_end.h"
#include "writable_records.h"

namespace {

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

std::vector<uint8_t> Datagram12(const std::string& payload) {
  std::vector<uint8_t> d(kClientHeaderSize + payload.size(), 0);
  d[0] = 'B';
  for (size_t i = 0; i < payload.size(); ++i) d[kClientHeaderSize + i] = static_cast<uint8_t>(payload[i]);
  return d;
}

const std::string kShowChannels = R"({"cmd":"rc","name":"showchannels","value":"1"})";

class DiscoveryThreadTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::internal::CaptureStderr();
    box_port_ = StartDiscoveryOn(INADDR_LOOPBACK, 0);
    // Where the kernel refuses the reuseport filter (qemu-user), the thread
    // reads every socket of the port instead, and says so; the tests below
    // hold either way.
    int fds[kMaxViewerArrivalSockets];
    const bool spread = ViewerArrivalSockets(fds, kMaxViewerArrivalSockets) > 1;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("Init device discovery\n") +
                  (spread ? "no reuseport filter: viewers are read from every send socket\n" : ""));
  }
  void SetUp() override {
    ResetRecords();
    client_ = OpenLoopbackUdp(&port_);
  }
  void TearDown() override {
    close(client_);
    ClearClientTable();
  }
  static uint16_t box_port_;
  int client_ = -1;
  uint16_t port_ = 0;
};
uint16_t DiscoveryThreadTest::box_port_ = 0;

TEST_F(DiscoveryThreadTest, ConnectOverTheSocketIsAcknowledgedFrom4242Socket) {
  ASSERT_NE(box_port_, 0);
  auto connect = Datagram12(std::string{'\0', '\0'});
  SendTo(client_, box_port_, connect.data(), connect.size());
  auto got = ReceiveDatagrams(client_, 100, 3000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], Datagram{'B'});
  ClientEntry row = GetClientRow(0);
  EXPECT_STREQ(row.address, "127.0.0.1");
  EXPECT_EQ(row.port, port_);
}

TEST_F(DiscoveryThreadTest, EmptyDatagramsDoNotDelayARegistration) {
  // Each used to cost the receive thread half a second.
  for (int i = 0; i < 20; ++i) SendTo(client_, box_port_, nullptr, 0);
  auto connect = Datagram12(std::string{'\0', '\0'});
  SendTo(client_, box_port_, connect.data(), connect.size());
  auto got = ReceiveDatagrams(client_, 100, 3000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], Datagram{'B'});
}

TEST_F(DiscoveryThreadTest, ForeignAndHeaderlessDatagramsAreDropped) {
  auto foreign = Datagram12(std::string{'\0', '\0'});
  foreign[0] = 'C';
  SendTo(client_, box_port_, foreign.data(), foreign.size());
  const uint8_t runt[11] = {'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  SendTo(client_, box_port_, runt, sizeof runt);
  auto header_only = Datagram12("");
  SendTo(client_, box_port_, header_only.data(), header_only.size());
  // Handled after them on the same thread: once it has run, an answer to any
  // of them would already be waiting.
  auto marker = Datagram12(kShowChannels);
  SendTo(client_, box_port_, marker.data(), marker.size());
  EXPECT_TRUE(WaitFor([] { return LoadShared(&GetHudState()->show_rc_channels) == 1; }));
  EXPECT_TRUE(ReceiveDatagrams(client_, 0, 0).empty());
  EXPECT_EQ(GetClientRow(0).address[0], '\0');
}

TEST_F(DiscoveryThreadTest, JsonWithoutTrailingNulRunsFromAnyone) {
  auto d = Datagram12(kShowChannels);  // no NUL, sender not registered
  SendTo(client_, box_port_, d.data(), d.size());
  EXPECT_TRUE(WaitFor([] { return LoadShared(&GetHudState()->show_rc_channels) == 1; }));
}

TEST_F(DiscoveryThreadTest, DatagramsOfAnySizeAreReceivedSafely) {
  // 1500 bytes arrive whole; longer ones are cut to their first 1500 bytes.
  for (size_t size : {size_t{1500}, size_t{1501}, size_t{9000}}) {
    ClearClientTable();
    auto d = Datagram12(std::string{'\0', '\0'});
    d.resize(size, 0x5A);
    SendTo(client_, box_port_, d.data(), d.size());
    auto got = ReceiveDatagrams(client_, 100, 3000);
    ASSERT_EQ(got.size(), 1u) << size;
    EXPECT_EQ(got[0], Datagram{'B'});
  }
}

// Every row has a socket of its own on the box's port, yet whatever arrives
// there reaches the receive thread, and what the viewers get comes from the
// box's port.
TEST_F(DiscoveryThreadTest, RowSocketsShareThePortButTakeNothingThatArrives) {
  std::vector<int> viewers;
  auto connect = Datagram12(std::string{'\0', '\0'});
  for (int i = 0; i < kMaxClients; ++i) {
    uint16_t port = 0;
    viewers.push_back(OpenLoopbackUdp(&port));
    SendTo(viewers.back(), box_port_, connect.data(), connect.size());
  }
  EXPECT_TRUE(WaitFor([] { return LoadShared(&GetHudState()->client_count) == kMaxClients || GetClientRow(kMaxClients - 1).port; }));
  for (int i = 0; i < kMaxClients; ++i) EXPECT_NE(GetClientRow(i).port, 0u) << i;
  for (int i = 0; i < kMaxClients; ++i) EXPECT_NE(ViewerSocket(i), DiscoverySocket()) << i;

  SendShortMessage(6, 1, 2, 3, 4, 5, 6);
  for (int fd : viewers) {
    ReceiveDatagrams(fd, 20, 1000);  // the acknowledgement first
    SendShortMessage(6, 1, 2, 3, 4, 5, 6);
    uint8_t buffer[64];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ASSERT_EQ(recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length),
              kClientHeaderSize + 7);
    EXPECT_EQ(ntohs(from.sin_port), box_port_);
    close(fd);
  }
}

TEST(JsonCommand, OnlyTheFirst255BytesRun) {
  StoreShared(&WritableHudState()->show_rc_channels, 0);
  std::string fits = kShowChannels;
  fits.insert(fits.size() - 1, std::string(255 - fits.size(), ' '));
  ASSERT_EQ(fits.size(), 255u);
  std::string cut = fits;
  cut.insert(cut.size() - 1, 1, ' ');  // the closing brace is byte 256
  PostJsonCommand(reinterpret_cast<const uint8_t*>(cut.data()), static_cast<int>(cut.size()), 0);
  WaitForIdleWorkers();
  EXPECT_EQ(LoadShared(&GetHudState()->show_rc_channels), 0);
  PostJsonCommand(reinterpret_cast<const uint8_t*>(fits.data()), static_cast<int>(fits.size()), 0);
  EXPECT_TRUE(WaitFor([] { return LoadShared(&GetHudState()->show_rc_channels) == 1; }));
}

TEST(JsonCommand, TextEndsAtItsFirstNul) {
  StoreShared(&WritableHudState()->show_rc_channels, 0);
  std::string text = std::string("\0", 1) + kShowChannels;
  PostJsonCommand(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), 0);
  WaitForIdleWorkers();
  EXPECT_EQ(LoadShared(&GetHudState()->show_rc_channels), 0);
}

std::mutex g_gate_mutex;
std::condition_variable g_gate_changed;
bool g_gate_open = false;
std::atomic<int> g_blocked{0};

void BlockUntilGateOpens(const WorkItem&) {
  ++g_blocked;
  std::unique_lock<std::mutex> lock(g_gate_mutex);
  g_gate_changed.wait(lock, [] { return g_gate_open; });
  --g_blocked;
}

void SetGate(bool open) {
  std::lock_guard<std::mutex> lock(g_gate_mutex);
  g_gate_open = open;
  g_gate_changed.notify_all();
}

int CountOf(const std::string& text, const std::string& line) {
  int n = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

TEST(JsonCommand, BeyondTheQueueCommandsAreDroppedWithOneLogLine) {
  StoreShared(&WritableHudState()->show_rc_channels, 0);
  // Slow work holds every worker, so commands can only queue.
  SetGate(false);
  WorkItem blocker{};
  blocker.run = BlockUntilGateOpens;
  for (int i = 0; i < kMaxWorkers; ++i) ASSERT_TRUE(PostWork(blocker));
  ASSERT_TRUE(WaitFor([] { return g_blocked.load() == kMaxWorkers; }));

  testing::internal::CaptureStderr();
  // The last command that fits shows the channels; any taken after it would hide them.
  const std::string other = R"({"cmd":"none"})";
  const std::string hide = R"({"cmd":"rc","name":"showchannels","value":"0"})";
  for (int i = 0; i < 200; ++i) {
    const int last_fitting = kWorkQueueSize - 1;
    const std::string& text = i < last_fitting ? other : i == last_fitting ? kShowChannels : hide;
    PostJsonCommand(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()), 0);
  }
  SetGate(true);
  WaitForIdleWorkers();
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(CountOf(log, "too many commands waiting: JSON commands dropped\n"), 1) << log;
  EXPECT_EQ(LoadShared(&GetHudState()->show_rc_channels), 1);
}

TEST(DiscoveryBindDeathTest, BindFailureEndsTheProcessWith100) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  uint16_t taken = 0;
  int holder = OpenLoopbackUdp(&taken);
  EXPECT_EXIT(StartDiscoveryOn(INADDR_LOOPBACK, taken), testing::ExitedWithCode(100), "discovery bind failed\n");
  close(holder);
}

// The row sockets share the port, but a second copy of the box cannot join.
TEST(DiscoveryBindDeathTest, SecondStartOnTheSamePortEndsWith100) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartDiscoveryOn(INADDR_LOOPBACK, StartDiscoveryOn(INADDR_LOOPBACK, 0)), testing::ExitedWithCode(100),
              "discovery bind failed\n");
}

}  // namespace
