// What the box's kernel tells about its health: CPU temperature, the
// firmware's throttling and under-voltage flags, free space on a file system
// and the time since boot. Each reader takes the root of the tree it reads
// ("/" on the box; tests lay out fake /sys and /proc trees) and says whether
// the value is there at all: a board without a sensor has none, which is not
// the same as a reading of zero.
#pragma once

#include <cstdint>
#include <string>

// The firmware's get_throttled bits (the Raspberry Pi firmware's meaning).
constexpr uint32_t kThrottleUnderVoltageNow = 1u << 0;
constexpr uint32_t kThrottleFrequencyCappedNow = 1u << 1;
constexpr uint32_t kThrottleThrottledNow = 1u << 2;
constexpr uint32_t kThrottleSoftTempLimitNow = 1u << 3;
constexpr uint32_t kThrottleUnderVoltageOccurred = 1u << 16;
constexpr uint32_t kThrottleFrequencyCappedOccurred = 1u << 17;
constexpr uint32_t kThrottleThrottledOccurred = 1u << 18;
constexpr uint32_t kThrottleSoftTempLimitOccurred = 1u << 19;

// The CPU's thermal zone in millidegrees Celsius: the zone whose type names
// the CPU or the SoC, else the first zone that reads.
bool ReadCpuTemperature(const std::string& root, int32_t* millicelsius);

// The firmware's flags (sys/devices/platform/soc/soc:firmware/get_throttled,
// hexadecimal), where the kernel exposes them.
bool ReadThrottleFlags(const std::string& root, uint32_t* flags);

// The under-voltage alarm of the firmware's voltage monitor (the hwmon named
// "rpi_volt", in0_lcrit_alarm): how kernels without get_throttled tell it.
bool ReadUnderVoltageAlarm(const std::string& root, bool* under_voltage);

// Bytes free to an unprivileged writer and the size of the file system
// holding path.
bool ReadFreeSpace(const std::string& path, uint64_t* free_bytes, uint64_t* total_bytes);

// Milliseconds since the box booted (proc/uptime).
bool ReadUptime(const std::string& root, uint64_t* milliseconds);
