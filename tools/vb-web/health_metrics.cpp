#include "health_metrics.h"

#include <cstdio>
#include <cstring>

#include "platform/health_sensors.h"
#include "records/health_json.h"

namespace {

void Family(std::string* out, const char* name, const char* type, const char* help) {
  *out += "# HELP ";
  *out += name;
  *out += ' ';
  *out += help;
  *out += "\n# TYPE ";
  *out += name;
  *out += ' ';
  *out += type;
  *out += '\n';
}

void Sample(std::string* out, const char* name, double value, const std::string& labels = {}) {
  char text[48];
  std::snprintf(text, sizeof text, "%.15g", value);
  *out += name;
  if (!labels.empty()) *out += "{" + labels + "}";
  *out += ' ';
  *out += text;
  *out += '\n';
}

void Gauge(std::string* out, const char* name, const char* help, double value) {
  Family(out, name, "gauge", help);
  Sample(out, name, value);
}

std::string ViewerLabel(const HealthViewer& v) {
  std::string label = "viewer=\"";
  for (char c : std::string(v.address, strnlen(v.address, sizeof v.address))) {
    if (c == '\\' || c == '"') label += '\\';
    if (c == '\n') {
      label += "\\n";
      continue;
    }
    label += c;
  }
  return label + ":" + std::to_string(v.port) + "\"";
}

}  // namespace

std::string HealthMetrics(const HealthRecord* h, uint64_t now_ms) {
  std::string out;
  const uint64_t age = h && now_ms > h->written_ms ? now_ms - h->written_ms : 0;
  Gauge(&out, "vantagebridge_health_up", "1 while the daemon publishes its health record.",
        h && age <= kHealthStaleMs ? 1 : 0);
  if (!h) return out;
  Gauge(&out, "vantagebridge_health_age_seconds", "Age of the health record.", static_cast<double>(age) / 1000.0);
  if (h->present & kHealthTemperature) {
    Gauge(&out, "vantagebridge_cpu_temperature_celsius", "CPU temperature.", h->cpu_millicelsius / 1000.0);
  }
  if (h->present & kHealthUnderVoltage) {
    Gauge(&out, "vantagebridge_under_voltage", "1 while the supply voltage is too low.", h->under_voltage ? 1 : 0);
  }
  if (h->present & kHealthThrottleFlags) {
    const uint32_t f = h->throttle_flags;
    Gauge(&out, "vantagebridge_throttled", "1 while the firmware throttles or caps the CPU.",
          (f & (kThrottleThrottledNow | kThrottleFrequencyCappedNow)) ? 1 : 0);
    Gauge(&out, "vantagebridge_throttled_since_boot", "1 when the firmware throttled or capped the CPU since boot.",
          (f & (kThrottleThrottledOccurred | kThrottleFrequencyCappedOccurred)) ? 1 : 0);
    Gauge(&out, "vantagebridge_under_voltage_since_boot", "1 when the supply voltage was too low since boot.",
          (f & kThrottleUnderVoltageOccurred) ? 1 : 0);
    Gauge(&out, "vantagebridge_throttle_flags", "The firmware's throttling flags as one number.", f);
  }
  if (h->present & kHealthBootSpace) {
    Gauge(&out, "vantagebridge_boot_free_bytes", "Free space on the boot partition.",
          static_cast<double>(h->boot_free_bytes));
    Gauge(&out, "vantagebridge_boot_size_bytes", "Size of the boot partition.",
          static_cast<double>(h->boot_total_bytes));
  }
  if (h->present & kHealthBoxUptime) {
    Gauge(&out, "vantagebridge_box_uptime_seconds", "Time since the box booted.",
          static_cast<double>(h->box_uptime_ms) / 1000.0);
  }
  Gauge(&out, "vantagebridge_daemon_uptime_seconds", "Time since the daemon started.",
        static_cast<double>(h->daemon_uptime_ms) / 1000.0);
  if (h->present & kHealthFirstVideo) {
    Gauge(&out, "vantagebridge_first_video_seconds", "Time from the daemon's start to the first video datagram relayed.",
          static_cast<double>(h->first_video_ms) / 1000.0);
  }
  Gauge(&out, "vantagebridge_viewers", "Registered viewers.", h->viewer_count);
  const char* kCounters[2][2] = {
      {"vantagebridge_viewer_video_datagrams_delivered_total", "Video datagrams handed to the network per viewer."},
      {"vantagebridge_viewer_video_datagrams_dropped_total", "Video datagrams dropped per viewer (its queue was full)."}};
  for (int c = 0; c < 2; ++c) {
    Family(&out, kCounters[c][0], "counter", kCounters[c][1]);
    for (const HealthViewer& v : h->viewers) {
      if (v.address[0] == '\0' || v.data_only) continue;
      Sample(&out, kCounters[c][0], static_cast<double>(c == 0 ? v.video_delivered : v.video_dropped), ViewerLabel(v));
    }
  }
  return out;
}
