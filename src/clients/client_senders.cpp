// Every send to the viewers: data messages to all registered clients, video
// datagrams to the full ones, each framed behind the 12-byte header.
#include <cstring>

#include "clients/client_table.h"
#include "clients/discovery.h"
#include "clients/protocol.h"
#include "clients/video_bridge.h"
#include "common/wire.h"

std::atomic<uint32_t> g_datagram_counter{0};
std::atomic<uint8_t> g_video_send_active{0};

namespace {

void PutHeader(uint8_t* datagram, uint8_t kind) {
  datagram[0] = kDatagramMagic;
  datagram[1] = kind;
  datagram[2] = 0;
  datagram[3] = 0;
  // Taking the number and advancing it is one step: no two datagrams share one.
  PutU32(datagram + 4, g_datagram_counter.fetch_add(1, std::memory_order_relaxed));
  PutU32(datagram + 8, 0);
}

void SendToClients(const uint8_t* datagram, int length, bool skip_data_only) {
  ClientDestination destinations[kMaxClients];
  int n = CopyClientDestinations(destinations);
  for (int i = 0; i < n; ++i) {
    if (skip_data_only && (destinations[i].flags & kClientDataOnly)) continue;
    SendClientDatagram(datagram, length, destinations[i].address, destinations[i].port);
  }
}

// A length no buffer could hold, or bytes that are not there, send nothing.
bool PayloadUsable(const uint8_t* payload, int length) { return length >= 0 && (payload != nullptr || length == 0); }

}  // namespace

void SendDataMessage(const uint8_t* payload, int length) {
  if (!PayloadUsable(payload, length)) return;
  // Longer payloads (a long Wi-Fi scan result) are cut to the framing buffer.
  if (length > kMaxDataPayload) length = kMaxDataPayload;
  uint8_t datagram[kClientHeaderSize + kMaxDataPayload];
  PutHeader(datagram, kKindData);
  if (length > 0) std::memcpy(datagram + kClientHeaderSize, payload, static_cast<size_t>(length));
  SendToClients(datagram, length + kClientHeaderSize, false);
}

void SendVideoDatagram(const uint8_t* payload, int length) {
  if (!PayloadUsable(payload, length)) return;
  if (length > kVideoFramingPayload) length = kVideoFramingPayload;
  uint8_t datagram[kClientHeaderSize + kVideoFramingPayload];
  PutHeader(datagram, kKindVideo);
  if (length > 0) std::memcpy(datagram + kClientHeaderSize, payload, static_cast<size_t>(length));
  SendToClients(datagram, length + kClientHeaderSize, true);
}

void SendClientMessage(const uint8_t* payload, int length, int kind) {
  if (kind == kKindData) {
    // Dropped, not queued: the periodic senders repeat theirs anyway.
    if (g_video_send_active.load(std::memory_order_relaxed)) return;
    SendDataMessage(payload, length);
  } else if (kind == kKindVideo) {
    g_video_send_active.store(1, std::memory_order_relaxed);
    SendVideoDatagram(payload, length);
    g_video_send_active.store(0, std::memory_order_relaxed);
  }
}

void SendShortMessage(int type, int b1, int b2, int b3, int b4, int b5, int b6) {
  const uint8_t message[7] = {static_cast<uint8_t>(type), static_cast<uint8_t>(b1), static_cast<uint8_t>(b2),
                              static_cast<uint8_t>(b3),   static_cast<uint8_t>(b4), static_cast<uint8_t>(b5),
                              static_cast<uint8_t>(b6)};
  SendClientMessage(message, sizeof message, kKindData);
}

void SendShortMessage16(int type, int a, int b, int c) {
  uint8_t message[7];
  message[0] = static_cast<uint8_t>(type);
  PutU16(message + 1, static_cast<uint16_t>(a));
  PutU16(message + 3, static_cast<uint16_t>(b));
  PutU16(message + 5, static_cast<uint16_t>(c));
  SendClientMessage(message, sizeof message, kKindData);
}
