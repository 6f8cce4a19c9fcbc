#include "config/writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/wire.h"
#include "platform/shell.h"
#include "records/config_schema.h"

namespace {

constexpr const char* kBootConfigPath = "/boot/vantagebridge-cable.conf";
constexpr const char* kEol = "\r\n";

std::mutex g_save_mutex;
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
// Returns false only when the new file could not be created.
bool ReplaceFile(const std::string& path, const std::string& text) {
  std::string temp_path = path + ".new";
  FILE* file = fopen(temp_path.c_str(), "wb");
  if (!file) return false;
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  written = fflush(file) == 0 && written;
  written = fsync(fileno(file)) == 0 && written;
  written = fclose(file) == 0 && written;
  if (!written) {
    // Out of space or a write error: keep the old file untouched.
    unlink(temp_path.c_str());
    return true;
  }
  if (rename(temp_path.c_str(), path.c_str()) != 0) {
    unlink(temp_path.c_str());
    return true;
  }
  std::string folder = ".";
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) folder = slash == 0 ? "/" : path.substr(0, slash);
  int dir_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return true;
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

void SaveConfiguration() {
  // Command workers, the mailbox thread and the RC loop all save: one at a time.
  std::lock_guard<std::mutex> lock(g_save_mutex);
  RunShellCommand("mount -o rw,remount /boot");
  std::string text;
  FormatConfigurationFile(*GetSharedConfig(), &text);
  if (!ReplaceFile(BootConfigPath(), text)) return;
  RunShellCommand("umount /boot");
  RunShellCommand("mount /boot");
  RunShellCommand("cat /boot/vantagebridge-cable.conf | sed 's/\\r$//' > /run/vantagebridge.conf");
}
