// What a name changes, by which rule, and what follows, comes from the
// "updateparam" rows of the records; a text the file could not give back
// unchanged is refused whole.
#include "config/param_updates.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/named_rows.h"
#include "common/shared_field.h"
#include "config/keys.h"
#include "config/writer.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/shell.h"
#include "records/config_schema.h"
#include "records/hud_state.h"
#include "records/param_schema.h"
#include "records/shared_config.h"

namespace {

const ConfigSetting& SettingOf(const ParamMember& member) { return *FindConfigSetting(member.setting); }

const char* TextOf(const AppCommand& c, const ParamMember& member) {
  return c.value[ValueMemberNumber(member.member)];
}

const uint8_t* FieldOf(const ParamMember& member) {
  return reinterpret_cast<const uint8_t*>(GetSharedConfig()) + SettingOf(member).offset;
}

// A change refused for its texts: logged, at most once a second, with its fixed name.
void LogRefusal(const char* name) {
  static std::mutex mutex;
  static std::chrono::steady_clock::time_point last;
  static bool logged = false;
  auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex);
  if (logged && now - last < std::chrono::seconds(1)) return;
  logged = true;
  last = now;
  LogWarning("updateparam %s refused: a text the settings file cannot hold\n", name);
}

// The console shows that a password arrived and how long it is, never the password.
void Echo(const ParamRow& row, const AppCommand& c) {
  if (row.echo == nullptr) return;
  const auto members = MembersOf(row);
  std::string line;
  size_t next = 0;
  for (const char* p = row.echo; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's' && next < members.size()) {
      const ParamMember& member = members[next++];
      const char* text = TextOf(c, member);
      line += member.passphrase ? std::string(std::strlen(text), '*') : std::string(text);
      ++p;
    } else {
      line += *p;
    }
  }
  fputs(line.c_str(), stdout);
  fflush(stdout);
}

// Stores nothing: switches the HDMI output mode.
void ChangeHdmiMode(const AppCommand& c) {
  int group = 0;
  int code = 0;
  LookupHdmiMode(c.value[1], &group, &code);
  char line[96];
  if (code < 1) {
    fprintf(stderr, "set default HDMI mode\n");
    ExecuteShellCommand("tvservice -p");
    if (c.value2_true) ExecuteShellCommand("./scripts/hdmi-mode.sh");
  } else {
    const char* group_name = group == 1 ? "DMT" : "CEA";
    fprintf(stderr, "set HDMI mode to %s %d\n", group_name, code);
    snprintf(line, sizeof line, "tvservice -e \"%s %d\"", group_name, code);
    ExecuteShellCommand(line);
    if (c.value2_true) {
      snprintf(line, sizeof line, "./scripts/hdmi-mode.sh %d %d", group == 1 ? 2 : 1, code);
      ExecuteShellCommand(line);
    }
  }
  SleepMilliseconds(1000);
}

void RunCommands(const ParamRow& row, const AppCommand& c) {
  const bool value_true = IsTruthWord(TextOf(c, row.members[0]));
  for (const ParamCommand& command : row.commands) {
    if (command.line == nullptr) continue;
    if (command.when == ParamWhen::kValueTrue && !value_true) continue;
    if (command.when == ParamWhen::kValueFalse && value_true) continue;
    ExecuteShellCommand(command.line);
  }
}

void StoreMember(const ParamMember& member, const char* text, const std::string& prepared_text) {
  switch (member.value) {
    case ParamValue::kTruthWord:
      StoreSettingValue(SettingOf(member), IsTruthWord(text) ? "1" : "0");
      break;
    case ParamValue::kNumber:
      StoreSettingValue(SettingOf(member), text);
      break;
    case ParamValue::kText:
      StoreSettingValue(SettingOf(member), prepared_text.c_str());
      break;
    case ParamValue::kChoice:
      if (const char* stored = StoredForWord(member.choices, text)) StoreSettingValue(SettingOf(member), stored);
      break;
    case ParamValue::kNone:
    case ParamValue::kArgument:
      break;
  }
}

// Read only at start, and changed by no name: a change takes a restart.
constexpr const char* kReadAtStartOnly[] = {"shield_enabled", "i2c_input_enabled"};

