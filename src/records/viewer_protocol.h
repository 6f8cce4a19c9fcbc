// The viewer datagram: 'B', kind, 2 zero bytes, a 32-bit sequence number, 4 zero
// bytes, then the payload whose first byte is the message type.
#pragma once

#include <cstdint>

constexpr uint16_t kDiscoveryPort = 4242;
constexpr uint16_t kVideoPort = 5000;
constexpr int kClientHeaderSize = 12;
constexpr int kMaxDataPayload = 3992;
constexpr int kMaxVideoPayload = 65000;        // as received
constexpr int kVideoFramingPayload = 65492;    // what the video framing buffer holds
constexpr int kClientReceiveSize = 1500;
constexpr uint8_t kDatagramMagic = 'B';

enum ClientKind : uint8_t { kKindData = 0, kKindVideo = 1 };

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
