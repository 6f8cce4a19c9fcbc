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
#include "camera/hud_state.h"
#include "camera/parser.h"
#include "camera/usb_socket.h"
#include "config/shared_config.h"
#include "platform/gpio.h"
#include "startup/clock.h"

std::atomic<uint16_t> g_usb_data_bind_port{kUsbDataPort};

namespace {

constexpr size_t kReceiveBufferSize = 65000;

pthread_t g_usb_rx_thread;
int g_usb_rx_fd = -1;  // the socket the receive thread reads, fixed at its start

void* UsbReceiveThread(void*) {
  pthread_setname_np(pthread_self(), "usb-rx");
  uint8_t buffer[kReceiveBufferSize];
  for (;;) {
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = recvfrom(g_usb_rx_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n >= 0 && from_length == sizeof from) {
      // Answers go back to wherever the camera's frames come from.
      g_usb_data_socket.peer = from;
      g_usb_data_socket.peer_length = from_length;
    }
    if (n < 1) {
      SleepMilliseconds(500);
      continue;
    }
    ParseCameraDatagram(buffer, static_cast<uint16_t>(n));
  }
  return nullptr;
}

}  // namespace

void ParseCameraDatagram(const uint8_t* buffer, uint16_t length) {
  // The length byte must match the datagram: one whole frame of at most 255
  // bytes. Shorter than 2 bytes there is no length byte to read.
  if (buffer == nullptr || length < 2 || buffer[1] != length) return;
  ParseCameraFrame(buffer);
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
