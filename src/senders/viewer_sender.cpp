// Each viewer's copies leave from its own socket (ViewerSocket), a batch of
// video datagrams in one sendmmsg call.
#include "senders/viewer_sender.h"

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <mutex>

#include "common/wire.h"
#include "platform/log.h"
#include "records/client_table.h"
#include "records/viewer_protocol.h"
#include "records/viewer_traffic.h"
#include "senders/viewer_sockets.h"

namespace {

// One number per datagram built, data and video alike.
std::atomic<uint32_t> g_datagram_counter{0};
// 1 while a video batch goes out; written by the video sender, read by every sender.
std::atomic<uint8_t> g_video_send_active{0};

// How long a reply waits for the video send in progress before going anyway.
constexpr auto kReplyWait = std::chrono::milliseconds(5);
// One video send at a time.
std::mutex g_video_send_mutex;
// A reply waits on g_video_send_done for g_video_send_active to drop; the
// video sender takes g_reply_mutex to notify only while someone waits.
std::mutex g_reply_mutex;
std::condition_variable g_video_send_done;
std::atomic<int> g_reply_waiters{0};
std::atomic<int64_t> g_last_drop_log_ms{-1000};

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

// Sends messages[0, count) from fd in as few calls as the kernel allows. A
// message the kernel refuses is dropped (drop(i) is called for it) and the
// rest still go, until the socket's send buffer is full: returns the index of
// the first message not sent for that, count when none was.
template <typename Drop>
int SendUntilFull(int fd, mmsghdr* messages, int count, int flags, Drop drop) {
  int done = 0;
  while (done < count) {
    const int sent = sendmmsg(fd, messages + done, static_cast<unsigned>(count - done), flags);
    if (sent > 0) {
      done += sent;
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && SendBufferFull(errno)) {
      return done;
    } else {
      drop(done);
      ++done;
    }
  }
  return count;
}

// As SendUntilFull, all messages to one viewer: on a full send buffer the
// rest are dropped too, as they would fail alike (counted in *dropped). True
// when the buffer was full.
bool SendToViewer(int fd, mmsghdr* messages, int count, int flags, int* dropped) {
  const int done = SendUntilFull(fd, messages, count, flags, [dropped](int) { ++*dropped; });
  *dropped += count - done;
  return done < count;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Where the video copies leave from, by table row; kept by the video sender
// under g_video_send_mutex. Normally all copies leave from the shared socket
// in one sendmmsg call. When its send buffer fills, no one can tell
// whose queue filled it: every viewer moves to its own socket, where a slow
// viewer's queue fills only its own buffer. A viewer whose own buffer did not
// fill for kOwnSocketHold returns to the shared socket.
constexpr int64_t kOwnSocketHoldMs = 10000;
struct VideoRoutes {
  bool own[kMaxClients];
  int64_t own_until_ms[kMaxClients];
  int own_count;
  uint32_t moves;  // advanced whenever a viewer moves either way
};
VideoRoutes g_routes;

void ReturnRested(int64_t now) {
  for (int row = 0; row < kMaxClients; ++row) {
    if (g_routes.own[row] && now >= g_routes.own_until_ms[row]) {
      g_routes.own[row] = false;
      --g_routes.own_count;
      ++g_routes.moves;
    }
  }
}

void KeepOnOwnSocket(int row, int64_t now) {
  if (!g_routes.own[row]) {
    ++g_routes.own_count;
    ++g_routes.moves;
  }
  g_routes.own[row] = true;
  g_routes.own_until_ms[row] = now + kOwnSocketHoldMs;
}

// The shared socket's call, made ready once for the destinations and routes
// it was built for, so a batch only sets its datagrams into framed. Kept by
// the video sender under g_video_send_mutex.
struct VideoPlan {
  ClientDestinations to;
  uint32_t built_version = 0;  // to.version it was built for; 0: never built
  uint32_t built_moves = 0;
  bool built_can_move = false;
  bool on_shared[kMaxClients];  // by index into to.full
  int shared[kMaxClients];      // the indices into to.full of the viewers on the shared socket
  int shared_count = 0;
  iovec framed[kVideoBatch];
  // Datagram after datagram, each to every viewer on the shared socket:
  // message d * shared_count + j carries framed[d] to to.full[shared[j]].
  mmsghdr messages[kVideoBatch * kMaxClients];
};
VideoPlan g_plan;

void PreparePlan(VideoPlan& plan, bool can_move) {
  if (plan.built_version == plan.to.version && plan.built_moves == g_routes.moves &&
      plan.built_can_move == can_move) {
    return;
  }
  plan.shared_count = 0;
  for (int k = 0; k < plan.to.full_count; ++k) {
    plan.on_shared[k] = !can_move || !g_routes.own[plan.to.full[k].row];
    if (plan.on_shared[k]) plan.shared[plan.shared_count++] = k;
  }
  for (int d = 0; d < kVideoBatch; ++d) {
    for (int j = 0; j < plan.shared_count; ++j) {
      Address(&plan.messages[d * plan.shared_count + j], &plan.to.full[plan.shared[j]].address, &plan.framed[d]);
    }
  }
  plan.built_version = plan.to.version;
  plan.built_moves = g_routes.moves;
  plan.built_can_move = can_move;
}

int TotalDropped(const int* dropped, int viewers) {
  int total = 0;
  for (int k = 0; k < viewers; ++k) total += dropped[k];
  return total;
}

// Sends plan.framed[0, count) to every full viewer without waiting for room
// in a send buffer. Returns the number of copies dropped; dropped[k] counts
// those of viewer plan.to.full[k] (dropped has room for kMaxClients).
int SendVideoCopies(VideoPlan& plan, int count, int* dropped) {
  ClientDestinations& to = plan.to;
  const bool can_move = ViewerSocketsOpen();
  int64_t now_ms = -1;  // read once, when needed
  auto now = [&now_ms] { return now_ms >= 0 ? now_ms : (now_ms = NowMs()); };
  if (g_routes.own_count > 0) ReturnRested(now());
  PreparePlan(plan, can_move);
  std::fill(dropped, dropped + kMaxClients, 0);

  // Shared socket: one call for the whole batch.
  const int n = plan.shared_count;
  const int m = count * n;
  auto viewer = [&plan, n](int i) { return plan.shared[i % n]; };
  int refused = 0;
  const int done = SendUntilFull(SharedViewerSocket(), plan.messages, m, MSG_DONTWAIT, [&](int i) {
    ++dropped[viewer(i)];
    ++refused;
  });
  if (done == m && n == to.full_count) return refused;
  if (done < m) {
    if (!can_move) {
      for (int i = done; i < m; ++i) ++dropped[viewer(i)];
      return TotalDropped(dropped, to.full_count);
    }
    for (int j = 0; j < n; ++j) KeepOnOwnSocket(to.full[plan.shared[j]].row, now());
    // What did not fit goes from each viewer's own socket.
    bool full[kMaxClients] = {};
    for (int i = done; i < m; ++i) {
      const int k = viewer(i);
      if (full[k]) {
        ++dropped[k];
        continue;
      }
      full[k] = SendToViewer(ViewerSocket(to.full[k].row), &plan.messages[i], 1, MSG_DONTWAIT, &dropped[k]);
    }
  }

  // Own sockets: every datagram to one viewer in one call.
  for (int k = 0; k < to.full_count; ++k) {
    if (plan.on_shared[k]) continue;
    const int row = to.full[k].row;
    mmsghdr messages[kVideoBatch];
    for (int d = 0; d < count; ++d) Address(&messages[d], &to.full[k].address, &plan.framed[d]);
    if (SendToViewer(ViewerSocket(row), messages, count, MSG_DONTWAIT, &dropped[k])) KeepOnOwnSocket(row, now());
  }
  return TotalDropped(dropped, to.full_count);
}

// periodic: never waits for room in a send buffer (the next one follows
// soon); otherwise each copy may wait for the socket's send time-out.
void SendToAllClients(uint8_t* datagram, int length, bool periodic) {
  thread_local ClientDestinations destinations;
  UpdateClientDestinations(&destinations);
  iovec framed{datagram, static_cast<size_t>(length)};
  int dropped = 0;
  for (int i = 0; i < destinations.all_count; ++i) {
    mmsghdr message;
    Address(&message, &destinations.all[i].address, &framed);
    SendToViewer(ViewerSocket(destinations.all[i].row), &message, 1, periodic ? MSG_DONTWAIT : 0, &dropped);
  }
}

// A length no buffer could hold, or bytes that are not there, send nothing.
bool PayloadUsable(const uint8_t* payload, int length) { return length >= 0 && (payload != nullptr || length == 0); }

void SendData(const uint8_t* payload, int length, bool periodic) {
  if (!PayloadUsable(payload, length)) return;
  // Longer payloads (a long Wi-Fi scan result) are cut to the framing buffer.
  if (length > kMaxDataPayload) length = kMaxDataPayload;
  uint8_t datagram[kClientHeaderSize + kMaxDataPayload];
  PutViewerHeader(datagram, kKindData, TakeNumbers(1));
  if (length > 0) std::memcpy(datagram + kClientHeaderSize, payload, static_cast<size_t>(length));
  SendToAllClients(datagram, length + kClientHeaderSize, periodic);
}

void ReportDroppedVideo() {
  const int64_t now = NowMs();
  int64_t last = g_last_drop_log_ms.load(std::memory_order_relaxed);
  if (now - last < 1000 || !g_last_drop_log_ms.compare_exchange_strong(last, now)) return;
  LogWarning("video copies dropped: a viewer's send queue is full\n");
}

}  // namespace

void SendDataMessage(const uint8_t* payload, int length) { SendData(payload, length, true); }

void SendReplyMessage(const uint8_t* payload, int length) {
  if (g_video_send_active.load() != 0) {
    g_reply_waiters.fetch_add(1);
    {
      std::unique_lock<std::mutex> lock(g_reply_mutex);
      g_video_send_done.wait_for(lock, kReplyWait, [] { return g_video_send_active.load() == 0; });
    }
    g_reply_waiters.fetch_sub(1);
  }
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
  const uint32_t first = TakeNumbers(static_cast<uint32_t>(usable));
  for (int d = 0; d < usable; ++d) PutViewerHeader(datagrams[d].framed, kKindVideo, first + static_cast<uint32_t>(d));
  int dropped;
  {
    std::lock_guard<std::mutex> lock(g_video_send_mutex);
    UpdateClientDestinations(&g_plan.to);
    for (int d = 0; d < usable; ++d) {
      g_plan.framed[d] = iovec{datagrams[d].framed, static_cast<size_t>(kClientHeaderSize + datagrams[d].length)};
    }
    g_video_send_active.store(1);
    int dropped_by_viewer[kMaxClients];
    dropped = SendVideoCopies(g_plan, usable, dropped_by_viewer);
    CountVideoCopies(g_plan.to, dropped > 0 ? dropped_by_viewer : nullptr, usable);
    // Sequentially consistent with the waiters' count: a reply that missed
    // this store is counted here, and is woken.
    g_video_send_active.store(0);
  }
  if (g_reply_waiters.load() > 0) {
    { std::lock_guard<std::mutex> wake(g_reply_mutex); }
    g_video_send_done.notify_all();
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

uint32_t NextDatagramNumber() { return g_datagram_counter.load(); }

void SetNextDatagramNumber(uint32_t number) { g_datagram_counter = number; }

bool VideoSendActive() { return g_video_send_active.load() != 0; }

void SetVideoSendActive(bool active) { g_video_send_active = active ? 1 : 0; }
