#include "config/settings_restore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

#include "common/shared_field.h"
#include "config/keys.h"
#include "config/loader.h"
#include "config/param_updates.h"
#include "config/settings_lines.h"
#include "config/writer.h"
#include "platform/log.h"
#include "platform/durable_file.h"
#include "records/config_schema.h"
#include "records/shared_config.h"

namespace {

std::mutex g_folder_mutex;
std::string g_folder_override;

std::string InFolder(const char* name) {
  std::lock_guard<std::mutex> lock(g_folder_mutex);
  return (g_folder_override.empty() ? std::string(kRestoreFolder) : g_folder_override) + "/" + name;
}

std::string OnLine(int line, const std::string& what) { return "line " + std::to_string(line) + " " + what; }

std::string Quoted(const char* text) { return std::string("\"") + text + "\""; }

// Why a number setting would not hold the value as written, or nullptr.
const char* NumberProblem(const ConfigSetting& setting, std::string_view value) {
  if (!value.empty() && value[0] == '+') value.remove_prefix(1);
  int64_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || error != std::errc() || end != value.data() + value.size()) return "is not a whole number";
  switch (setting.rule) {
    case ConfigRule::kFlag:
      return number == 0 || number == 1 ? nullptr : "is neither 0 nor 1";
    case ConfigRule::kByte:
      return number >= 0 && number <= 255 ? nullptr : "is not between 0 and 255";
    case ConfigRule::kMilliseconds:
      return number >= -(INT32_MAX / 1000) && number <= INT32_MAX / 1000 ? nullptr : "is too large a number of seconds";
    default:
      return number >= INT32_MIN && number <= INT32_MAX ? nullptr : "does not fit in 32 bits";
  }
}

// Why a text setting would not hold the value as written, or "".
std::string TextProblem(const ConfigSetting& setting, std::string_view value) {
  if (setting.rule == ConfigRule::kQuotedText && value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  if (setting.rule == ConfigRule::kRcMap && value.empty()) return "";  // the map of unassigned channels
  if (value.size() > setting.limit.max) return "is longer than " + std::to_string(setting.limit.max) + " bytes";
  std::string stored;
  if (PrepareReceivedText(setting, value, &stored) && stored == value) return "";
  return "would not be kept as written: a control character, a double quote inside, a blank at an end or "
         "before \";\"";
}

struct LineCheck {
  std::string problem;
  bool seen[std::size(kConfigSchema)] = {};
};

int CheckLine(void* user, int line, const char* section, const char* key, const char* value) {
  auto* check = static_cast<LineCheck*>(user);
  if (!check->problem.empty()) return 1;
  const int index = ConfigSettingIndex(key);
  if (section[0] != '\0') {
    check->problem =
        OnLine(line, "sets " + Quoted(key) + " under the section [" + section + "], where the box reads no setting");
  } else if (index < 0) {
    check->problem = OnLine(line, "sets " + Quoted(key) + ", which is not a setting of the box");
  } else if (check->seen[index]) {
    check->problem = OnLine(line, "sets " + Quoted(key) + " a second time");
  } else {
    check->seen[index] = true;
    const ConfigSetting& setting = kConfigSchema[index];
    std::string why = IsTextRule(setting.rule) ? TextProblem(setting, value) : "";
    if (!IsTextRule(setting.rule)) {
      if (const char* problem = NumberProblem(setting, value)) why = problem;
    }
    if (!why.empty()) check->problem = OnLine(line, "gives " + Quoted(key) + " a value that " + why);
  }
  return check->problem.empty() ? 1 : 0;
}

// The loader reads a long line in pieces, and a key line's value would lose its tail.
std::string LongLineProblem(std::string_view text) {
  int line = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = text.substr(start, end - start);
    ++line;
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    if (piece.size() > kConfigLineLimit && piece[0] != '#' && piece[0] != ';') {
      return OnLine(line, "is longer than the " + std::to_string(kConfigLineLimit) +
                              " characters the box reads of a line");
    }
    start = end + 1;
  }
  return "";
}

// Reads and removes the handed-over file; why it cannot be taken, or "".
std::string TakeHandedOverFile(const std::string& path, std::string* text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? "no settings file was handed over" : "the handed-over file cannot be opened";
  std::string problem;
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    // Only the daemon's own user writes the folder: anything else came from elsewhere.
    problem = "the handed-over file is not a plain file of the daemon's user with mode 0600";
  } else {
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 && text->size() <= kMaxRestoredBytes) {
      text->append(buffer, static_cast<size_t>(n));
    }
    if (n < 0) problem = "the handed-over file cannot be read";
  }
  close(fd);
  unlink(path.c_str());
  return problem;
}

