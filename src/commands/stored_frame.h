// Stored frames of different lengths behind one type, so that command tables
// can hold them side by side: each row points at a constexpr FrameTemplate.
#pragma once

#include <cstdint>
#include <cstring>

#include "camera/frame.h"

struct StoredFrame {
  const uint8_t* bytes;
  uint16_t length;
};

template <size_t N>
constexpr StoredFrame Stored(const FrameTemplate<N>& frame) {
  return StoredFrame{frame.data(), static_cast<uint16_t>(N)};
}

// Copies the stored frame onto the stack and sends it while the link is up.
// Returns true when it was sent.
inline bool SendStoredFrame(StoredFrame stored) {
  uint8_t frame[256];
  if (stored.bytes == nullptr || stored.length > sizeof frame) return false;
  std::memcpy(frame, stored.bytes, stored.length);
  return SendFrameIfLinkUp(frame, stored.length);
}
