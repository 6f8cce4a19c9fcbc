// Reading the lines of a settings text with inih, from a file or from memory,
// the same way for the loader and for the check that tells whole files from
// torn ones.
#pragma once

#include <cstdio>
#include <string_view>

// inih's handler: returns nonzero to go on.
using SettingsLineHandler = int (*)(void* user, const char* section, const char* key, const char* value);

// ini_parse's result: 0, or the line number of the first line the handler refused.
int ParseSettingsFile(FILE* file, SettingsLineHandler handler, void* user);
int ParseSettingsText(std::string_view text, SettingsLineHandler handler, void* user);

// The same over a text, with the number of the line each key was read from
// (1 for the first) handed to the handler.
using NumberedLineHandler = int (*)(void* user, int line, const char* section, const char* key, const char* value);
int ParseSettingsTextByLine(std::string_view text, NumberedLineHandler handler, void* user);

// The number of lines of the text that set a key of the file; stores nothing.
int CountConfigurationKeys(std::string_view text);
