#include "config/settings_pick.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/settings_check.h"
#include "platform/durable_file.h"

namespace {

struct Candidate {
  std::string path;
  FileRead read = FileRead::kMissing;
  std::string text;
  SettingsVerdict verdict{SettingsShape::kDamaged, 0};
};

Candidate Read(const std::string& path) {
  Candidate c;
  c.path = path;
  if (path.empty()) return c;
  c.read = ReadWholeFile(path, &c.text);
  if (c.read == FileRead::kRead) c.verdict = CheckSettingsText(c.text);
  return c;
}

bool Checked(const Candidate& c) { return c.verdict.shape == SettingsShape::kChecked && c.verdict.Good(); }
bool Good(const Candidate& c) { return c.verdict.Good(); }
bool SetsKeys(const Candidate& c) { return c.read == FileRead::kRead && c.verdict.keys > 0; }

// Why a file was passed over, for the log.
const char* Fault(const Candidate& c) {
  if (c.read == FileRead::kMissing) return "is missing";
  if (c.read == FileRead::kUnreadable) return "cannot be read";
  if (c.text.empty()) return "is empty";
  if (c.verdict.shape == SettingsShape::kDamaged) return "is damaged (torn)";
  return "holds no settings";
}

}  // namespace

std::string PendingSavePath(const std::string& boot) { return boot + ".new"; }
std::string LastGoodPath(const std::string& boot) { return boot + ".last"; }

SettingsPick PickSettings(const SettingsFiles& files, FILE* log) {
  Candidate pending = Read(PendingSavePath(files.boot));
  Candidate boot = Read(files.boot);
  Candidate last = Read(LastGoodPath(files.boot));
  Candidate run = Read(files.run_copy);
  Candidate packaged = Read(files.packaged);
  struct Choice {
    Candidate* file;
    bool (*accept)(const Candidate&);
    SettingsOrigin origin;
  };
  const Choice order[] = {
      {&pending, Checked, SettingsOrigin::kGood},   {&boot, Good, SettingsOrigin::kGood},
      {&last, Checked, SettingsOrigin::kGood},      {&pending, Good, SettingsOrigin::kGood},
      {&run, Good, SettingsOrigin::kGood},          {&boot, SetsKeys, SettingsOrigin::kDamaged},
      {&packaged, Good, SettingsOrigin::kPackaged},
  };
  for (const Choice& choice : order) {
    if (!choice.accept(*choice.file)) continue;
    if (log != nullptr) {
      if (choice.file == &pending) {
        fprintf(log, "a save was cut short: %s is whole and takes the place of %s\n", pending.path.c_str(),
                boot.path.c_str());
      } else if (choice.file != &boot) {
        fprintf(log, "%s %s\n", boot.path.c_str(), Fault(boot));
      }
      fprintf(log, "settings from %s (%s, %d keys)\n", choice.file->path.c_str(),
              SettingsShapeName(choice.file->verdict.shape), choice.file->verdict.keys);
    }
    return {choice.file->path, std::move(choice.file->text), choice.origin};
  }
  if (log != nullptr) {
    fprintf(log, "%s %s, and no other copy holds settings\n", boot.path.c_str(), Fault(boot));
    if (!packaged.path.empty()) fprintf(log, "%s %s\n", packaged.path.c_str(), Fault(packaged));
  }
  return {};
}

bool CardHoldsSettings(const std::string& boot, std::string* which) {
  for (const std::string& path : {boot, PendingSavePath(boot), LastGoodPath(boot)}) {
    const Candidate c = Read(path);
    if (c.read == FileRead::kUnreadable || Good(c)) {
      *which = path;
      return true;
    }
  }
  return false;
}

int PickConfigCommand(int count, char** args) {
  if (count != 4) {
    fprintf(stderr, "usage: vantagebridge --pick-config BOOT_FILE RUN_COPY PACKAGED_FILE WORKING_COPY\n");
    return 64;
  }
  const SettingsFiles files{args[0], args[1], args[2]};
  const std::string working_copy = args[3];
  RestrictToOwner(files.run_copy);
  const SettingsPick pick = PickSettings(files, stderr);
  if (pick.origin == SettingsOrigin::kGood || pick.origin == SettingsOrigin::kDamaged) {
    const char* failed = ReplaceFileWhole(working_copy, WithLfLineEnds(pick.text));
    if (failed == nullptr) return 0;
    fprintf(stderr, "working copy %s not written: %s failed (%s)\n", working_copy.c_str(), failed, strerror(errno));
  }
  // No copy of a file nobody checked: the daemon then picks for itself.
  unlink(working_copy.c_str());
  return 1;
}
