// Every send to the viewers: data messages to all registered clients, video
// datagrams to the full ones, each framed behind the 12-byte header. All
// copies of one send go to the kernel in one sendmmsg call where it takes them.
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "clients/client_table.h"
#include "clients/discovery.h"
#include "clients/protocol.h"
#include "clients/video_bridge.h"
#include "common/wire.h"

std::atomic<uint32_t> g_datagram_counter{0};
std::atomic<uint8_t> g_video_send_active{0};

namespace {

// How long a reply waits for the video send in progress before going anyway.
constexpr auto kReplyWait = std::chrono::milliseconds(5);
// Held by a video sender while its datagrams go out: a reply waits on it.
std::timed_mutex g_video_send_mutex;
std::atomic<int64_t> g_last_drop_log_ms{-1000};

void PutHeader(uint8_t* datagram, uint8_t kind, uint32_t number) {
  datagram[0] = kDatagramMagic;
  datagram[1] = kind;
  datagram[2] = 0;
  datagram[3] = 0;
  PutU32(datagram + 4, number);
  PutU32(datagram + 8, 0);
}

// Taking the numbers and advancing the counter is one step: no two datagrams
// share one.
uint32_t TakeNumbers(uint32_t count) { return g_datagram_counter.fetch_add(count, std::memory_order_relaxed); }

void Address(mmsghdr* message, sockaddr_in* to, iovec* datagram) {
  *message = mmsghdr{};
  message->msg_hdr.msg_name = to;
  message->msg_hdr.msg_namelen = sizeof *to;
  message->msg_hdr.msg_iov = datagram;
  message->msg_hdr.msg_iovlen = 1;
}

bool SendBufferFull(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Sends messages[0, count) in as few calls as the kernel allows. A message it
// refuses is dropped and the rest still go; on a full send buffer the rest of
// the refused message's group (group_size messages) is dropped with it, as it
// would fail alike. Returns the number of messages dropped.
int SendMessages(mmsghdr* messages, int count, int group_size, int flags) {
  const int fd = g_discovery_socket_fd;
  if (fd < 0) return count;
  if (group_size < 1) group_size = 1;
  int done = 0;
  int dropped = 0;
  while (done < count) {
    const int sent = sendmmsg(fd, messages + done, static_cast<unsigned>(count - done), flags);
    if (sent > 0) {
      done += sent;
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    int next = done + 1;
    if (sent < 0 && SendBufferFull(errno)) next = (done / group_size + 1) * group_size;
    if (next > count) next = count;
    dropped += next - done;
    done = next;
  }
  return dropped;
}

// periodic: never waits for room in the send buffer (the next one follows
// soon); otherwise each copy may wait for the socket's send time-out.
void SendToAllClients(uint8_t* datagram, int length, bool periodic) {
  thread_local ClientDestinations destinations;
  UpdateClientDestinations(&destinations);
  iovec framed{datagram, static_cast<size_t>(length)};
  mmsghdr messages[kMaxClients];
  const int n = destinations.all_count;
  for (int i = 0; i < n; ++i) Address(&messages[i], &destinations.all[i], &framed);
  if (periodic) {
    SendMessages(messages, n, n, MSG_DONTWAIT);
  } else {
    SendMessages(messages, n, 1, 0);
  }
}

// A length no buffer could hold, or bytes that are not there, send nothing.
bool PayloadUsable(const uint8_t* payload, int length) { return length >= 0 && (payload != nullptr || length == 0); }

void SendData(const uint8_t* payload, int length, bool periodic) {
  if (!PayloadUsable(payload, length)) return;
  // Longer payloads (a long Wi-Fi scan result) are cut to the framing buffer.
  if (length > kMaxDataPayload) length = kMaxDataPayload;
  uint8_t datagram[kClientHeaderSize + kMaxDataPayload];
  PutHeader(datagram, kKindData, TakeNumbers(1));
  if (length > 0) std::memcpy(datagram + kClientHeaderSize, payload, static_cast<size_t>(length));
  SendToAllClients(datagram, length + kClientHeaderSize, periodic);
}

void ReportDroppedVideo() {
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  int64_t last = g_last_drop_log_ms.load(std::memory_order_relaxed);
  if (now - last < 1000 || !g_last_drop_log_ms.compare_exchange_strong(last, now)) return;
  fprintf(stderr, "video send buffer full: copies to viewers dropped\n");
}

}  // namespace

void SendDataMessage(const uint8_t* payload, int length) { SendData(payload, length, true); }

void SendReplyMessage(const uint8_t* payload, int length) {
  if (g_video_send_mutex.try_lock_for(kReplyWait)) g_video_send_mutex.unlock();
  SendData(payload, length, false);
}

void SendVideoDatagrams(VideoDatagram* datagrams, int count) {
  if (datagrams == nullptr || count < 1) return;
  if (count > kVideoBatch) count = kVideoBatch;
  int usable = 0;
  for (int d = 0; d < count; ++d) {
    VideoDatagram& datagram = datagrams[d];
    if (datagram.framed == nullptr || datagram.length < 0) continue;
    if (datagram.length > kVideoFramingPayload) datagram.length = kVideoFramingPayload;
    datagrams[usable++] = datagram;
  }
  if (usable == 0) return;
  thread_local ClientDestinations destinations;
  UpdateClientDestinations(&destinations);
  const int n = destinations.full_count;
  const uint32_t first = TakeNumbers(static_cast<uint32_t>(usable));
  iovec framed[kVideoBatch];
  mmsghdr messages[kVideoBatch * kMaxClients];
  int m = 0;
  for (int d = 0; d < usable; ++d) {
    const uint32_t number = first + static_cast<uint32_t>(d);
    PutHeader(datagrams[d].framed, kKindVideo, number);
    framed[d] = iovec{datagrams[d].framed, static_cast<size_t>(kClientHeaderSize + datagrams[d].length)};
    // Each datagram starts at another viewer, so copies dropped on a full
    // send buffer do not always fall on the same ones.
    for (int k = 0; k < n; ++k) Address(&messages[m++], &destinations.full[(number + k) % n], &framed[d]);
  }
  int dropped;
  {
    std::lock_guard<std::timed_mutex> lock(g_video_send_mutex);
    g_video_send_active.store(1, std::memory_order_relaxed);
    dropped = SendMessages(messages, m, n, MSG_DONTWAIT);
    g_video_send_active.store(0, std::memory_order_relaxed);
  }
  if (dropped > 0) ReportDroppedVideo();
}

void SendVideoDatagram(const uint8_t* payload, int length) {
  if (!PayloadUsable(payload, length)) return;
  if (length > kVideoFramingPayload) length = kVideoFramingPayload;
  uint8_t framed[kClientHeaderSize + kVideoFramingPayload];
  if (length > 0) std::memcpy(framed + kClientHeaderSize, payload, static_cast<size_t>(length));
  VideoDatagram datagram{framed, length};
  SendVideoDatagrams(&datagram, 1);
}

void SendClientMessage(const uint8_t* payload, int length, int kind) {
  if (kind == kKindData) {
    // Dropped, not queued: the periodic senders repeat theirs anyway.
    if (g_video_send_active.load(std::memory_order_relaxed)) return;
    SendDataMessage(payload, length);
  } else if (kind == kKindVideo) {
    SendVideoDatagram(payload, length);
  }
}

void SendShortMessage(int type, int b1, int b2, int b3, int b4, int b5, int b6) {
  const uint8_t message[7] = {static_cast<uint8_t>(type), static_cast<uint8_t>(b1), static_cast<uint8_t>(b2),
                              static_cast<uint8_t>(b3),   static_cast<uint8_t>(b4), static_cast<uint8_t>(b5),
                              static_cast<uint8_t>(b6)};
  SendClientMessage(message, sizeof message, kKindData);
}

void SendShortMessage16(int type, int a, int b, int c) {
  uint8_t message[7];
  message[0] = static_cast<uint8_t>(type);
  PutU16(message + 1, static_cast<uint16_t>(a));
  PutU16(message + 3, static_cast<uint16_t>(b));
  PutU16(message + 5, static_cast<uint16_t>(c));
  SendClientMessage(message, sizeof message, kKindData);
}
