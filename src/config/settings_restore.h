// Restoring the settings from a whole settings file that a local program hands
// over (the web page's upload): checked as the file the box starts from, and
// also refused where the loader would silently read something else than the
// file says, since a person is there to read why; then loaded into the record
// by the loader's key rules and saved as every change is.
//
// The handover: the program writes the file whole as kRestoreFile (root's,
// mode 0600, in a folder only root writes) and sends the command
// {"cmd":"restore","value":TOKEN}. The daemon takes the file (removes it),
// restores it and writes one line to kRestoreAnswer: the token, a word and
// why: "TOKEN saved ...", "TOKEN restarting ..." (saved; exit code 2 follows),
// "TOKEN refused ..." (nothing changed) or "TOKEN failed ..." (not saved,
// nothing changed).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "config/settings_check.h"

inline constexpr size_t kMaxRestoredBytes = 32 * 1024;
inline constexpr const char* kRestoreFolder = "/run/vb-web";
inline constexpr const char* kRestoreFileName = "restore.conf";
inline constexpr const char* kRestoreAnswerName = "restore.answer";

struct RestoreCheck {
  std::string problem;  // why the file cannot be restored; empty when it can
  SettingsVerdict verdict;
};

// The checks of a restored file, in order: its length, CheckSettingsText
// (damaged, or setting no key), lines longer than the loader reads whole, and
// per line: a key under a section, a key that is not a setting, a key set
// twice, a number that is not a whole number in its setting's range, a text
// the setting would not keep as written.
RestoreCheck CheckRestoredText(std::string_view text);

// The box-level "restore" command's work: takes the handed-over file,
// restores it and answers (see above). Returns 2 when a setting read only at
// start changed, else 0.
int RestoreHandedOverSettings(const char* token);

// Where the handover folder is (nullptr: kRestoreFolder again), so that tests
// never use /run.
void SetRestoreFolderForTest(const char* folder);
