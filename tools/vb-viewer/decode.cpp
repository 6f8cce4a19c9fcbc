#include "decode.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/wire.h"
#include "records/viewer_protocol.h"

namespace {

// Appends printf-style text, never past the end of out.
struct Line {
  char* out;
  size_t size;
  size_t used;
};

__attribute__((format(printf, 2, 3))) void Add(Line* l, const char* format, ...) {
  if (l->used + 1 >= l->size) return;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(l->out + l->used, l->size - l->used, format, args);
  va_end(args);
  if (n > 0) l->used += static_cast<size_t>(n);
  if (l->used >= l->size) l->used = l->size - 1;
}

void AddHex(Line* l, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) Add(l, i ? " %02X" : "%02X", data[i]);
}

// Minimum payload length per message type (type byte included).
size_t MinimumLength(uint8_t type) {
  switch (type) {
    case kMsgGimbalAttitude: case kMsgDigitalZoom: case kMsgLinkState: case kMsgStatus:
    case kMsgOrientationLock: case kMsgRawAttitude: case kMsgFocusState: case kMsgFocusPoint:
    case kMsgFocusBytes: return 7;
    case kMsgSettingsRecord: return 31;
    case kMsgStatusRecord: return 24;
    case kMsgDataBlock: return 65;
    case kMsgRcChannels: return 3;
    default: return 1;
  }
}

void FormatStatus(Line* l, const uint8_t* p) {
  uint8_t f = p[1];
  auto bit = [f](StatusFlag flag) { return (f & flag) != 0 ? 1u : 0u; };
  Add(l, "status flags=0x%02X clients=%u rc=%u fa=%u ap=%u hdmi=%u camera=%u b6=%u b7=%u", f, p[2], p[5], p[4],
      bit(kStatusAccessPoint), bit(kStatusHdmi), bit(kStatusCamera), bit(kStatusSibling0), bit(kStatusSibling1));
}

void FormatLink(Line* l, const uint8_t* p) {
  if (p[1] == 0) Add(l, "link data state=%u", p[2]);
  else if (p[1] == 1) Add(l, "link video state=%u", p[2]);
  else Add(l, "link %u state=%u", p[1], p[2]);
}

void FormatSettings(Line* l, const uint8_t* p) {
  char shutter[24];
  FormatShutterCode(GetU24(p + 12), shutter, sizeof shutter);
  Add(l, "settings shutter=%s (0x%06X) aperture=%.2f ev=%.1f format=%u,%u shot=%u/%u timelapse=%u/%u", shutter,
      GetU24(p + 12), GetI16(p + 17) / 100.0, static_cast<int8_t>(p[5]) / 10.0, p[7], p[8], p[25], p[26],
      GetU16(p + 27), GetU16(p + 29));
  Add(l, " b31=%u b21=%u code38=%u b42=%u b34=%u b35=%u v54=%u b67=%u b16=%u f66=%u b43=%u v51=%u b23=%u", p[1],
      p[2], p[3], p[4], p[6], p[9], GetU16(p + 10), p[15], p[16], p[19], p[20], GetU24(p + 21), p[24]);
}

void FormatStatusRecord(Line* l, const uint8_t* p) {
  Add(l, "camera-status work_mode=%u flags=0x%02X recording=%u v20=%u v24=%u v28=%u v40=%u counter=%u b42=%u "
      "b13=%u state=%u",
      p[1], p[2], (p[2] >> 6) == 2 ? 1u : 0u, GetU32(p + 3), GetU32(p + 7), GetU32(p + 11), GetU16(p + 15),
      GetU32(p + 17), p[21], p[22], p[23]);
}

void FormatRc(Line* l, const uint8_t* p, size_t length) {
  Add(l, "rc status=%u n=%u ch=", p[1], p[2]);
  size_t n = p[2];
  if (3 + 2 * n > length) n = (length - 3) / 2;
  for (size_t k = 0; k < n; ++k) Add(l, k ? ",%u" : "%u", GetU16(p + 3 + 2 * k));
}

}  // namespace

void FormatClientMessage(const uint8_t* p, size_t length, char* out, size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  Line l{out, size, 0};
  if (length == 0) {
    Add(&l, "empty");
    return;
  }
  uint8_t type = p[0];
  if (length < MinimumLength(type)) {
    Add(&l, "short type=%u len=%zu | ", type, length);
    AddHex(&l, p, length);
    return;
  }
  switch (type) {
    case kMsgGimbalAttitude:
      Add(&l, "attitude pan=%.2f tilt=%.2f dutch=%.2f", GetI16(p + 1) / 100.0, GetI16(p + 3) / 100.0,
          GetI16(p + 5) / 100.0);
      break;
    case kMsgRawAttitude:
      Add(&l, "attitude-raw p=%d t=%d d=%d", GetI16(p + 1), GetI16(p + 3), GetI16(p + 5));
      break;
    case kMsgDigitalZoom: Add(&l, "zoom digital=%d", GetI16(p + 1)); break;
    case kMsgOrientationLock: Add(&l, "orientation locked=%d", GetI16(p + 1)); break;
    case kMsgFocusState: {
      int a = GetI16(p + 1);
      Add(&l, "focus mode=%d flag=%d percent=%d value=%.2f", (a >> 1) & 1, a & 1, GetI16(p + 3), GetI16(p + 5) / 100.0);
      break;
    }
    case kMsgFocusPoint:
      Add(&l, "focus-point x=%.4f y=%.4f assist=%d", GetI16(p + 1) / 10000.0, GetI16(p + 3) / 10000.0, GetI16(p + 5));
      break;
    case kMsgFocusBytes:
      Add(&l, "focus-bytes ");
      AddHex(&l, p + 1, 6);
      break;
    case kMsgLinkState: FormatLink(&l, p); break;
    case kMsgStatus: FormatStatus(&l, p); break;
    case kMsgSettingsRecord: FormatSettings(&l, p); break;
    case kMsgStatusRecord: FormatStatusRecord(&l, p); break;
    case kMsgDataBlock:
      Add(&l, "datablock 64 | ");
      AddHex(&l, p + 1, 16);
      Add(&l, " ...");
      break;
    case kMsgRcChannels: FormatRc(&l, p, length); break;
    case kMsgJsonText:
      // One line per message: control characters inside the text become blanks.
      Add(&l, "json ");
      for (size_t i = 0; i < length && p[i] && l.used + 1 < l.size; ++i)
        l.out[l.used++] = p[i] < 0x20 ? ' ' : static_cast<char>(p[i]);
      l.out[l.used] = '\0';
      break;
    default:
      Add(&l, "msg type=%u len=%zu | ", type, length);
      AddHex(&l, p, length < 32 ? length : 32);
      break;
  }
}
