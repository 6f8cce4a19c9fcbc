// Which file the settings come from at start: one decision, made by the same
// code in the unit's prepare step (vantagebridge --pick-config) and in the
// daemon's loader.
//
// A save leaves the boot file, a ".new" file beside it while the save is under
// way, and a ".last" copy of the last whole save (see writer.h). In order:
//   1. the ".new" file when its check line matches: a save was cut short after
//      its new text was complete, and the boot file may be torn;
//   2. the boot file when it is whole (checked, or edited by hand) and sets keys;
//   3. the ".last" copy when its check line matches;
//   4. a ".new" file that is whole without a check line (an older writer's);
//   5. the copy under /run of this boot's last save (the boot partition may
//      have failed to mount again after it);
//   6. a damaged boot file that still sets keys, read as far as it goes;
//   7. the packaged default.
#pragma once

#include <cstdio>
#include <string>

struct SettingsFiles {
  std::string boot;      // the file on the boot partition; ".new" and ".last" lie beside it
  std::string run_copy;  // the LF copy every save refreshes; empty for none
  std::string packaged;  // the package's default file; empty for none
};

std::string PendingSavePath(const std::string& boot);
std::string LastGoodPath(const std::string& boot);

enum class SettingsOrigin {
  kGood,      // a whole file that sets keys
  kDamaged,   // a damaged boot file, the best there was
  kPackaged,  // the packaged default: no settings were found
  kNothing,   // no file at all
};

struct SettingsPick {
  std::string path;  // empty when nothing was picked
  std::string text;
  SettingsOrigin origin = SettingsOrigin::kNothing;
};

// Reads the files and picks one; its reasons go to log (nullptr: none).
SettingsPick PickSettings(const SettingsFiles& files, FILE* log);

// True when the boot file, its ".new" or its ".last" is good, or cannot be
// read (and so may be): settings a save must not replace with a record that
// came from nowhere. which names the first such file.
bool CardHoldsSettings(const std::string& boot, std::string* which);

// vantagebridge --pick-config BOOT_FILE RUN_COPY PACKAGED_FILE WORKING_COPY:
// writes the picked settings whole to WORKING_COPY (LF line ends, mode 0600)
// and returns 0; when only the packaged default or nothing is left it removes
// WORKING_COPY, so that the daemon picks for itself, and returns 1. 64 for a
// wrong call. args are the words after the option.
int PickConfigCommand(int count, char** args);
