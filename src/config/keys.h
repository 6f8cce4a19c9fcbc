// Configuration text to SharedConfig fields: the per-key setter that stores by
// the rules of the configuration schema, the RC channel map parser and the HDMI
// mode table.
#pragma once

struct ConfigSetting;

struct SharedConfig;

// inih handler: returns 1 when the key was stored, 0 when it was rejected
// (a key inside a section, or a key the file does not have). user: the record
// to store into, a SharedConfig of the caller's own, whose RC map leaves the
// channel map in force alone; nullptr for the process's record.
int SetConfigKey(void* user, const char* section, const char* key, const char* value);

// Stores a value in the setting's field by its rule, as a line of the file
// would (a text first goes through LoadedText; the RC map also rebuilds the
// channel map).
void StoreSettingValue(const ConfigSetting& setting, const char* value);

// Rewrites the 32 RC channel map bytes of HudState from a comma-separated map text.
void ParseRcChannelMap(const char* map_text);

// Returns 0 and sets group (0 CEA, 1 DMT) and code when the name is in the
// table; non-zero and leaves both untouched otherwise.
int LookupHdmiMode(const char* name, int* group, int* code);

// The RC function code of a map word, 255 for an empty or unknown word.
int RcFunctionCode(const char* word);

// The map word of an RC function code; nullptr for a code that names none.
const char* RcFunctionWord(int code);
