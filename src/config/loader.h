// Loading "vantagebridge.conf" into SharedConfig at start-up, and the
// "/config_mem" object of the record's size.
#pragma once

#include <cstdint>

// Loads "vantagebridge.conf" from the working directory, then opens or creates
// "/config_mem" and maps it. Returns a negative value when the file cannot be
// opened (the object is then left alone), else the address of the mapping
// (0 when that mapping failed).
intptr_t LoadConfiguration();

// The same, from the file at path.
intptr_t LoadConfigurationFrom(const char* path);

// The file steps of the loader for a file at any path: clears SharedConfig,
// puts the RC mode defaults, parses the file with SetConfigKey and puts the
// default RC map when none was given. Returns ini_parse's result: 0, the line
// number of the first rejected line, or negative when the file cannot be opened.
int ParseConfigurationFile(const char* path);

// The same steps over a configuration text held in memory.
int ParseConfigurationText(const char* text);
