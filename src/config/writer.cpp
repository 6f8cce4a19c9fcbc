#include "config/writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/wire.h"
#include "platform/boot_partition.h"
#include "platform/log.h"
#include "platform/shell.h"
#include "records/config_schema.h"

namespace {

constexpr const char* kBootConfigPath = "/boot/vantagebridge-cable.conf";
constexpr const char* kEol = "\r\n";

std::atomic<bool> g_saves_refused{false};
std::mutex g_path_mutex;
std::string g_path_override;

std::string BootConfigPath() {
  std::lock_guard<std::mutex> lock(g_path_mutex);
  return g_path_override.empty() ? std::string(kBootConfigPath) : g_path_override;
}

void AppendValue(const SharedConfig& config, const ConfigSetting& setting, std::string* out) {
  const auto* base = reinterpret_cast<const uint8_t*>(&config) + setting.offset;
  char number[16];
  switch (setting.rule) {
    case ConfigRule::kFlag:
    case ConfigRule::kByte:
      snprintf(number, sizeof number, "%u", static_cast<unsigned>(*base));
      out->append(number);
      break;
    case ConfigRule::kInt32:
    case ConfigRule::kMilliseconds: {
      int32_t value = static_cast<int32_t>(GetU32(base));
      if (setting.rule == ConfigRule::kMilliseconds) value /= 1000;
      snprintf(number, sizeof number, "%d", static_cast<int>(value));
      out->append(number);
      break;
    }
    case ConfigRule::kText:
    case ConfigRule::kInterface:
    case ConfigRule::kQuotedText:
    case ConfigRule::kRcMap: {
      // A field filled to its last byte has no NUL: never read past it.
      const char* text = reinterpret_cast<const char*>(base);
      bool quoted = setting.rule == ConfigRule::kQuotedText;
      if (quoted) out->push_back('"');
      out->append(text, strnlen(text, setting.size));
      if (quoted) out->push_back('"');
      break;
    }
  }
}

// Writes the whole text to a new file beside the old one and renames it into
// place, so a crash or power cut leaves either the old file or the new one.
// Returns the step that failed (errno tells why), or nullptr when the new file
// is in place; on a failure the old file is left as it was.
const char* ReplaceFile(const std::string& path, const std::string& text) {
  std::string temp_path = path + ".new";
  FILE* file = fopen(temp_path.c_str(), "wbe");
  if (!file) return "create";
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  written = fflush(file) == 0 && written;
  written = fsync(fileno(file)) == 0 && written;
  const int write_error = errno;
  written = fclose(file) == 0 && written;
  if (!written) {
    unlink(temp_path.c_str());
    errno = write_error;
    return "write";
  }
  if (rename(temp_path.c_str(), path.c_str()) != 0) {
    const int rename_error = errno;
    unlink(temp_path.c_str());
    errno = rename_error;
    return "rename";
  }
  std::string folder = ".";
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) folder = slash == 0 ? "/" : path.substr(0, slash);
  int dir_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return nullptr;
}

// A refused save is logged at most once a second, however often it is asked for.
void LogRefusedSave() {
  static std::atomic<int64_t> last_log_ms{INT64_MIN / 2};
  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
  int64_t last = last_log_ms.load(std::memory_order_relaxed);
  if (now_ms - last < 1000 || !last_log_ms.compare_exchange_strong(last, now_ms)) return;
  LogError("settings not saved: no configuration file was loaded at start\n");
}

}  // namespace

size_t FormatConfigurationFile(const SharedConfig& config, std::string* out) {
  out->clear();
  out->append("# Vantagebridge-cable config file").append(kEol);
  out->append(kEol);
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key == nullptr) continue;  // a report member, not a line of the file
    // Comment texts are written exactly as they stand, trailing spaces and bare "%" included.
    for (const char* comment : setting.comments) {
      if (comment) out->append(comment).append(kEol);
    }
    out->append(setting.key).push_back('=');
    AppendValue(config, setting, out);
    out->append(kEol);
    out->append(kEol);
  }
  return out->size();
}

void SetBootConfigPathForTest(const char* path) {
  std::lock_guard<std::mutex> lock(g_path_mutex);
  g_path_override = path ? path : "";
}

void SetSavesRefused(bool refused) { g_saves_refused.store(refused, std::memory_order_relaxed); }

bool SaveConfiguration() {
  if (g_saves_refused.load(std::memory_order_relaxed)) {
    LogRefusedSave();
    return false;
  }
  // Command workers, the mailbox thread and the RC loop's worker all save: one
  // at a time, and never while the RC calibration is being removed.
  std::lock_guard<std::mutex> lock(BootPartitionMutex());
  WritableBootPartition boot;
  std::string text;
  FormatConfigurationFile(SnapshotSharedConfig(), &text);
  if (const char* failed = ReplaceFile(BootConfigPath(), text)) {
    LogError("settings not saved: %s of the new file failed (%s)\n", failed, strerror(errno));
    return false;
  }
  boot.Close();
  ExecuteShellCommand("cat /boot/vantagebridge-cable.conf | sed 's/\\r$//' > /run/vantagebridge.conf");
  return true;
}
