// HealthRecord: the box's health in the shared-memory object "/vb_health",
// beside "/hud_mem" (whose layout the display programs read and which keeps
// it): CPU temperature, the firmware's throttling and under-voltage flags,
// free space on the boot partition, uptimes, the time from the daemon's start
// to the first video datagram relayed, and each viewer's video datagrams
// delivered and dropped. Its byte layout is an interface with vb-hud and vb-web.
//
// Writer: the daemon's health publisher, one write at a time. Readers: other
// processes, which copy the record whole and take the copy only when
// `sequence` was even and unchanged across it (the writer makes it odd while
// it writes). A value whose bit in `present` is clear is absent: the board
// has no such sensor, which is not a reading of zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "records/client_table.h"

constexpr char kHealthRecordName[] = "/vb_health";
constexpr uint32_t kHealthLayout = 1;

// Bits of HealthRecord::present.
constexpr uint32_t kHealthTemperature = 1u << 0;
constexpr uint32_t kHealthThrottleFlags = 1u << 1;   // the firmware's get_throttled bits
constexpr uint32_t kHealthUnderVoltage = 1u << 2;    // under_voltage (from those bits or the voltage monitor)
constexpr uint32_t kHealthBootSpace = 1u << 3;
constexpr uint32_t kHealthBoxUptime = 1u << 4;
constexpr uint32_t kHealthFirstVideo = 1u << 5;      // a video datagram has been relayed

struct __attribute__((packed)) HealthViewer {
  char address[16];          // 0: dotted IPv4; empty marks a free row
  uint32_t port;             // 16
  uint8_t data_only;         // 20: takes no video
  uint8_t reserved_21[3];
  uint64_t video_delivered;  // 24: datagrams the kernel took for this viewer
  uint64_t video_dropped;    // 32: datagrams dropped (its send queue was full)
};

static_assert(offsetof(HealthViewer, address) == 0);
static_assert(offsetof(HealthViewer, port) == 16);
static_assert(offsetof(HealthViewer, data_only) == 20);
static_assert(offsetof(HealthViewer, video_delivered) == 24);
static_assert(offsetof(HealthViewer, video_dropped) == 32);
static_assert(sizeof(HealthViewer) == 40);

struct __attribute__((packed)) HealthRecord {
  uint32_t layout;             // 0: kHealthLayout
  uint32_t sequence;           // 4: odd while being written
  uint64_t written_ms;         // 8: CLOCK_MONOTONIC milliseconds of the last write
  uint32_t present;            // 16: kHealth* bits
  int32_t cpu_millicelsius;    // 20
  uint32_t throttle_flags;     // 24: kThrottle* bits (platform/health_sensors.h)
  uint8_t under_voltage;       // 28: 1 while the supply is too low
  uint8_t reserved_29[3];
  uint64_t boot_free_bytes;    // 32
  uint64_t boot_total_bytes;   // 40
  uint64_t box_uptime_ms;      // 48
  uint64_t daemon_uptime_ms;   // 56
  uint64_t first_video_ms;     // 64: from the daemon's start to its first video datagram relayed
  uint32_t viewer_count;       // 72: rows in use
  uint32_t reserved_76;
  HealthViewer viewers[kMaxClients];  // 80: by client table row
};

static_assert(offsetof(HealthRecord, layout) == 0);
static_assert(offsetof(HealthRecord, sequence) == 4);
static_assert(offsetof(HealthRecord, written_ms) == 8);
static_assert(offsetof(HealthRecord, present) == 16);
static_assert(offsetof(HealthRecord, cpu_millicelsius) == 20);
static_assert(offsetof(HealthRecord, throttle_flags) == 24);
static_assert(offsetof(HealthRecord, under_voltage) == 28);
static_assert(offsetof(HealthRecord, boot_free_bytes) == 32);
static_assert(offsetof(HealthRecord, boot_total_bytes) == 40);
static_assert(offsetof(HealthRecord, box_uptime_ms) == 48);
static_assert(offsetof(HealthRecord, daemon_uptime_ms) == 56);
static_assert(offsetof(HealthRecord, first_video_ms) == 64);
static_assert(offsetof(HealthRecord, viewer_count) == 72);
static_assert(offsetof(HealthRecord, viewers) == 80);
static_assert(kMaxClients == 20);
static_assert(sizeof(HealthRecord) == 880);
static_assert(std::is_trivially_copyable_v<HealthRecord>);

// Daemon start-up: makes "/vb_health" anew (mode 0644: health is no secret),
// so an object someone else left there is never adopted. Without it the
// record stays private to the process.
void CreateHealthRecord();
// Writes values (all but layout and sequence) as the record's new content.
void PublishHealthRecord(const HealthRecord& values);
// The record as this process last published it (tests).
HealthRecord OwnHealthRecord();

// For other processes: a consistent copy of the record in the object name.
// False with a reason when it is missing, too small, of another layout, or
// kept changing while it was read.
bool ReadHealthRecord(const char* name, HealthRecord* out, std::string* error);

// CLOCK_MONOTONIC in milliseconds, as written_ms is.
uint64_t HealthClockMs();
