// Loading the settings into SharedConfig at start-up, and the "/config_mem"
// object of the record's size.
#pragma once

#include <string>
#include <string_view>

#include "config/settings_pick.h"
#include "records/shared_config.h"

// Loads the working copy (the prepare step's pick, "vantagebridge.conf" in the
// working directory) when it is good, else picks among the files itself, just
// as the prepare step does (settings_pick.h). With no file at all the record
// keeps zeros and the RC mode defaults (kNothing). Tells the writer where the
// settings came from, so that it never saves a record from nowhere over good
// settings. Makes the working copy and the /run copy readable by root only.
SettingsOrigin LoadSettingsAtStart(const std::string& working_copy, const SettingsFiles& files);

// Opens or creates "/config_mem" and maps it, once settings were loaded.
void MapConfigMemory();

// The file steps of the loader for a file at any path: clears SharedConfig,
// puts the RC mode defaults, parses the file with SetConfigKey and puts the
// default RC map when none was given. Returns ini_parse's result: 0, the line
// number of the first rejected line, or negative when the file cannot be opened.
int ParseConfigurationFile(const char* path);

// The same steps over a configuration text held in memory (NUL bytes included).
int ParseConfigurationText(std::string_view text);


// The record a settings text gives, built on base: the file's settings as the
// text sets them, those it leaves out as a start without them has them, the
// fields the file does not hold (status, version) as base has them. Reads the
// text by the same key rules; touches neither the process's record nor the
// RC channel map in force.
SharedConfig SettingsRecordOf(std::string_view text, const SharedConfig& base);