// Stores into the process's record every setting of the file whose value in
// to differs from from; numbers whole, as their readers load them.
std::vector<const ConfigSetting*> PutSettings(const SharedConfig& to, const SharedConfig& from) {
  std::vector<const ConfigSetting*> changed;
  const auto* wanted = reinterpret_cast<const uint8_t*>(&to);
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key == nullptr || setting.size == 0) continue;
    const uint8_t* value = wanted + setting.offset;
    if (std::memcmp(value, reinterpret_cast<const uint8_t*>(&from) + setting.offset, setting.size) == 0) continue;
    changed.push_back(&setting);
    if (setting.size == 4) {
      int32_t number;
      std::memcpy(&number, value, sizeof number);
      StoreSettingInt32(FieldOfSetting(setting), number);
    } else {
      RestoreSettingBytes(FieldOfSetting(setting), value);
    }
    if (setting.rule == ConfigRule::kRcMap) ParseRcChannelMap(to.rc_input_map);
  }
  return changed;
}

std::string TokenOf(const char* text) {
  std::string token;
  for (const char* c = text; c != nullptr && *c != '\0' && token.size() < 40; ++c) {
    const bool plain = (*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || *c == '-';
    if (plain) token.push_back(*c);
  }
  return token.empty() ? "-" : token;
}

// Refusals and unwritable answers at most once a second, however often a
// viewer sends the command.
void LogRefusal(const char* line) {
  static RateGate gate;
  if (!RateGatePasses(&gate, 1000)) return;
  fputs(line, stderr);
}

void Answer(const std::string& token, const char* word, const std::string& why) {
  if (ReplaceFileWhole(InFolder(kRestoreAnswerName), token + " " + word + " " + why + "\n") != nullptr) {
    LogRefusal("restore answer not written: the handover folder cannot be written\n");
  }
}

}  // namespace

RestoreCheck CheckRestoredText(std::string_view text) {
  RestoreCheck check{{}, CheckSettingsText(text)};
  const SettingsVerdict& verdict = check.verdict;
  if (text.size() > kMaxRestoredBytes) {
    check.problem =
        "the file is longer than the " + std::to_string(kMaxRestoredBytes) + " bytes a settings file may hold";
  } else if (verdict.shape == SettingsShape::kDamaged) {
    const std::string why = verdict.damage != nullptr ? verdict.damage : "it is torn";
    check.problem = "the file is damaged: " + (verdict.damage_line > 0 ? OnLine(verdict.damage_line, why) : why);
  } else if (verdict.keys == 0) {
    check.problem = "the file sets none of the box's settings";
  } else if (std::string long_line = LongLineProblem(text); !long_line.empty()) {
    check.problem = long_line;
  } else {
    LineCheck lines;
    const int first_error = ParseSettingsTextByLine(text, CheckLine, &lines);
    check.problem = lines.problem;
    if (check.problem.empty() && first_error > 0) check.problem = OnLine(first_error, "cannot be read");
  }
  return check;
}

int RestoreHandedOverSettings(const char* token_text) {
  const std::string token = TokenOf(token_text);
  std::string text;
  std::string problem = TakeHandedOverFile(InFolder(kRestoreFileName), &text);
  RestoreCheck check;
  if (problem.empty()) problem = (check = CheckRestoredText(text)).problem;
  if (!problem.empty()) {
    LogRefusal("settings not restored: the file was refused\n");
    Answer(token, "refused", problem);
    return 0;
  }
  // One restore at a time, so that a failed one puts back what stood before it.
  static std::mutex restore_mutex;
  std::lock_guard<std::mutex> lock(restore_mutex);
  const SharedConfig before = SnapshotSharedConfig();
  const SharedConfig after = SettingsRecordOf(text, before);
  const std::vector<const ConfigSetting*> changed = PutSettings(after, before);
  // The record holds a good file's settings now: they may replace those on the card.
  const SettingsOrigin origin = CurrentSettingsOrigin();
  SetSettingsOrigin(SettingsOrigin::kGood);
  if (!SaveConfiguration()) {
    PutSettings(before, after);
    SetSettingsOrigin(origin);
    fprintf(stderr, "settings not restored: they were not saved, and stay as they were\n");
    Answer(token, "failed", "the box could not save the settings (its log says why); they stay as they were");
    return 0;
  }
  const int exit_code = FollowSettingChanges(changed);
  fprintf(stderr, "settings restored and saved: %zu changed\n", changed.size());
  std::string why = std::to_string(changed.size()) + " settings changed; the file was " +
                    SettingsShapeName(check.verdict.shape);
  if (exit_code != 0) why += "; the daemon restarts, as a setting it reads only at start changed";
  Answer(token, exit_code != 0 ? "restarting" : "saved", why);
  return exit_code;
}

void SetRestoreFolderForTest(const char* folder) {
  std::lock_guard<std::mutex> lock(g_folder_mutex);
  g_folder_override = folder != nullptr ? folder : "";
}