constexpr bool ReadAtStartOnlyExist() {
  for (const char* key : kReadAtStartOnly) {
    if (ConfigSettingIndex(key) < 0) return false;
  }
  return true;
}
static_assert(ReadAtStartOnlyExist());

bool Changed(const std::vector<const ConfigSetting*>& changed, const char* key) {
  for (const ConfigSetting* setting : changed) {
    if (std::strcmp(setting->key, key) == 0) return true;
  }
  return false;
}

}  // namespace

const char* ParamUpdateChoice(size_t index) { return NameAt(kParamRows, index); }

int ApplyParameterUpdate(const AppCommand& command) {
  const ParamRow* row = FindParamRow(command.name);
  if (row == nullptr) return 0;
  Echo(*row, command);
  if (row->action == ParamAction::kHdmiMode) {
    ChangeHdmiMode(command);
    RunCommands(*row, command);
    return row->exit_code;
  }

  // Every text is checked before anything is stored, so a refused change
  // leaves the record as it was.
  const auto members = MembersOf(*row);
  std::string prepared[kMaxParamMembers];
  for (size_t i = 0; i < members.size(); ++i) {
    if (members[i].value == ParamValue::kText &&
        !PrepareReceivedText(SettingOf(members[i]), TextOf(command, members[i]), &prepared[i])) {
      LogRefusal(row->name);
      return 0;
    }
  }
  // Rows that restart the daemon hold number settings only: at most four bytes each to put back.
  uint8_t before[kMaxParamMembers][4] = {};
  if (row->exit_code != 0) {
    for (size_t i = 0; i < members.size(); ++i) LoadSharedBytes(before[i], FieldOf(members[i]), SettingOf(members[i]).size);
  }
  for (size_t i = 0; i < members.size(); ++i) StoreMember(members[i], TextOf(command, members[i]), prepared[i]);
  if (row->hud_flag != HudFlag::kNone) StoreHudFlag(row->hud_flag, LoadShared(FieldOf(members[0])));
  if (!SaveConfiguration() && row->exit_code != 0) {
    // The restarted daemon would read the old mode from the file anyway; the
    // change is undone so that this one keeps running in one mode, not two.
    for (size_t i = 0; i < members.size(); ++i) RestoreSettingBytes(FieldOfSetting(SettingOf(members[i])), before[i]);
    LogError("mode change not saved, staying in the current mode\n");
    return 0;
  }
  RunCommands(*row, command);
  if (row->resets_rc_state) StoreHudFlag(HudFlag::kRcInputStatus, 0);
  return row->exit_code;
}

int FollowSettingChanges(const std::vector<const ConfigSetting*>& changed) {
  std::vector<const char*> commands;  // run so far
  bool reset_rc_state = false;
  int exit_code = 0;
  for (const ParamRow& row : kParamRows) {
    if (row.action != ParamAction::kStore) continue;
    const auto members = MembersOf(row);
    const bool covered = std::any_of(members.begin(), members.end(), [&](const ParamMember& member) {
      return member.setting != nullptr && Changed(changed, member.setting);
    });
    if (!covered) continue;
    const bool first_true = members[0].setting != nullptr && LoadShared(FieldOf(members[0])) != 0;
    if (row.hud_flag != HudFlag::kNone) StoreHudFlag(row.hud_flag, LoadShared(FieldOf(members[0])));
    for (const ParamCommand& command : row.commands) {
      if (command.line == nullptr) continue;
      if (command.when == ParamWhen::kValueTrue && !first_true) continue;
      if (command.when == ParamWhen::kValueFalse && first_true) continue;
      const auto same = [&](const char* c) { return std::strcmp(c, command.line) == 0; };
      if (std::none_of(commands.begin(), commands.end(), same)) {
        commands.push_back(command.line);
        ExecuteShellCommand(command.line);
      }
    }
    reset_rc_state = reset_rc_state || row.resets_rc_state;
    exit_code = std::max(exit_code, row.exit_code);
  }
  for (const char* key : kReadAtStartOnly) {
    if (Changed(changed, key)) exit_code = 2;
  }
  if (reset_rc_state) StoreHudFlag(HudFlag::kRcInputStatus, 0);
  return exit_code;
}
