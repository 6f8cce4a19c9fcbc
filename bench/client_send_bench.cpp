// Cost of the sends to viewers on the caller's thread: video datagrams framed
// in place and sent to 1 or 20 loopback clients, one or a batch at a time, a
// data message and a short message. A drain thread empties the clients' sockets so every send takes
// the kernel's full delivery path instead of a drop at a full queue.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "records/client_table.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"
#include "senders/viewer_sockets.h"

namespace {

int OpenLoopback(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int size = 8 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

struct Clients {
  std::vector<int> fds;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> received{0};
  std::thread drain;
};

void Register(Clients& c, int count) {
  ClearClientTable();
  if (DiscoverySocket() < 0) {
    uint16_t unused;
    SetDiscoverySocket(OpenLoopback(&unused));
    int size = 2000000;
    setsockopt(DiscoverySocket(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    OpenViewerSockets(DiscoverySocket());  // as the daemon has them
  }
  for (int i = 0; i < count; ++i) {
    uint16_t port;
    c.fds.push_back(OpenLoopback(&port));
    AddClient("127.0.0.1", port, 0);
  }
  c.drain = std::thread([&c] {
    std::vector<pollfd> p;
    for (int fd : c.fds) p.push_back({fd, POLLIN, 0});
    static uint8_t buf[70000];
    while (!c.stop) {
      if (poll(p.data(), p.size(), 20) <= 0) continue;
      for (auto& q : p)
        while ((q.revents & POLLIN) && recv(q.fd, buf, sizeof buf, MSG_DONTWAIT) > 0) ++c.received;
    }
  });
}

void Unregister(Clients& c) {
  c.stop = true;
  c.drain.join();
  for (int fd : c.fds) close(fd);
  ClearClientTable();
}

// Arguments: clients, datagrams per call (as the receive thread hands them on).
void BM_SendVideoDatagrams(benchmark::State& state) {
  Clients c;
  Register(c, static_cast<int>(state.range(0)));
  const int batch = static_cast<int>(state.range(1));
  std::vector<uint8_t> slots(static_cast<size_t>(batch) * (kClientHeaderSize + 1400), 0x5A);
  VideoDatagram datagrams[kVideoBatch];
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) datagrams[i] = {slots.data() + i * (kClientHeaderSize + 1400), 1400};
    SendVideoDatagrams(datagrams, batch);
  }
  state.SetItemsProcessed(state.iterations() * batch);
  state.counters["copies_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * batch * state.range(0)), benchmark::Counter::kIsRate);
  Unregister(c);
}
BENCHMARK(BM_SendVideoDatagrams)
    ->ArgsProduct({{1, 20}, {1, 16}})
    ->ArgNames({"clients", "batch"})
    ->UseRealTime();

void BM_SendDataMessage(benchmark::State& state) {
  Clients c;
  Register(c, static_cast<int>(state.range(0)));
  std::vector<uint8_t> payload(1400, 0x7B);
  for (auto _ : state) SendDataMessage(payload.data(), 1400);
  Unregister(c);
}
BENCHMARK(BM_SendDataMessage)->Arg(1)->Arg(20)->UseRealTime();

void BM_SendShortMessage(benchmark::State& state) {
  Clients c;
  Register(c, static_cast<int>(state.range(0)));
  for (auto _ : state) SendShortMessage(6, 1, 2, 3, 4, 5, 6);
  Unregister(c);
}
BENCHMARK(BM_SendShortMessage)->Arg(0)->Arg(1)->Arg(20)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
