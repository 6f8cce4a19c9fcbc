#include "startup/health_publisher.h"

#include <mutex>

#include "common/wire.h"
#include "platform/health_sensors.h"
#include "records/client_table.h"
#include "records/health_record.h"
#include "records/viewer_traffic.h"

namespace {

std::mutex g_publishing;

void GatherSensors(const std::string& root, const std::string& boot, HealthRecord* r) {
  if (ReadCpuTemperature(root, &r->cpu_millicelsius)) r->present |= kHealthTemperature;
  bool under_voltage = false;
  if (ReadThrottleFlags(root, &r->throttle_flags)) {
    r->present |= kHealthThrottleFlags | kHealthUnderVoltage;
    r->under_voltage = (r->throttle_flags & kThrottleUnderVoltageNow) ? 1 : 0;
  } else if (ReadUnderVoltageAlarm(root, &under_voltage)) {
    r->present |= kHealthUnderVoltage;
    r->under_voltage = under_voltage ? 1 : 0;
  }
  if (ReadFreeSpace(boot, &r->boot_free_bytes, &r->boot_total_bytes)) r->present |= kHealthBootSpace;
  if (ReadUptime(root, &r->box_uptime_ms)) r->present |= kHealthBoxUptime;
}

void GatherViewers(HealthRecord* r) {
  for (int i = 0; i < kMaxClients; ++i) {
    const ClientEntry row = GetClientRow(i);
    if (row.address[0] == '\0') continue;
    HealthViewer& viewer = r->viewers[i];
    CopyTextField(viewer.address, sizeof viewer.address, row.address);
    viewer.port = row.port;
    viewer.data_only = (row.flags & kClientDataOnly) ? 1 : 0;
    const ViewerTraffic traffic = ReadViewerTraffic(i, row.destination);
    viewer.video_delivered = traffic.delivered;
    viewer.video_dropped = traffic.dropped;
    ++r->viewer_count;
  }
}

}  // namespace

void PublishHealthFrom(const std::string& root, const std::string& boot) {
  std::unique_lock<std::mutex> lock(g_publishing, std::try_to_lock);
  if (!lock.owns_lock()) return;
  HealthRecord r{};
  GatherSensors(root, boot, &r);
  GatherViewers(&r);
  r.daemon_uptime_ms = static_cast<uint64_t>(ProcessUptimeMs());
  const int64_t first_video = FirstVideoRelayMs();
  if (first_video >= 0) {
    r.present |= kHealthFirstVideo;
    r.first_video_ms = static_cast<uint64_t>(first_video);
  }
  r.written_ms = HealthClockMs();
  PublishHealthRecord(r);
}

void PublishHealth() { PublishHealthFrom("/", "/boot"); }
