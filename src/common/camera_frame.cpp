#include "common/camera_frame.h"

#include <cstring>

#include "common/wire.h"

namespace {

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrc16Table = MakeCrc16Table();
static_assert(kCrc16Table[1] == 0x1189 && kCrc16Table[2] == 0x2312 && kCrc16Table[3] == 0x329B);

}  // namespace

uint16_t CameraCrc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0x3692;
  for (size_t i = 0; i < length; ++i) crc = static_cast<uint16_t>(kCrc16Table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
  return crc;
}

void SealFrame(uint8_t* frame, size_t length) {
  if (length >= 2) PutU16(frame + length - 2, CameraCrc16(frame, length - 2));
}

bool DecodeFrame(const uint8_t* data, size_t length, FrameFields* out) {
  if (length < 13 || data[0] != kFrameStart || data[1] != length) return false;
  out->length = data[1];
  out->sender = data[4];
  out->receiver = data[5];
  out->sequence = GetU16(data + 6);
  out->type = data[8];
  out->set = data[9];
  out->id = data[10];
  out->payload = data + kFrameHeaderSize;
  out->payload_length = length - 13;
  out->header_ok = HeaderCrc8(data, 3) == data[3];
  out->checksum_ok = CameraCrc16(data, length) == 0;
  return true;
}

size_t BuildFrame(uint8_t* out, size_t capacity, uint8_t sender, uint8_t receiver, uint8_t type,
                  uint8_t set, uint8_t id, uint16_t sequence, const uint8_t* payload, size_t payload_length) {
  size_t length = payload_length + 13;
  if (length > 255 || length > capacity) return 0;
  out[0] = kFrameStart;
  out[1] = static_cast<uint8_t>(length);
  out[2] = 0x04;
  out[3] = HeaderCrc8(out, 3);
  out[4] = sender;
  out[5] = receiver;
  PutU16(out + 6, sequence);
  out[8] = type;
  out[9] = set;
  out[10] = id;
  if (payload_length) std::memcpy(out + kFrameHeaderSize, payload, payload_length);
  PutU16(out + length - 2, CameraCrc16(out, length - 2));
  return length;
}
