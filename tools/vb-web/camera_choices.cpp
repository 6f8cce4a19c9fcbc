#include "camera_choices.h"

#include <cstdio>
#include <cstring>

#include "camera/camera_messages.h"
#include "commands/vocabulary.h"

namespace {

// Settings byte 17 runs over these codes, one third of an EV apart.
constexpr uint8_t kFirstEvCode = 7;
constexpr uint8_t kLastEvCode = 25;

void AppendQuoted(std::string* out, const std::string& text) {
  *out += '"';
  *out += text;  // names, numbers and words of the box's own tables: nothing to escape
  *out += '"';
}

}  // namespace

std::string ShutterName(uint32_t code) {
  const unsigned whole = code & 0x7FFF;
  const unsigned fraction = (code >> 16) & 0xFF;
  char text[24];
  if (fraction) std::snprintf(text, sizeof text, "%u.%u", whole, fraction);
  else std::snprintf(text, sizeof text, "%u", whole);
  return (code & 0x8000) ? std::string(text) : std::string(text) + "s";
}

std::string CameraChoicesJson() {
  std::string out = "{\"iso\":[";
  const CameraCommandWord* iso = FindCameraCommandWord("iso");
  std::string hint = iso && iso->param_hint ? iso->param_hint : "";
  for (size_t start = 0, n = 0; start <= hint.size() && !hint.empty(); ++n) {
    const size_t bar = hint.find('|', start);
    if (n) out += ',';
    AppendQuoted(&out, hint.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  out += "],\"shutter\":[";
  for (int i = 0; i < kShutterCodeCount; ++i) {
    if (i) out += ',';
    out += "{\"name\":";
    AppendQuoted(&out, ShutterName(kShutterCodes[i]));
    out += ",\"code\":" + std::to_string(kShutterCodes[i]) + "}";
  }
  out += "],\"aperture\":[";
  for (int i = 0; i < kApertureCount; ++i) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", kApertureTable[i]);
    if (i) out += ',';
    AppendQuoted(&out, text);
  }
  out += "],\"ev\":[";
  for (uint8_t code = kFirstEvCode; code <= kLastEvCode; ++code) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", ExposureCompensationOfCode(code) / 10.0);
    if (code != kFirstEvCode) out += ',';
    AppendQuoted(&out, text);
  }
  return out + "]}";
}
