// Frames to the camera. Every frame the box sends is a stored frame (see
// camera_frames.h) copied onto the sender's stack, patched where the command
// needs it, numbered, sealed with its checksum and sent from the USB socket to
// the camera's address; while the link is down nothing is sent. Any thread may
// send: the counter is an atomic and each send is one datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/camera_frame.h"

// Stamps the next sequence number into bytes 6-7 (the counter advances by
// one), stores the checksum in the last two bytes and sends the datagram.
int SendCameraFrame(uint8_t* frame, uint16_t length);

// As SendCameraFrame but keeps bytes 6-7: the caller copied the sequence of
// the query it answers.
int SendCameraReply(uint8_t* frame, uint16_t length);

// Sends the frame with SendCameraFrame only while the link is up. Returns true
// when it was sent; a frame offered while the link is down is dropped.
bool SendFrameIfLinkUp(uint8_t* frame, uint16_t length);

// The copy-patch-send of every stored frame: patch(frame) changes the copy
// (a byte, a little-endian field) before it goes out while the link is up.
// Returns true when it was sent.
template <size_t N, typename Patch>
bool SendPatched(const FrameTemplate<N>& stored, Patch patch) {
  uint8_t frame[N];
  std::memcpy(frame, stored.data(), N);
  patch(frame);
  return SendFrameIfLinkUp(frame, static_cast<uint16_t>(N));
}

// A stored frame as it stands.
template <size_t N>
bool SendTemplateIfLinkUp(const FrameTemplate<N>& stored) {
  return SendPatched(stored, [](uint8_t*) {});
}

// A stored frame with the byte at offset set to value.
template <size_t N>
bool SendWithByte(const FrameTemplate<N>& stored, size_t offset, uint8_t value) {
  return SendPatched(stored, [&](uint8_t* frame) { frame[offset] = value; });
}

// Stored frames of different lengths behind one type, so that tables can hold
// them side by side: each points at a constexpr FrameTemplate.
struct StoredFrame {
  const uint8_t* bytes;
  uint16_t length;
};

template <size_t N>
constexpr StoredFrame Stored(const FrameTemplate<N>& frame) {
  return StoredFrame{frame.data(), static_cast<uint16_t>(N)};
}

// As SendTemplateIfLinkUp for a stored frame of any length up to 255 bytes.
bool SendStoredFrame(StoredFrame stored);
