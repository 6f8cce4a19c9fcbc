// Camera frames: 0x55, an 11-byte header, a payload and a CRC-16, one frame per
// UDP datagram on the USB link. The box sends stored frames (templates, all in
// senders/camera_frames.h) through the camera sender (senders/camera_sender.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr uint8_t kFrameStart = 0x55;
constexpr size_t kFrameHeaderSize = 11;

// Reflected CRC-16 (polynomial 0x1021 in its LSB-first form 0x8408), initial
// value 0x3692, no final XOR.
uint16_t CameraCrc16(const uint8_t* data, size_t length);

// Reflected CRC-8 (polynomial 0x31, LSB-first 0x8C), initial value 0x77, over
// the first three bytes of a frame. Never computed at run time: templates store it.
constexpr uint8_t HeaderCrc8(const uint8_t* data, size_t length) {
  uint8_t crc = 0x77;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : static_cast<uint8_t>(crc >> 1);
  }
  return crc;
}

// A stored frame as it goes on the wire; sequence and checksum bytes are
// placeholders that the send operations overwrite.
template <size_t N>
using FrameTemplate = std::array<uint8_t, N>;

// Checks a stored frame: start byte, length byte equal to its size, version
// byte 0x04, the stored header checksum, and for key-event frames (set 0x01,
// id 0x01) the XOR check byte at the end of the payload.
template <size_t N>
constexpr bool FrameTemplateValid(const FrameTemplate<N>& f) {
  if (N < 13 || N > 255) return false;
  if (f[0] != kFrameStart || f[1] != N || f[2] != 0x04) return false;
  const uint8_t head[3] = {f[0], f[1], f[2]};
  if (HeaderCrc8(head, 3) != f[3]) return false;
  if (f[9] == 0x01 && f[10] == 0x01) {
    if (N != 23) return false;
    uint8_t x = 0;
    for (size_t i = 11; i < 20; ++i) x ^= f[i];
    if (x != f[20]) return false;
  }
  return true;
}

// Stores the CRC-16 of the first length - 2 bytes in the last two.
void SealFrame(uint8_t* frame, size_t length);

// The fields of a received or sent frame, as tools and tests read them.
struct FrameFields {
  uint8_t length;
  uint8_t sender;
  uint8_t receiver;
  uint8_t type;
  uint8_t set;
  uint8_t id;
  uint16_t sequence;
  const uint8_t* payload;
  size_t payload_length;
  bool header_ok;    // stored header checksum matches
  bool checksum_ok;  // CRC-16 over the whole frame is 0
};

// Returns false when the bytes are not one whole frame (start byte, length).
bool DecodeFrame(const uint8_t* data, size_t length, FrameFields* out);

// Builds a complete frame with both checksums (the camera's side uses this;
// the box itself only sends stored frames). Returns its length, 0 if it does
// not fit in capacity or exceeds 255 bytes.
size_t BuildFrame(uint8_t* out, size_t capacity, uint8_t sender, uint8_t receiver, uint8_t type,
                  uint8_t set, uint8_t id, uint16_t sequence, const uint8_t* payload, size_t payload_length);
