#include "senders/camera_sender.h"

#include <sys/socket.h>

#include "records/link_state.h"
#include "records/usb_peer.h"

namespace {

int SendUsbDatagram(const uint8_t* buffer, uint16_t length) {
  const sockaddr_in to = CameraAddress();
  return static_cast<int>(
      sendto(UsbSocket(), buffer, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to));
}

}  // namespace

int SendCameraFrame(uint8_t* frame, uint16_t length) {
  if (length < 8) return -1;  // no room for a sequence number: not a frame
  const uint32_t seq = NextFrameSequence();
  frame[6] = static_cast<uint8_t>(seq & 0xFF);
  frame[7] = static_cast<uint8_t>((seq >> 8) & 0xFF);
  SealFrame(frame, length);
  return SendUsbDatagram(frame, length);
}

int SendCameraReply(uint8_t* frame, uint16_t length) {
  SealFrame(frame, length);
  return SendUsbDatagram(frame, length);
}

bool SendFrameIfLinkUp(uint8_t* frame, uint16_t length) {
  if (!GetLinkState()->link_up.load(std::memory_order_relaxed)) return false;
  SendCameraFrame(frame, length);
  return true;
}

bool SendStoredFrame(StoredFrame stored) {
  uint8_t frame[256];
  if (stored.bytes == nullptr || stored.length > sizeof frame) return false;
  std::memcpy(frame, stored.bytes, stored.length);
  return SendFrameIfLinkUp(frame, stored.length);
}
