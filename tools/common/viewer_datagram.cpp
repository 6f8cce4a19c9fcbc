#include "viewer_datagram.h"

#include <cstring>

#include "records/viewer_protocol.h"

size_t BuildViewerDatagram(uint32_t sequence, const uint8_t* payload, size_t length, uint8_t* out, size_t capacity) {
  if (length + kClientHeaderSize > capacity) return 0;
  PutViewerHeader(out, kKindData, sequence);
  if (length) std::memcpy(out + kClientHeaderSize, payload, length);
  return length + kClientHeaderSize;
}

size_t BuildConnectPayload(bool data_only, uint8_t* out) {
  out[0] = kMsgConnect;
  out[1] = data_only ? 1 : 0;
  return 2;
}
