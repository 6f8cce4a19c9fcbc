// The viewer datagram: 'B', kind, 2 zero bytes, a 32-bit sequence number, 4 zero
// bytes, then the payload whose first byte is the message type.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wire.h"

constexpr uint16_t kDiscoveryPort = 4242;
constexpr uint16_t kVideoPort = 5000;
constexpr int kClientHeaderSize = 12;
constexpr int kMaxDataPayload = 3992;
constexpr int kMaxVideoPayload = 65000;        // as received
constexpr int kVideoFramingPayload = 65492;    // what the video framing buffer holds
constexpr int kClientReceiveSize = 1500;
constexpr uint8_t kDatagramMagic = 'B';

enum ClientKind : uint8_t { kKindData = 0, kKindVideo = 1 };

// The header of every viewer datagram, both ways.
inline void PutViewerHeader(uint8_t* out, uint8_t kind, uint32_t sequence) {
  out[0] = kDatagramMagic;
  out[1] = kind;
  out[2] = 0;
  out[3] = 0;
  PutU32(out + 4, sequence);
  PutU32(out + 8, 0);
}

struct ViewerHeader {
  uint8_t kind;
  uint32_t sequence;
};

// What a received datagram's header says; false for one shorter than a header
// or without the magic byte.
inline bool ReadViewerHeader(const uint8_t* datagram, size_t length, ViewerHeader* header) {
  if (length < static_cast<size_t>(kClientHeaderSize) || datagram[0] != kDatagramMagic) return false;
  header->kind = datagram[1];
  header->sequence = GetU32(datagram + 4);
  return true;
}

// The box's answer to a connect request: the magic byte alone.
inline bool IsViewerAck(const uint8_t* datagram, size_t length) {
  return length == 1 && datagram[0] == kDatagramMagic;
}

// Client to box.
enum ClientRequestType : uint8_t {
  kMsgConnect = 0,
  kMsgDisconnect = 1,
  kMsgGimbalControl = 5,
  kMsgAttitude = 6,
  kMsgJson = '{',
};

// Box to client.
enum ClientMessageType : uint8_t {
  kMsgGimbalAttitude = 0,
  kMsgSettingsRecord = 2,
  kMsgDigitalZoom = 3,
  kMsgLinkState = 5,
  kMsgStatus = 6,
  kMsgStatusRecord = 7,
  kMsgOrientationLock = 8,
  kMsgRawAttitude = 10,
  kMsgFocusState = 12,
  kMsgFocusPoint = 13,
  kMsgDataBlock = 14,
  kMsgRcChannels = 15,
  kMsgFocusBytes = 16,
  kMsgJsonText = '{',
};

// The status message (kMsgStatus): payload byte 1 holds these flags, byte 2
// the viewer count, byte 4 the focus assistant, byte 5 the RC input status.
enum StatusFlag : uint8_t {
  kStatusAlways = 0x01,
  kStatusAccessPoint = 0x02,
  kStatusHdmi = 0x04,
  kStatusCamera = 0x10,
  kStatusSibling0 = 0x40,  // bit 0 of each sibling status byte
  kStatusSibling1 = 0x80,
};
