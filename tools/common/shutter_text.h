// The exposure time a camera shutter code stands for, as vb-viewer and vb-hud show it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// "1/100", "3.2", "30".
inline void FormatShutterCode(uint32_t code, char* out, size_t size) {
  unsigned whole = code & 0x7FFF, fraction = (code >> 16) & 0xFF;
  const char* inverse = (code & 0x8000) ? "1/" : "";
  if (fraction) std::snprintf(out, size, "%s%u.%u", inverse, whole, fraction);
  else std::snprintf(out, size, "%s%u", inverse, whole);
}
