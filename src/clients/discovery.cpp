#include "clients/discovery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clients/json_worker.h"
#include "common/wire.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "platform/log.h"
#include "platform/source_filter.h"
#include "platform/udp_socket.h"
#include "records/client_table.h"
#include "records/motion_intent.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sockets.h"

namespace {

constexpr int kDiscoverySocketBuffer = 2000000;

// Takes one datagram from fd and acts on it. False when the socket failed
// (not for a datagram dropped, nor for nothing waiting under MSG_DONTWAIT).
bool ReceiveOne(int fd, int flags, SourceFilter* sources) {
  uint8_t datagram[kClientReceiveSize];
  uint8_t payload[kClientReceiveSize];
  std::memset(datagram, 0, sizeof datagram);
  sockaddr_in from{};
  socklen_t from_length = sizeof from;
  ssize_t n = recvfrom(fd, datagram, sizeof datagram, flags, reinterpret_cast<sockaddr*>(&from), &from_length);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  // Without a whole header there is no payload to act on.
  ViewerHeader header;
  if (!ReadViewerHeader(datagram, static_cast<size_t>(n), &header)) return true;
  if (!AcceptSource(sources, from)) return true;
  char address[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
  // Zero bytes follow the payload, so a JSON text is always NUL-terminated.
  std::memset(payload, 0, sizeof payload);
  const int length = static_cast<int>(n) - kClientHeaderSize;
  std::memcpy(payload, datagram + kClientHeaderSize, static_cast<size_t>(length));
  HandleClientMessage(payload, length, address, ntohs(from.sin_port));
  return true;
}

void* RunViewerReceiver(void* arg) {
  pthread_setname_np(pthread_self(), "discovery-rx");
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  SourceFilter sources{"viewer", {}};
  // Without the kernel's filter, datagrams land on any socket of the port.
  int fds[kMaxViewerArrivalSockets];
  const int count = ViewerArrivalSockets(fds, kMaxViewerArrivalSockets);
  pollfd polled[kMaxViewerArrivalSockets];
  for (int i = 0; i < count; ++i) polled[i] = pollfd{fds[i], POLLIN, 0};
  for (;;) {
    // Only a failing socket earns the pause; anything a peer sends is
    // dropped at once, so junk cannot slow down the viewers behind it.
    if (count <= 1) {
      if (!ReceiveOne(fd, 0, &sources)) SleepMilliseconds(500);
      continue;
    }
    if (poll(polled, static_cast<nfds_t>(count), -1) < 0) continue;
    bool failed = false;
    for (int i = 0; i < count; ++i) {
      if (polled[i].revents != 0) failed = !ReceiveOne(polled[i].fd, MSG_DONTWAIT, &sources) || failed;
    }
    if (failed) SleepMilliseconds(500);
  }
  return nullptr;
}

// Fixed fields are read from a zero-padded copy, so a short message reads as
// if zeros followed it, never past what was received.
struct FixedFields {
  uint8_t bytes[16];
};

FixedFields CopyFixedFields(const uint8_t* payload, int length) {
  FixedFields f{};
  std::memcpy(f.bytes, payload, static_cast<size_t>(length < 16 ? length : 16));
  return f;
}

constexpr uint32_t kRefusalLogGapMs = 60000;

void HandleConnect(const FixedFields& f, const char* address, uint32_t port) {
  const uint8_t data_only = f.bytes[1] == 1 ? 1 : 0;
  const int added = AddClient(address, port, data_only);
  if (added == kClientAddressFull) {
    static RateGate refusals;
    if (RateGatePasses(&refusals, kRefusalLogGapMs)) {
      LogWarning("viewer registrations from %s refused: %d viewers from one address at most\n", address,
                 kMaxClientsPerAddress);
    }
  }
  if (added != 1) return;  // keep-alive, refused, or table full
  fprintf(stderr, "client connected from %s:%d %s\n", address, static_cast<int>(port), data_only ? "(only data)" : " ");
  NoteEvent(JournalEvent::kViewerJoined, ViewerSource(address, port).text, data_only ? "data only" : "video");
  const uint8_t ack = kDatagramMagic;
  SendClientDatagram(&ack, 1, address, port);
}

// A registered viewer drives its motions until it goes; a sender that holds
// no row would never be seen going, so its motions end unless repeated.
MotionDriver SenderMotionDriver(const char* address, uint32_t port) {
  const MotionDriver driver = ViewerMotionDriver(address, port);
  return ClientRegistered(address, port) ? driver : LeasedMotionDriver(driver);
}

void HandleAttitude(const FixedFields& f) {
  float q[4];
  for (int i = 0; i < 4; ++i) q[i] = static_cast<float>(static_cast<float>(GetI16(f.bytes + 3 + 2 * i)) / 32767.0);
  SendClientAttitude(q[0], q[1], q[2], q[3]);
}

}  // namespace

uint16_t StartDiscoveryOn(uint32_t address, uint16_t port) {
  fprintf(stderr, "Init device discovery\n");
  int fd = OpenBlockingUdpSocket(kDiscoverySocketBuffer);
  // Bounds how long one send to an unreachable viewer may block the sender.
  timeval send_timeout{0, kViewerSendTimeoutUs};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
  const uint16_t bound = BindUdpSocket(fd, address, port);
  if (bound == 0) {
    LogError("discovery bind failed\n");
    // Other threads already run: leave without tearing down what they use.
    fflush(nullptr);
    _Exit(100);
  }
  SetDiscoverySocket(fd);
  switch (OpenViewerSockets(fd)) {
    case ViewerSocketSetup::kOwn:
      break;
    case ViewerSocketSetup::kOwnArrivalsSpread:
      fprintf(stderr, "no reuseport filter: viewers are read from every send socket\n");
      break;
    case ViewerSocketSetup::kShared:
      LogWarning("viewers share one send socket: a viewer on a slow link can cost the others their video\n");
      break;
  }
  pthread_t thread;
  pthread_create(&thread, nullptr, RunViewerReceiver, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  return bound;
}

void StartDiscovery() { StartDiscoveryOn(INADDR_ANY, kDiscoveryPort); }

void HandleClientMessage(const uint8_t* payload, int length, const char* address, uint32_t port) {
  if (payload == nullptr || address == nullptr || length < 1) return;
  // The box's own datagrams seen on the loopback interface.
  if (port == kDiscoveryPort && std::strcmp(address, "127.0.0.1") == 0) return;
  const FixedFields f = CopyFixedFields(payload, length);
  switch (payload[0]) {
    case kMsgConnect:
      HandleConnect(f, address, port);
      break;
    case kMsgDisconnect:
      if (RemoveClient(address, port) == 1) {
        fprintf(stderr, "client %s:%d removed\n", address, static_cast<int>(port));
        NoteEvent(JournalEvent::kViewerLeft, ViewerSource(address, port).text, "said goodbye");
      }
      ReleaseViewerMotion(address, port);
      break;
    case kMsgGimbalControl:
      HandleGimbalControl(f.bytes[1], GetI16(f.bytes + 2), GetI16(f.bytes + 4), SenderMotionDriver(address, port));
      break;
    case kMsgAttitude:
      HandleAttitude(f);
      break;
    case kMsgJson:
      NoteCommand(ViewerSource(address, port).text, reinterpret_cast<const char*>(payload), length);
      PostJsonCommand(payload, length, SenderMotionDriver(address, port));
      break;
    default:
      break;
  }
}
