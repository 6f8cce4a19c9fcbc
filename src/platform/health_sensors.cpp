#include "platform/health_sensors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Sensible bounds: a zone outside them is a broken sensor, not a reading.
constexpr int64_t kLowestMillicelsius = -60000;
constexpr int64_t kHighestMillicelsius = 200000;

// The first line of a small sysfs or proc file, without its line end. sysfs
// attributes answer in one read; a sensor that fails answers with an error.
bool ReadLine(const std::string& path, std::string* line) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[128];
  ssize_t n;
  do {
    n = read(fd, text, sizeof text - 1);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return false;
  line->assign(text, static_cast<size_t>(n));
  const size_t end = line->find('\n');
  if (end != std::string::npos) line->resize(end);
  return true;
}

// A whole decimal or hexadecimal number, nothing else on the line.
bool ParseWhole(const std::string& text, int base, int64_t* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, base);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *value = parsed;
  return true;
}

// Entries of folder whose names start with prefix, in name order.
std::vector<std::string> Entries(const std::string& folder, const char* prefix) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix, std::strlen(prefix)) == 0) names.emplace_back(entry->d_name);
  }
  closedir(dir);
  // thermal_zone10 after thermal_zone9: by length, then by name.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

bool IsCpuZone(const std::string& type) {
  static constexpr const char* kCpuWords[] = {"cpu", "soc", "x86_pkg_temp"};
  for (const char* word : kCpuWords) {
    if (type.find(word) != std::string::npos) return true;
  }
  return false;
}

std::string Under(const std::string& root, const char* path) {
  return root.empty() || root == "/" ? std::string(path) : root + path;
}

}  // namespace

bool ReadCpuTemperature(const std::string& root, int32_t* millicelsius) {
  const std::string folder = Under(root, "/sys/class/thermal");
  bool found_any = false;
  int64_t first = 0;
  for (const std::string& zone : Entries(folder, "thermal_zone")) {
    std::string line, type;
    int64_t value = 0;
    if (!ReadLine(folder + "/" + zone + "/temp", &line) || !ParseWhole(line, 10, &value) ||
        value < kLowestMillicelsius || value > kHighestMillicelsius) {
      continue;
    }
    ReadLine(folder + "/" + zone + "/type", &type);
    if (IsCpuZone(type)) {
      *millicelsius = static_cast<int32_t>(value);
      return true;
    }
    if (!found_any) first = value;
    found_any = true;
  }
  if (found_any) *millicelsius = static_cast<int32_t>(first);
  return found_any;
}

bool ReadThrottleFlags(const std::string& root, uint32_t* flags) {
  std::string line;
  if (!ReadLine(Under(root, "/sys/devices/platform/soc/soc:firmware/get_throttled"), &line)) return false;
  if (line.size() > 2 && line[0] == '0' && (line[1] == 'x' || line[1] == 'X')) line.erase(0, 2);
  int64_t value = 0;
  if (!ParseWhole(line, 16, &value) || value < 0 || value > UINT32_MAX) return false;
  *flags = static_cast<uint32_t>(value);
  return true;
}

bool ReadUnderVoltageAlarm(const std::string& root, bool* under_voltage) {
  const std::string folder = Under(root, "/sys/class/hwmon");
  for (const std::string& monitor : Entries(folder, "hwmon")) {
    std::string name, line;
    int64_t value = 0;
    if (!ReadLine(folder + "/" + monitor + "/name", &name) || name != "rpi_volt") continue;
    if (!ReadLine(folder + "/" + monitor + "/in0_lcrit_alarm", &line) || !ParseWhole(line, 10, &value)) continue;
    *under_voltage = value != 0;
    return true;
  }
  return false;
}

bool ReadFreeSpace(const std::string& path, uint64_t* free_bytes, uint64_t* total_bytes) {
  struct statvfs fs{};
  if (statvfs(path.c_str(), &fs) != 0 || fs.f_frsize == 0) return false;
  *free_bytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  *total_bytes = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
  return true;
}

bool ReadUptime(const std::string& root, uint64_t* milliseconds) {
  std::string line;
  if (!ReadLine(Under(root, "/proc/uptime"), &line)) return false;
  // "12345.67 23456.78": seconds since boot, then idle seconds.
  errno = 0;
  char* end = nullptr;
  const double seconds = std::strtod(line.c_str(), &end);
  if (errno != 0 || end == line.c_str() || (*end != ' ' && *end != '\0') || !(seconds >= 0) || seconds > 1e12) {
    return false;
  }
  *milliseconds = static_cast<uint64_t>(seconds * 1000.0);
  return true;
}
