#include "camera_choices.h"

#include <cstdio>

#include "records/camera_codes.h"

namespace {

// Names and numbers of the box's own tables: nothing to escape.
void AppendQuoted(std::string* out, const char* text) {
  *out += '"';
  *out += text;
  *out += '"';
}

}  // namespace

std::string CameraChoicesJson() {
  std::string out = "{\"iso\":[";
  for (int i = 0; i < kIsoStepCount; ++i) {
    if (i) out += ',';
    AppendQuoted(&out, kIsoSteps[i].name);
  }
  out += "],\"shutter\":[";
  for (int i = 0; i < kShutterStepCount; ++i) {
    if (i) out += ',';
    out += "{\"name\":";
    AppendQuoted(&out, kShutterSteps[i].name);
    out += ",\"code\":" + std::to_string(kShutterSteps[i].code) + "}";
  }
  // Written with one decimal ("2.8", "0.7"): the box reads them back as the
  // very values of its tables.
  char text[16];
  out += "],\"aperture\":[";
  for (int i = 0; i < kApertureStepCount; ++i) {
    std::snprintf(text, sizeof text, "%.1f", kApertureHundredths[i] / 100.0);
    if (i) out += ',';
    AppendQuoted(&out, text);
  }
  out += "],\"ev\":[";
  for (int i = 0; i < kEvStepCount; ++i) {
    std::snprintf(text, sizeof text, "%.1f", EvOf(kEvSteps[i]));
    if (i) out += ',';
    AppendQuoted(&out, text);
  }
  return out + "]}";
}
