// For fuzz targets and benchmarks: frames the box sends to the camera go to a
// loopback port that was bound and closed again, so they leave without
// blocking and are dropped by the kernel.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "records/usb_peer.h"

inline void SwallowCameraFrames() {
  int sink = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(sink, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t length = sizeof addr;
  getsockname(sink, reinterpret_cast<sockaddr*>(&addr), &length);
  close(sink);
  if (UsbSocket() < 0) SetUsbSocket(socket(AF_INET, SOCK_DGRAM, 0));
  SetCameraAddress(addr);
}
