#include "printer.h"

#include <cstdio>

#include "common/camera_frame.h"

void FormatHex(const uint8_t* data, size_t length, char* out, size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  size_t used = 0;
  for (size_t i = 0; i < length && used + 4 < size; ++i)
    used += static_cast<size_t>(std::snprintf(out + used, size - used, i ? " %02X" : "%02X", data[i]));
}

void FormatFrame(const uint8_t* data, size_t length, char* out, size_t size) {
  if (size == 0) return;
  FrameFields f{};
  if (!DecodeFrame(data, length, &f)) {
    int n = std::snprintf(out, size, "junk %zu | ", length);
    if (n > 0 && static_cast<size_t>(n) < size) FormatHex(data, length, out + n, size - static_cast<size_t>(n));
    return;
  }
  int n = std::snprintf(out, size, "%u %02X>%02X %02X %02X:%02X seq=%u", f.length, f.sender, f.receiver, f.type,
                        f.set, f.id, f.sequence);
  if (n < 0 || static_cast<size_t>(n) >= size) return;
  size_t used = static_cast<size_t>(n);
  if (f.payload_length && used + 3 < size) {
    used += static_cast<size_t>(std::snprintf(out + used, size - used, " | "));
    FormatHex(f.payload, f.payload_length, out + used, size - used);
    while (out[used]) ++used;
  }
  if ((!f.header_ok || !f.checksum_ok) && used + 9 < size) std::snprintf(out + used, size - used, " crc=bad");
}
