#include "requests.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/wire.h"
#include "records/viewer_protocol.h"

namespace {

// Reads up to max comma-separated numbers; all must parse and the count must match.
int ParseList(const char* text, double* values, int max) {
  int count = 0;
  const char* p = text;
  while (count < max) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(p, &end);
    if (end == p || errno == ERANGE || !std::isfinite(v)) return -1;
    values[count++] = v;
    while (*end == ' ') ++end;
    if (*end == '\0') return count;
    if (*end != ',') return -1;
    p = end + 1;
  }
  return -1;
}

bool IsWhole(double v, double lo, double hi) { return v >= lo && v <= hi && v == std::floor(v); }

}  // namespace

bool BuildGimbalPayload(const char* text, uint8_t out[8]) {
  double v[3];
  if (ParseList(text, v, 3) != 3) return false;
  if (!IsWhole(v[0], 0, 255) || !IsWhole(v[1], -32768, 32767) || !IsWhole(v[2], -32768, 32767)) return false;
  out[0] = kMsgGimbalControl;
  out[1] = static_cast<uint8_t>(v[0]);
  PutU16(out + 2, static_cast<uint16_t>(static_cast<int16_t>(v[1])));
  PutU16(out + 4, static_cast<uint16_t>(static_cast<int16_t>(v[2])));
  PutU16(out + 6, 0);
  return true;
}

bool BuildAttitudePayload(const char* text, uint8_t out[11]) {
  double q[4];
  if (ParseList(text, q, 4) != 4) return false;
  std::memset(out, 0, 11);
  out[0] = kMsgAttitude;
  for (int i = 0; i < 4; ++i) {
    double scaled = std::round(q[i] * 32767.0);
    if (scaled > 32767) scaled = 32767;
    if (scaled < -32768) scaled = -32768;
    PutU16(out + 3 + 2 * i, static_cast<uint16_t>(static_cast<int16_t>(scaled)));
  }
  return true;
}
