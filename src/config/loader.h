// Loading "vantagebridge.conf" into SharedConfig at start-up, and the
// "/config_mem" object of the record's size.
#pragma once

#include <cstdint>

// Loads "vantagebridge.conf" from the working directory. Returns a negative
// value when the file cannot be opened, else the address of the "/config_mem"
// mapping (0 when that mapping failed).
intptr_t LoadConfiguration();

// The same for a file at any path; the loader's steps are identical.
intptr_t LoadConfigurationFile(const char* path);
