// The camera's video stream on UDP 5000: received, tracked for the video link
// state, and forwarded unchanged to the full clients.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "platform/udp_socket.h"
#include "camera/hud_state.h"
#include "clients/client_table.h"
#include "clients/protocol.h"
#include "clients/video_bridge.h"
#include "common/wire.h"
#include "config/shared_config.h"
#include "platform/source_filter.h"
#include "startup/clock.h"

std::atomic<uint32_t> g_last_video_ms{0};
std::atomic<uint8_t> g_video_flowing{0};

namespace {

constexpr int kVideoSocketBuffer = 6550000;

void SetVideoFlags(uint8_t value) {
  GetHudState()->video_connected = value;
  g_video_flowing.store(value, std::memory_order_relaxed);
  GetSharedConfig()->camera_connected = value;
}

void* VideoReceiveThread(void* arg) {
  pthread_setname_np(pthread_self(), "video-rx");
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  uint8_t buffer[kMaxVideoPayload];
  SourceFilter sources{"video"};
  for (;;) {
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    // The pause is for a failing socket only: an empty datagram is skipped at once.
    if (n < 0) {
      SleepMilliseconds(500);
      continue;
    }
    if (n == 0 || !AcceptSource(&sources, from)) continue;
    g_last_video_ms.store(MillisecondClock(), std::memory_order_relaxed);
    if (g_video_flowing.load(std::memory_order_relaxed) == 0) {
      fprintf(stderr, "video connected\n");
      SetVideoFlags(1);
    }
    ForwardVideo(buffer, static_cast<int>(n));
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
  GetHudState()->video_connected = 0;
  GetSharedConfig()->camera_connected = 0;
  g_video_flowing.store(0, std::memory_order_relaxed);
  g_last_video_ms.store(0, std::memory_order_relaxed);
  pthread_t thread;
  pthread_create(&thread, nullptr, VideoReceiveThread, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  return bound;
}

void StartVideoSource() { StartVideoSourceOn(INADDR_ANY, kVideoPort); }

void StartVideoBridge() {
  fprintf(stderr, "Init video bridge\n");
  ClearClientTable();
}

void ForwardVideo(const uint8_t* payload, int length) {
  // Received and counted as video activity all the same; only forwarding stops.
  if (GetSharedConfig()->disable_video_stream) return;
  SendClientMessage(payload, length, kKindVideo);
}

void CheckVideoTimeoutAt(uint32_t now) {
  if (static_cast<int32_t>(now - g_last_video_ms.load(std::memory_order_relaxed)) > 3000 &&
      g_video_flowing.load(std::memory_order_relaxed) == 1) {
    fprintf(stderr, "video disconnected\n");
    SetVideoFlags(0);
  }
  HudState* hud = GetHudState();
  const bool connected = hud->video_connected != 0;
  CopyTextField(hud->video_text, sizeof hud->video_text, connected ? "" : "video disconnected");
  SendShortMessage(kMsgLinkState, 1, connected ? 2 : 0, 0, 0, 0, 0);
}

void CheckVideoTimeout() { CheckVideoTimeoutAt(MillisecondClock()); }
