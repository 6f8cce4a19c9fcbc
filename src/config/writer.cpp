#include "config/writer.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/wire.h"
#include "config/settings_check.h"
#include "platform/boot_partition.h"
#include "platform/durable_file.h"
#include "platform/event_journal.h"
#include "platform/log.h"
#include "records/config_schema.h"

namespace {

constexpr const char* kBootConfigPath = "/boot/vantagebridge-cable.conf";
constexpr const char* kEol = "\r\n";
constexpr const char* kRunCopyPath = "/run/vantagebridge.conf";

std::atomic<SettingsOrigin> g_origin{SettingsOrigin::kGood};
std::mutex g_path_mutex;
std::string g_path_override;
std::string g_run_copy_override;

std::string BootConfigPath() {
  std::lock_guard<std::mutex> lock(g_path_mutex);
  return g_path_override.empty() ? std::string(kBootConfigPath) : g_path_override;
}

std::string RunCopyPath() {
  std::lock_guard<std::mutex> lock(g_path_mutex);
  return g_run_copy_override.empty() ? std::string(kRunCopyPath) : g_run_copy_override;
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

const char* Failed(const char* step, const std::string& path) {
  static thread_local char what[160];
  snprintf(what, sizeof what, "%s of %s", step, path.c_str());
  return what;
}

// Steps 1 to 4 of a save (writer.h), the partition writable. Returns what
// failed (errno tells why), or nullptr when the boot file holds the new text.
const char* WriteBootFiles(const std::string& path, const std::string& text) {
  const std::string pending = PendingSavePath(path);
  // The pick over the boot files alone: when it is the ".new" file, that is
  // the only whole copy, and it stays until the boot file is whole again.
  if (PickSettings({path, "", ""}, nullptr).path != pending) {
    if (const char* failed = WriteFileInPlace(pending, text)) {
      const int error = errno;
      unlink(pending.c_str());
      errno = error;
      return Failed(failed, pending);
    }
    if (!SyncFolderOf(pending)) return Failed("flush of the folder", pending);
  }
  // From here on a cut leaves a whole ".new", which the next start takes: a
  // failure keeps it for that reason.
  if (const char* failed = WriteFileInPlace(path, text)) return Failed(failed, path);
  if (!SyncFolderOf(path)) return Failed("flush of the folder", path);
  const std::string last = LastGoodPath(path);
  if (const char* failed = WriteFileInPlace(last, text)) {
    // The boot file is whole: the save stands, the copy waits for the next one.
    const int error = errno;
    LogWarning("last good copy not written: %s failed (%s)\n", Failed(failed, last), strerror(error));
  }
  if (unlink(pending.c_str()) != 0 && errno != ENOENT) {
    LogWarning("%s not removed (%s): it holds the same settings\n", pending.c_str(), strerror(errno));
  }
  SyncFolderOf(path);
  return nullptr;
}

// A refused save is logged at most once a second, however often it is asked for.
void LogRefusedSave(const std::string& holder) {
  static RateGate gate;
  if (!RateGatePasses(&gate, 1000)) return;
  LogError("settings not saved: no good settings were loaded at start, and %s holds some\n", holder.c_str());
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
  AppendCheckLine(out, kEol);
  return out->size();
}

void SetBootConfigPathForTest(const char* path, const char* run_copy) {
  std::lock_guard<std::mutex> lock(g_path_mutex);
  g_path_override = path ? path : "";
  g_run_copy_override = run_copy ? run_copy : path ? g_path_override + ".run" : "";
}

void SetSettingsOrigin(SettingsOrigin origin) { g_origin.store(origin, std::memory_order_relaxed); }

SettingsOrigin CurrentSettingsOrigin() { return g_origin.load(std::memory_order_relaxed); }

bool SaveConfiguration() {
  // Command workers, the mailbox thread and the RC loop's worker all save: one
  // at a time, and never while the RC calibration is being removed.
  std::lock_guard<std::mutex> lock(BootPartitionMutex());
  std::string text;
  FormatConfigurationFile(SnapshotSharedConfig(), &text);
  const std::string path = BootConfigPath();
  WritableBootPartition boot;
  if (!boot.writable()) {
    LogError("settings not saved: the boot partition cannot be made writable\n");
    NoteEvent(JournalEvent::kSave, "settings", "not saved: the boot partition cannot be made writable");
    return false;
  }
  // Checked with the partition mounted: an unmounted one would show nothing.
  std::string holder;
  if (g_origin.load(std::memory_order_relaxed) != SettingsOrigin::kGood && CardHoldsSettings(path, &holder)) {
    LogRefusedSave(holder);
    NoteEvent(JournalEvent::kSave, "settings", "not saved: settings from nowhere kept off good ones");
    return false;
  }
  const char* failed = WriteBootFiles(path, text);
  const int error = errno;
  const bool mounted = boot.Close();
  if (failed != nullptr) {
    LogError("settings not saved: %s failed (%s)\n", failed, strerror(error));
    NoteEvent(JournalEvent::kSave, "settings", (std::string("not saved: ") + failed + " failed").c_str());
    return false;
  }
  g_origin.store(SettingsOrigin::kGood, std::memory_order_relaxed);
  if (!mounted) {
    // The file is whole on the card, but nothing can read it until the
    // partition is back: the /run copy keeps the settings the box started
    // with, and the caller learns that this save did not take.
    LogError("settings not saved: the boot partition was not mounted again\n");
    NoteEvent(JournalEvent::kSave, "settings", "not saved: the boot partition was not mounted again");
    return false;
  }
  if (const char* run_failed = ReplaceFileWhole(RunCopyPath(), WithLfLineEnds(text))) {
    LogWarning("%s not refreshed: %s failed (%s)\n", RunCopyPath().c_str(), run_failed, strerror(errno));
  }
  NoteEvent(JournalEvent::kSave, "settings", "saved");
  return true;
}
