// A parsed cJSON document that frees itself, and its compact text.
#pragma once

#include <cjson/cJSON.h>

#include <memory>
#include <string>

struct JsonDeleter {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// Empty when the document cannot be printed.
inline std::string CompactJson(const cJSON* root) {
  char* printed = cJSON_PrintUnformatted(root);
  std::string text = printed ? printed : "";
  cJSON_free(printed);
  return text;
}
