// The health readers against fake /sys and /proc trees, one per kind of
// board: which value each finds, and that a missing or broken sensor reads
// as absent rather than as zero.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/health_sensors.h"

namespace {

struct Board {
  const char* name;
  std::vector<std::pair<const char*, const char*>> files;  // path under the root, content
  std::optional<int32_t> millicelsius;
  std::optional<uint32_t> throttle_flags;
  std::optional<bool> under_voltage_alarm;
  std::optional<uint64_t> uptime_ms;
};

const Board kBoards[] = {
    {"Pi firmware kernel",
     {{"sys/class/thermal/thermal_zone0/type", "cpu-thermal\n"},
      {"sys/class/thermal/thermal_zone0/temp", "48312\n"},
      {"sys/devices/platform/soc/soc:firmware/get_throttled", "50005\n"},
      {"proc/uptime", "1234.56 4000.10\n"}},
     48312, 0x50005u, std::nullopt, 1234560},
    {"flags written with 0x",
     {{"sys/devices/platform/soc/soc:firmware/get_throttled", "0x0\n"}},
     std::nullopt, 0u, std::nullopt, std::nullopt},
    {"Debian kernel: voltage monitor only",
     {{"sys/class/hwmon/hwmon0/name", "cpu_thermal\n"},
      {"sys/class/hwmon/hwmon1/name", "rpi_volt\n"},
      {"sys/class/hwmon/hwmon1/in0_lcrit_alarm", "1\n"},
      {"sys/class/thermal/thermal_zone0/type", "cpu-thermal\n"},
      {"sys/class/thermal/thermal_zone0/temp", "61000\n"}},
     61000, std::nullopt, true, std::nullopt},
    {"PC: the CPU's zone, not the first",
     {{"sys/class/thermal/thermal_zone0/type", "acpitz\n"},
      {"sys/class/thermal/thermal_zone0/temp", "27800\n"},
      {"sys/class/thermal/thermal_zone1/type", "x86_pkg_temp\n"},
      {"sys/class/thermal/thermal_zone1/temp", "45000\n"}},
     45000, std::nullopt, std::nullopt, std::nullopt},
    {"broken zones skipped, zone2 before zone10",
     {{"sys/class/thermal/thermal_zone0/temp", ""},
      {"sys/class/thermal/thermal_zone1/temp", "999999\n"},
      {"sys/class/thermal/thermal_zone10/type", "gpu\n"},
      {"sys/class/thermal/thermal_zone10/temp", "70000\n"},
      {"sys/class/thermal/thermal_zone2/type", "gpu\n"},
      {"sys/class/thermal/thermal_zone2/temp", "-5000\n"}},
     -5000, std::nullopt, std::nullopt, std::nullopt},
    {"garbage everywhere",
     {{"sys/class/thermal/thermal_zone0/temp", "hot\n"},
      {"sys/devices/platform/soc/soc:firmware/get_throttled", "zz\n"},
      {"sys/class/hwmon/hwmon0/name", "rpi_volt\n"},
      {"sys/class/hwmon/hwmon0/in0_lcrit_alarm", "maybe\n"},
      {"proc/uptime", "-3 1\n"}},
     std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    {"nothing at all", {}, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
};

class FakeTree {
 public:
  explicit FakeTree(const Board& board) {
    char folder[] = "/tmp/vb-health-XXXXXX";
    root_ = mkdtemp(folder);
    for (const auto& [path, content] : board.files) {
      const std::filesystem::path file = root_ / path;
      std::filesystem::create_directories(file.parent_path());
      std::ofstream(file) << content;
    }
  }
  ~FakeTree() { std::filesystem::remove_all(root_); }
  std::string Root() const { return root_.string(); }

 private:
  std::filesystem::path root_;
};

TEST(HealthSensors, EachBoardReadsWhatItHasAndNothingElse) {
  for (const Board& board : kBoards) {
    SCOPED_TRACE(board.name);
    const FakeTree tree(board);
    int32_t millicelsius = 0;
    uint32_t flags = 0;
    bool alarm = false;
    uint64_t uptime = 0;
    // A reading is compared only when there is one: absent and zero differ.
    EXPECT_EQ(ReadCpuTemperature(tree.Root(), &millicelsius) ? std::optional(millicelsius) : std::nullopt,
              board.millicelsius);
    EXPECT_EQ(ReadThrottleFlags(tree.Root(), &flags) ? std::optional(flags) : std::nullopt, board.throttle_flags);
    EXPECT_EQ(ReadUnderVoltageAlarm(tree.Root(), &alarm) ? std::optional(alarm) : std::nullopt,
              board.under_voltage_alarm);
    EXPECT_EQ(ReadUptime(tree.Root(), &uptime) ? std::optional(uptime) : std::nullopt, board.uptime_ms);
  }
}

TEST(HealthSensors, FreeSpaceOfAFolderAndNoneOfAMissingOne) {
  uint64_t free_bytes = 0, total = 0;
  ASSERT_TRUE(ReadFreeSpace("/tmp", &free_bytes, &total));
  EXPECT_GT(total, 0u);
  EXPECT_LE(free_bytes, total);
  EXPECT_FALSE(ReadFreeSpace("/tmp/vb-no-such-folder/x", &free_bytes, &total));
}

}  // namespace
