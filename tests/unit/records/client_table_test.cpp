#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "records/client_table.h"
#include "records/hud_state.h"
#include "writable_records.h"

namespace {

class ClientTableTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearClientTable();
    WritableHudState()->client_count = 0xEE;
  }
  void TearDown() override { ClearClientTable(); }
};

std::string Address(int i) { return "192.0.2." + std::to_string(i); }

int TakenRows() {
  int n = 0;
  for (int i = 0; i < kMaxClients; ++i) n += GetClientRow(i).address[0] != '\0';
  return n;
}

// A row is one address and port: a repeat only refreshes it and sets its kind.
TEST_F(ClientTableTest, RowsAreKeyedByAddressAndPort) {
  EXPECT_EQ(AddClient("192.0.2.20", 50000, 1), 1);
  EXPECT_EQ(GetClientRow(0).flags, kClientDataOnly);
  EXPECT_EQ(AddClient("192.0.2.20", 50000, 0), 0);
  EXPECT_EQ(GetClientRow(0).flags, 0);
  EXPECT_EQ(AddClient("192.0.2.20", 50000, 1), 0);
  EXPECT_EQ(GetClientRow(0).flags, kClientDataOnly);
  ClientEntry row = GetClientRow(0);
  EXPECT_STREQ(row.address, "192.0.2.20");
  EXPECT_EQ(row.port, 50000u);
  EXPECT_EQ(TakenRows(), 1);
  EXPECT_EQ(AddClient("192.0.2.20", 50001, 0), 1);
  EXPECT_EQ(AddClient("192.0.2.21", 50000, 0), 1);
  EXPECT_EQ(TakenRows(), 3);
  EXPECT_EQ(RemoveClient("192.0.2.20", 50002), 0);
  EXPECT_EQ(RemoveClient("192.0.2.2", 50000), 0);
  EXPECT_EQ(RemoveClient("192.0.2.20", 50000), 1);
  EXPECT_EQ(RemoveClient("192.0.2.20", 50000), 0);
  EXPECT_EQ(TakenRows(), 2);
}

TEST_F(ClientTableTest, OneAddressHoldsAtMostFourRowsExceptOnLoopback) {
  for (uint32_t port = 0; port < kMaxClientsPerAddress; ++port) ASSERT_EQ(AddClient("192.0.2.20", 5000 + port, 0), 1);
  EXPECT_EQ(AddClient("192.0.2.20", 6000, 0), kClientAddressFull);
  EXPECT_FALSE(ClientRegistered("192.0.2.20", 6000));
  EXPECT_EQ(AddClient("192.0.2.20", 5000, 1), 0);  // its own rows still refresh
  EXPECT_EQ(AddClient("192.0.2.2", 6000, 0), 1);   // another address (a prefix of it) is not counted
  for (uint32_t port = 0; port < 8; ++port) EXPECT_EQ(AddClient("127.0.0.5", 5000 + port, 0), 1) << port;
  ASSERT_EQ(RemoveClient("192.0.2.20", 5001), 1);
  EXPECT_EQ(AddClient("192.0.2.20", 6000, 0), 1);
  EXPECT_TRUE(ClientRegistered("192.0.2.20", 6000));
  EXPECT_EQ(TakenRows(), kMaxClientsPerAddress + 1 + 8);
}

TEST_F(ClientTableTest, FullTableDropsTheTwentyFirstUntilARowFrees) {
  for (int i = 0; i < kMaxClients; ++i) ASSERT_EQ(AddClient(Address(i).c_str(), 4000, 0), 1) << i;
  EXPECT_EQ(AddClient("198.51.100.1", 4000, 0), 0);
  EXPECT_EQ(TakenRows(), kMaxClients);
  // The freed row is zeroed whole and the newcomer takes the first free one.
  ASSERT_EQ(RemoveClient(Address(7).c_str(), 4000), 1);
  ClientEntry freed = GetClientRow(7);
  EXPECT_EQ(freed.address[0], '\0');
  EXPECT_EQ(freed.port, 0u);
  EXPECT_EQ(freed.last_seen_ms, 0u);
  EXPECT_EQ(AddClient("198.51.100.1", 4000, 0), 1);
  EXPECT_STREQ(GetClientRow(7).address, "198.51.100.1");
}

TEST_F(ClientTableTest, TextsThatAreNoAddressAreRefused) {
  EXPECT_EQ(AddClient("", 50000, 0), 0);
  EXPECT_EQ(AddClient("123456789012345678901234", 50000, 0), 0);
  EXPECT_EQ(AddClient("viewer.local", 50000, 0), 0);
  EXPECT_EQ(AddClient("192.0.2.256", 50000, 0), 0);
  EXPECT_EQ(TakenRows(), 0);
}

