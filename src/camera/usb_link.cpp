#include "camera/usb_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include <atomic>

#include "camera/parser.h"
#include "common/camera_frame.h"
#include "common/shared_field.h"
#include "platform/arrival_interface.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "platform/source_filter.h"
#include "platform/udp_socket.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/shared_config.h"
#include "records/usb_peer.h"

namespace {

constexpr size_t kReceiveBufferSize = 65000;

std::atomic<uint16_t> g_bind_port{kUsbDataPort};
pthread_t g_usb_rx_thread;
int g_usb_rx_fd = -1;  // the socket the receive thread reads, fixed at its start

// Answers go back to wherever the camera's frames come from. Written only when
// it changes, which a camera does rarely.
void LearnCameraAddress(const sockaddr_in& from) {
  const sockaddr_in known = CameraAddress();
  if (known.sin_addr.s_addr == from.sin_addr.s_addr && known.sin_port == from.sin_port) return;
  SetCameraAddress(from);
}

void* RunCameraReceiver(void*) {
  pthread_setname_np(pthread_self(), "usb-rx");
  uint8_t buffer[kReceiveBufferSize];
  SourceFilter sources{"camera", {}};
  for (;;) {
    sockaddr_in from{};
    iovec data{buffer, sizeof buffer};
    alignas(cmsghdr) char control[kArrivalControlSize];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = recvmsg(g_usb_rx_fd, &message, 0);
    // The pause is for a failing socket only; whatever a peer sends is judged at once.
    if (n < 0) {
      SleepMilliseconds(500);
      continue;
    }
    // Only an intact frame from the camera's link speaks for the camera:
    // anything else changes nothing, not even where answers go.
    if (message.msg_namelen != sizeof from || !IsIntactCameraFrame(buffer, static_cast<size_t>(n))) continue;
    if (!AcceptCameraSource(&sources, from, ArrivalInterface(message))) continue;
    LearnCameraAddress(from);
    ParseCameraFrame(buffer);
  }
  return nullptr;
}

}  // namespace

bool IsIntactCameraFrame(const uint8_t* buffer, size_t length) {
  if (buffer == nullptr || length < 13 || length > 255) return false;
  if (buffer[0] != kFrameStart || buffer[1] != length) return false;
  return HeaderCrc8(buffer, 3) == buffer[3] && CameraCrc16(buffer, length) == 0;
}

void ParseCameraDatagram(const uint8_t* buffer, uint16_t length) {
  if (IsIntactCameraFrame(buffer, length)) ParseCameraFrame(buffer);
}

void SetUsbDataBindPort(uint16_t port) { g_bind_port = port; }

void StartUsbData() {
  fprintf(stderr, "Init USB data\n");
  const int fd = OpenBlockingUdpSocket(0);

  // Until the camera speaks, frames go to the bound address itself.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(g_bind_port.load());
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  ReportArrivalInterface(fd);
  SetCameraAddress(local);
  SetUsbSocket(fd);

  g_usb_rx_fd = fd;
  pthread_create(&g_usb_rx_thread, nullptr, RunCameraReceiver, nullptr);
}

void StartDataSource() {
  fprintf(stderr, "Init data source\n");
  const SharedConfig* config = GetSharedConfig();

  StoreHudDataLink(0);
  StoreHudFlag(HudFlag::kHudVisible, 0);
  ResetDataLink();

  // Any other value works as Osmo without a mode line.
  uint32_t source_mode = 0;
  if (config->device_mode == 0) {
    fprintf(stderr, "Mode: Osmo\n");
  }
  if (config->device_mode == 1) {
    source_mode = 1;
    fprintf(stderr, "Mode: Inspire\n");
  }

  uint8_t cooperative = 0;
  if (config->cooperative_mode == 0) {
    fprintf(stderr, "Cooperative mode: False\n");
  }
  if (config->cooperative_mode == 1) {
    cooperative = 1;
    fprintf(stderr, "Cooperative mode: True\n");
  }
  SetLinkModes(source_mode, cooperative);

  if (config->control_enabled != 0) StartUsbData();

  pinMode(kRecordingIndicatorPin, OUTPUT);
  digitalWrite(kRecordingIndicatorPin, LOW);
}
