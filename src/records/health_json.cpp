#include "records/health_json.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/json_text.h"
#include "platform/health_sensors.h"

namespace {

void Member(std::string* out, const char* key) {
  if (out->back() != '{') out->push_back(',');
  out->push_back('"');
  out->append(key);
  out->append("\":");
}

void Unsigned(std::string* out, const char* key, uint64_t value, bool present = true) {
  Member(out, key);
  out->append(present ? std::to_string(value) : "null");
}

void Flag(std::string* out, const char* key, bool value, bool present = true) {
  Member(out, key);
  out->append(!present ? "null" : value ? "true" : "false");
}

}  // namespace

std::string HealthJson(const HealthRecord& r, uint64_t now_ms) {
  std::string out = "{";
  const uint64_t age = now_ms > r.written_ms ? now_ms - r.written_ms : 0;
  Flag(&out, "fresh", age <= kHealthStaleMs);
  Unsigned(&out, "age_ms", age);
  Member(&out, "cpu_celsius");
  if (r.present & kHealthTemperature) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", r.cpu_millicelsius / 1000.0);
    out.append(text);
  } else {
    out.append("null");
  }
  const bool flags = (r.present & kHealthThrottleFlags) != 0;
  const uint32_t f = r.throttle_flags;
  Flag(&out, "under_voltage", r.under_voltage != 0, (r.present & kHealthUnderVoltage) != 0);
  Flag(&out, "under_voltage_occurred", f & kThrottleUnderVoltageOccurred, flags);
  Flag(&out, "throttled", f & (kThrottleThrottledNow | kThrottleFrequencyCappedNow), flags);
  Flag(&out, "throttled_occurred", f & (kThrottleThrottledOccurred | kThrottleFrequencyCappedOccurred), flags);
  Flag(&out, "soft_temperature_limit", f & kThrottleSoftTempLimitNow, flags);
  Member(&out, "throttle_flags");
  if (flags) {
    char text[16];
    std::snprintf(text, sizeof text, "\"0x%" PRIx32 "\"", f);
    out.append(text);
  } else {
    out.append("null");
  }
  const bool space = (r.present & kHealthBootSpace) != 0;
  Unsigned(&out, "boot_free_bytes", r.boot_free_bytes, space);
  Unsigned(&out, "boot_total_bytes", r.boot_total_bytes, space);
  Unsigned(&out, "box_uptime_s", r.box_uptime_ms / 1000, (r.present & kHealthBoxUptime) != 0);
  Unsigned(&out, "daemon_uptime_s", r.daemon_uptime_ms / 1000);
  Unsigned(&out, "first_video_ms", r.first_video_ms, (r.present & kHealthFirstVideo) != 0);
  Member(&out, "viewers");
  out.push_back('[');
  for (const HealthViewer& v : r.viewers) {
    if (v.address[0] == '\0') continue;
    if (out.back() != '[') out.push_back(',');
    out.append("{\"address\":\"");
    AppendJsonEscaped(&out, std::string(v.address, strnlen(v.address, sizeof v.address)));
    out.push_back('"');
    Unsigned(&out, "port", v.port);
    Flag(&out, "data_only", v.data_only != 0);
    Unsigned(&out, "video_delivered", v.video_delivered);
    Unsigned(&out, "video_dropped", v.video_dropped);
    out.push_back('}');
  }
  out.append("]}");
  return out;
}
