// Commands by name for vb-viewer: the vocabulary lives beside the box's
// dispatcher (commands/vocabulary.h); this only turns a typed line into its text.
#pragma once

#include <cstdio>
#include <string>

// "NAME [VALUES...]": NAME as listed by --commands; the values fill, in order,
// the param (where the command takes one), value1 and value2. A value holding
// blanks is written in double quotes. On success json holds the command text.
bool BuildCommandLine(const std::string& line, std::string* json, std::string* error);

void PrintVocabulary(FILE* out);
