// Little-endian readers and writers over byte buffers. Every wire field of the
// camera frames and the viewer datagrams goes through these, never through casts.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t GetI16(const uint8_t* p) { return static_cast<int16_t>(GetU16(p)); }
inline uint32_t GetU24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t GetU32(const uint8_t* p) { return GetU24(p) | (static_cast<uint32_t>(p[3]) << 24); }
inline float GetF32(const uint8_t* p) {
  uint32_t bits = GetU32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU24(uint8_t* p, uint32_t v) {
  PutU16(p, static_cast<uint16_t>(v));
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, static_cast<uint16_t>(v));
  PutU16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void PutF32(uint8_t* p, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutU32(p, bits);
}

// A number of width bytes (1 to 4), for fields whose width a table gives.
inline uint32_t GetLittleEndian(const uint8_t* p, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline void PutLittleEndian(uint8_t* p, uint32_t v, int width) {
  for (int i = 0; i < width; ++i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

// Copies text into a fixed field, cut to size - 1 characters, always NUL-terminated.
inline void CopyTextField(char* field, size_t size, const char* text) {
  size_t n = std::strlen(text);
  if (n > size - 1) n = size - 1;
  std::memcpy(field, text, n);
  std::memset(field + n, 0, size - n);
}

// Network byte order, for the few standard formats the tools speak (RTP).
inline uint16_t GetU16BigEndian(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t GetU32BigEndian(const uint8_t* p) {
  return (static_cast<uint32_t>(GetU16BigEndian(p)) << 16) | GetU16BigEndian(p + 2);
}
inline void PutU16BigEndian(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutU32BigEndian(uint8_t* p, uint32_t v) {
  PutU16BigEndian(p, static_cast<uint16_t>(v >> 16));
  PutU16BigEndian(p + 2, static_cast<uint16_t>(v));
}
