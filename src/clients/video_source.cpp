// Each datagram is received straight behind the room for the viewer header,
// so it leaves for the viewers from where it arrived.
#include "clients/video_source.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/shared_field.h"
#include "common/wire.h"
#include "platform/arrival_interface.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "platform/log.h"
#include "platform/source_filter.h"
#include "platform/udp_socket.h"
#include "records/client_table.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/shared_config.h"
#include "records/viewer_protocol.h"

namespace {

constexpr int kVideoSocketBuffer = 6550000;

void SetVideoFlags(uint8_t value) {
  StoreHudVideoConnected(value);
  StoreVideoFlowing(value);
  StoreCameraConnected(value);
}

// The verdict on the last source checked in one batch of datagrams.
struct SourceVerdict {
  bool known = false;
  in_addr_t address = 0;
  int arrival_interface = 0;
  bool accepted = false;
};

// AcceptCameraSource, asked once for a run of datagrams from one source.
bool AcceptBatchSource(SourceVerdict* last, SourceFilter* filter, const sockaddr_in& from, int arrival_interface) {
  if (last->known && last->address == from.sin_addr.s_addr && last->arrival_interface == arrival_interface) {
    return last->accepted;
  }
  *last = SourceVerdict{true, from.sin_addr.s_addr, arrival_interface,
                        AcceptCameraSource(filter, from, arrival_interface)};
  return last->accepted;
}

// Several queued datagrams are taken in one call and sent on together.
void* RunVideoReceiver(void* arg) {
  pthread_setname_np(pthread_self(), "video-rx");
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  constexpr size_t kSlot = kClientHeaderSize + kMaxVideoPayload;
  std::vector<uint8_t> slots(kSlot * kVideoBatch);
  iovec payloads[kVideoBatch];
  mmsghdr messages[kVideoBatch];
  sockaddr_in sources[kVideoBatch];
  struct alignas(cmsghdr) Control {
    char bytes[kArrivalControlSize];
  };
  Control controls[kVideoBatch];
  VideoDatagram batch[kVideoBatch];
  SourceFilter accepted{"video", {}};
  for (int i = 0; i < kVideoBatch; ++i) {
    payloads[i] = iovec{slots.data() + i * kSlot + kClientHeaderSize, kMaxVideoPayload};
    messages[i] = mmsghdr{};
    messages[i].msg_hdr.msg_name = &sources[i];
    messages[i].msg_hdr.msg_iov = &payloads[i];
    messages[i].msg_hdr.msg_iovlen = 1;
    messages[i].msg_hdr.msg_control = controls[i].bytes;
  }
  int received = kVideoBatch;  // the headers the kernel may have written to
  for (;;) {
    for (int i = 0; i < received; ++i) {
      messages[i].msg_hdr.msg_namelen = sizeof sources[i];
      messages[i].msg_hdr.msg_controllen = sizeof controls[i].bytes;
    }
    // Waits for the first datagram only, then takes what else is queued.
    received = recvmmsg(fd, messages, kVideoBatch, MSG_WAITFORONE, nullptr);
    // The pause is for a failing socket only: an empty datagram is skipped at once.
    if (received < 0) {
      received = kVideoBatch;
      if (errno != EINTR) SleepMilliseconds(500);
      continue;
    }
    int count = 0;
    // A batch mostly comes from one source: it is checked once.
    SourceVerdict verdict;
    for (int i = 0; i < received; ++i) {
      if (messages[i].msg_len == 0) continue;
      if (!AcceptBatchSource(&verdict, &accepted, sources[i], ArrivalInterface(messages[i].msg_hdr))) continue;
      batch[count++] = VideoDatagram{slots.data() + i * kSlot, static_cast<int>(messages[i].msg_len)};
    }
    if (count == 0) continue;
    StampVideo(MillisecondClock());
    if (GetLinkState()->video_flowing.load(std::memory_order_relaxed) == 0) {
      fprintf(stderr, "video connected\n");
      NoteEvent(JournalEvent::kVideoLink, "video", "up");
      SetVideoFlags(1);
    }
    ForwardVideo(batch, count);
  }
  return nullptr;
}

}  // namespace

uint16_t StartVideoSourceOn(uint32_t address, uint16_t port) {
  fprintf(stderr, "Init video source\n");
  int fd = OpenBlockingUdpSocket(kVideoSocketBuffer);
  // A failed bind is not fatal: the thread then never receives and the video
  // link stays disconnected.
  const uint16_t bound = BindUdpSocket(fd, address, port);
  ReportArrivalInterface(fd);
  SetVideoFlags(0);
  StampVideo(0);
  pthread_t thread;
  pthread_create(&thread, nullptr, RunVideoReceiver, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  return bound;
}

void StartVideoSource() { StartVideoSourceOn(INADDR_ANY, kVideoPort); }

void StartVideoBridge() {
  fprintf(stderr, "Init video bridge\n");
  ClearClientTable();
}

void ForwardVideo(VideoDatagram* datagrams, int count) {
  // Received and counted as video activity all the same; only forwarding stops.
  if (LoadShared(&GetSharedConfig()->disable_video_stream)) return;
  SendVideoDatagrams(datagrams, count);
}

void CheckVideoTimeoutAt(uint32_t now) {
  const LinkState* link = GetLinkState();
  if (static_cast<int32_t>(now - link->last_video_ms.load(std::memory_order_relaxed)) > 3000 &&
      link->video_flowing.load(std::memory_order_relaxed) == 1) {
    LogWarning("video disconnected\n");
    NoteEvent(JournalEvent::kVideoLink, "video", "down");
    SetVideoFlags(0);
  }
  const bool connected = LoadShared(&GetHudState()->video_connected) != 0;
  StoreHudVideoText(connected ? "" : "video disconnected");
  SendShortMessage(kMsgLinkState, 1, connected ? 2 : 0, 0, 0, 0, 0);
}

void CheckVideoTimeout() { CheckVideoTimeoutAt(MillisecondClock()); }
