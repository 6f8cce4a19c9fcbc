#include "platform/udp_socket.h"
#include "camera/usb_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "camera/camera_link.h"
#include "camera/frame.h"
#include "camera/hud_state.h"
#include "camera/parser.h"
#include "camera/usb_socket.h"
#include "config/shared_config.h"
#include "platform/gpio.h"
#include "platform/source_filter.h"
#include "platform/clock.h"

std::atomic<uint16_t> g_usb_data_bind_port{kUsbDataPort};

namespace {

constexpr size_t kReceiveBufferSize = 65000;

pthread_t g_usb_rx_thread;
int g_usb_rx_fd = -1;  // the socket the receive thread reads, fixed at its start

// Answers go back to wherever the camera's frames come from. Written only when
// it changes, which a camera does rarely.
void LearnCameraAddress(const sockaddr_in& from) {
  UsbDataSocket& s = g_usb_data_socket;
  if (s.peer.sin_addr.s_addr == from.sin_addr.s_addr && s.peer.sin_port == from.sin_port &&
      s.peer.sin_family == from.sin_family) {
    return;
  }
  s.peer = from;
  s.peer_length = sizeof from;
}

void* UsbReceiveThread(void*) {
  pthread_setname_np(pthread_self(), "usb-rx");
  uint8_t buffer[kReceiveBufferSize];
  SourceFilter sources{"camera"};
  for (;;) {
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = recvfrom(g_usb_rx_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    // The pause is for a failing socket only; whatever a peer sends is judged at once.
    if (n < 0) {
      SleepMilliseconds(500);
      continue;
    }
    // Only an intact frame from a connected network speaks for the camera:
    // anything else changes nothing, not even where answers go.
    if (from_length != sizeof from || !IsIntactCameraFrame(buffer, static_cast<size_t>(n))) continue;
    if (!AcceptSource(&sources, from)) continue;
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

void StartUsbData() {
  fprintf(stderr, "Init USB data\n");
  CameraLink* link = GetCameraLink();
  link->hud = GetHudState();
  link->config = GetSharedConfig();

  int fd = OpenBlockingUdpSocket(0);

  UsbDataSocket& s = g_usb_data_socket;
  s.peer = sockaddr_in{};
  s.peer.sin_family = AF_INET;
  s.peer.sin_port = htons(g_usb_data_bind_port.load());
  s.peer.sin_addr.s_addr = htonl(INADDR_ANY);
  s.peer_length = sizeof(sockaddr_in);
  bind(fd, reinterpret_cast<const sockaddr*>(&s.peer), s.peer_length);
  s.fd = fd;

  g_usb_rx_fd = fd;
  pthread_create(&g_usb_rx_thread, nullptr, UsbReceiveThread, nullptr);
}

void StartDataSource() {
  fprintf(stderr, "Init data source\n");
  CameraLink* link = GetCameraLink();
  SharedConfig* config = GetSharedConfig();
  HudState* hud = GetHudState();
  link->config = config;
  link->hud = hud;

  hud->telemetry_connected = 0;
  hud->data_connected = 0;
  hud->hud_visible = 0;
  hud->camera_status_valid = 0;
  link->link_up = 0;
  link->last_rx_ms = 0;

  // Any other value works as Osmo without a mode line.
  link->source_mode = 0;
  if (config->device_mode == 0) {
    fprintf(stderr, "Mode: Osmo\n");
  }
  if (config->device_mode == 1) {
    link->source_mode = 1;
    fprintf(stderr, "Mode: Inspire\n");
  }

  link->cooperative = 0;
  if (config->cooperative_mode == 0) {
    fprintf(stderr, "Cooperative mode: False\n");
  }
  if (config->cooperative_mode == 1) {
    link->cooperative = 1;
    fprintf(stderr, "Cooperative mode: True\n");
  }

  if (config->control_enabled != 0) StartUsbData();

  pinMode(kRecordingIndicatorPin, OUTPUT);
  digitalWrite(kRecordingIndicatorPin, LOW);
}
