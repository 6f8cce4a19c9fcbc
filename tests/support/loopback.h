// Real UDP sockets on 127.0.0.1 for unit tests: the camera's end of the USB
// link and viewer clients.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/camera_frame.h"

using Datagram = std::vector<uint8_t>;

// A UDP socket bound to 127.0.0.1 on a free port.
int OpenLoopbackUdp(uint16_t* port);

// Waits up to first_wait_ms for a datagram, then keeps reading until no more
// arrives for quiet_ms.
std::vector<Datagram> ReceiveDatagrams(int fd, int quiet_ms = 100, int first_wait_ms = 1000);

// Sends bytes from fd to 127.0.0.1:port.
void SendTo(int fd, uint16_t port, const void* data, size_t length);

// The camera's end of the USB link: the box's frame senders send to camera_fd.
struct CameraEnd {
  int box_fd = -1;
  int camera_fd = -1;
  uint16_t box_port = 0;
  uint16_t camera_port = 0;
};

// Points the USB data socket at a fresh loopback pair and sets the link up (or down).
CameraEnd AttachCameraEnd(bool link_up = true);
void DetachCameraEnd(CameraEnd& end);

// A frame as the camera received it.
struct SentFrame {
  uint8_t sender, receiver, type, set, id;
  uint16_t sequence;
  std::vector<uint8_t> payload;
  std::vector<uint8_t> raw;
  bool checksum_ok;
};
// One datagram decoded as a frame (fields left zero when it is not one).
SentFrame DecodeSentFrame(const Datagram& d);
std::vector<SentFrame> TakeFrames(const CameraEnd& end, int quiet_ms = 100, int first_wait_ms = 300);

// "02>01 40 02:2A | 03" style text of a frame, for readable expectations.
std::string FrameText(const SentFrame& f);
std::string HexBytes(const std::vector<uint8_t>& bytes);
