// Saves the whole SharedConfig as the commented configuration file on the boot
// partition (CR LF line ends) and refreshes the LF copy under /run.
#pragma once

#include <cstddef>
#include <string>

#include "records/shared_config.h"

// Rewrites the boot file from the current record. Saves from different threads
// run one after the other; a crash mid-save leaves the old file or the new one,
// and the boot partition is read-only again after every save, failed or not.
// False (and logged) when the file was not replaced.
bool SaveConfiguration();

// With saves refused, SaveConfiguration changes nothing and returns false: set
// at start when no settings could be loaded but a file exists that holds some.
void SetSavesRefused(bool refused);

// The full text of the file for a record, as SaveConfiguration writes it.
size_t FormatConfigurationFile(const SharedConfig& config, std::string* out);

// Points the writer at another file (nullptr restores the boot file), so tests
// never write the boot partition. The shell steps are still issued as usual.
void SetBootConfigPathForTest(const char* path);
