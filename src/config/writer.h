// Saves the whole SharedConfig as the commented configuration file on the boot
// partition (CR LF line ends, a check line last) and refreshes the LF copy
// under /run.
//
// A FAT partition renames in several writes, so a save renames nothing. After
// the partition is remounted read-write it writes, flushing the file and its
// folder after each step:
//   1. the new text to "<file>.new" (kept as it is, instead, when it holds the
//      whole text of a save cut short that the last start picked up);
//   2. the new text over the boot file, in place;
//   3. the new text over "<file>.last", the last good copy;
//   4. removes "<file>.new".
// Whatever instant a power cut hits, one of the files is whole and the start
// picks it (settings_pick.h): the settings of this save or of the one before.
#pragma once

#include <cstddef>
#include <string>

#include "config/settings_pick.h"
#include "records/shared_config.h"

// Rewrites the boot files from the current record. Saves from different
// threads run one after the other, and the boot partition is read-only again
// after every save, failed or not. False (and logged) when the save failed: a
// step failed, the partition could not be made writable or mounted again, or
// the record came from nowhere while the card holds settings (see
// SetSettingsOrigin).
bool SaveConfiguration();

// Where the record's settings came from; set by the loader at start. Unless
// they came from a good file, a save goes ahead only when the card holds no
// settings to lose. A save that succeeded makes the record good.
void SetSettingsOrigin(SettingsOrigin origin);
SettingsOrigin CurrentSettingsOrigin();

// The full text of the file for a record, as SaveConfiguration writes it.
size_t FormatConfigurationFile(const SharedConfig& config, std::string* out);

// Points the writer at another boot file and /run copy (nullptr restores
// them), so tests never write the boot partition. The shell steps are still
// issued as usual.
void SetBootConfigPathForTest(const char* path, const char* run_copy = nullptr);