TEST_F(ClientTableTest, ExpiryKeepsFiveSecondsAndDropsAfter) {
  ASSERT_EQ(AddClient("192.0.2.20", 50000, 0), 1);
  const uint32_t seen = GetClientRow(0).last_seen_ms;

  testing::internal::CaptureStderr();
  ExpireClientsAt(seen - 1);  // a clock that stepped back drops nobody
  ExpireClientsAt(seen + 0x80000000u);  // half the clock range later reads as the past
  ExpireClientsAt(seen + 5000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(GetHudState()->client_count, 1);

  testing::internal::CaptureStderr();
  ExpireClientsAt(seen + 5001);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Client 192.0.2.20:50000 lost\n");
  EXPECT_EQ(GetHudState()->client_count, 0);
  EXPECT_EQ(TakenRows(), 0);
  // The expired client's next connect request registers it anew.
  EXPECT_EQ(AddClient("192.0.2.20", 50000, 0), 1);
}

std::vector<std::string> g_expired;

TEST_F(ClientTableTest, ExpiryTellsTheHookWhoWentWithTheTableFree) {
  g_expired.clear();
  SetClientExpiryHook([](const char* address, uint32_t port) {
    ClientDestinations copy;
    UpdateClientDestinations(&copy);  // would deadlock under the table's lock
    g_expired.push_back(std::string(address) + ":" + std::to_string(port) + " of " + std::to_string(copy.all_count));
  });
  ASSERT_EQ(AddClient("192.0.2.20", 50000, 0), 1);
  ASSERT_EQ(AddClient("192.0.2.21", 50001, 1), 1);
  const uint32_t seen = GetClientRow(0).last_seen_ms;
  testing::internal::CaptureStderr();
  ExpireClientsAt(seen + 5000);
  EXPECT_TRUE(g_expired.empty());
  ExpireClientsAt(seen + 60000);
  testing::internal::GetCapturedStderr();
  SetClientExpiryHook(nullptr);
  EXPECT_EQ(g_expired, (std::vector<std::string>{"192.0.2.20:50000 of 0", "192.0.2.21:50001 of 0"}));
}

std::string Text(const ClientDestination& d) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &d.address.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(d.address.sin_port));
}

TEST_F(ClientTableTest, DestinationsAreTheRowsWithAPortReadyToSend) {
  ASSERT_EQ(AddClient("192.0.2.20", 50000, 0), 1);
  ASSERT_EQ(AddClient("192.0.2.21", 0, 0), 1);  // taken, but nowhere to send
  ASSERT_EQ(AddClient("192.0.2.22", 50002, 1), 1);
  ClientDestinations d;
  UpdateClientDestinations(&d);
  ASSERT_EQ(d.all_count, 2);
  EXPECT_EQ(Text(d.all[0]), "192.0.2.20:50000");
  EXPECT_EQ(Text(d.all[1]), "192.0.2.22:50002");
  EXPECT_EQ(d.all[1].address.sin_family, AF_INET);
  EXPECT_EQ(d.all[1].row, 2);
  ASSERT_EQ(d.full_count, 1);
  EXPECT_EQ(Text(d.full[0]), "192.0.2.20:50000");
}

// A sender's copy follows every change of who is registered and what they
// take, and is left alone by keep-alives.
TEST_F(ClientTableTest, DestinationCopyFollowsEveryChange) {
  ClientDestinations d;
  UpdateClientDestinations(&d);
  EXPECT_EQ(d.all_count, 0);
  const uint32_t empty = d.version;

  ASSERT_EQ(AddClient("192.0.2.20", 50000, 0), 1);
  UpdateClientDestinations(&d);
  EXPECT_EQ(d.full_count, 1);
  const uint32_t one = d.version;
  EXPECT_NE(one, empty);

  AddClient("192.0.2.20", 50000, 0);  // keep-alive
  UpdateClientDestinations(&d);
  EXPECT_EQ(d.version, one);

  AddClient("192.0.2.20", 50000, 1);  // now data only
  UpdateClientDestinations(&d);
  EXPECT_EQ(d.all_count, 1);
  EXPECT_EQ(d.full_count, 0);

  ExpireClientsAt(GetClientRow(0).last_seen_ms + 5001);
  UpdateClientDestinations(&d);
  EXPECT_EQ(d.all_count, 0);

  ASSERT_EQ(AddClient("192.0.2.21", 50001, 0), 1);
  ASSERT_EQ(RemoveClient("192.0.2.21", 50001), 1);
  d.all_count = 99;  // a copy is rebuilt whole, not patched
  UpdateClientDestinations(&d);
  EXPECT_EQ(d.all_count, 0);
}

// A sender updating its copy while rows come and go never sees an address
// with another row's port.
TEST_F(ClientTableTest, SendersNeverSeeAHalfWrittenRow) {
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int round = 0; round < 20000; ++round) {
      int i = round % 40;
      std::string a = "10.0." + std::to_string(i) + "." + std::to_string(i);
      AddClient(a.c_str(), 1000u + i, 0);
      if (round % 3 == 0) RemoveClient(a.c_str(), 1000u + i);
      if (round % 97 == 0) ClearClientTable();
    }
    stop = true;
  });
  int bad = 0;
  ClientDestinations d;
  while (!stop) {
    UpdateClientDestinations(&d);
    for (int k = 0; k < d.all_count; ++k) {
      int i = ntohs(d.all[k].address.sin_port) - 1000;
      std::string a = "10.0." + std::to_string(i) + "." + std::to_string(i) + ":" + std::to_string(1000 + i);
      bad += a != Text(d.all[k]);
    }
  }
  writer.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
