// The members of one box-level JSON command, as texts.
#pragma once

#include <cjson/cJSON.h>

// A member that is missing or not a JSON string reads as the empty text;
// member names are matched without regard to case.
struct AppCommand {
  const char* cmd;
  const char* name;
  const char* param;
  const char* value[13];  // value[1] is "value", value[2] "value2" ... value[12]
  int value_true;         // value is "1" or "true"
  int value2_true;
};

// The members of root (not an object, or nullptr: all empty). The texts stay
// root's: they live as long as it does.
AppCommand ReadAppCommand(const cJSON* root);
