// Arbitrary request bodies into vb-web's command check: whatever it accepts is
// one JSON object the mailbox can hold, and checks the same the second time.
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "../tools/vb-web/command_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const CheckedCommand checked = CheckCommand(std::string_view(reinterpret_cast<const char*>(data), size));
  if (checked.status != 200) return 0;
  if (checked.text.empty() || checked.text.size() > kMaxCommandText) abort();
  cJSON* root = cJSON_Parse(checked.text.c_str());
  if (!cJSON_IsObject(root)) abort();
  cJSON_Delete(root);
  const CheckedCommand again = CheckCommand(checked.text);
  if (again.status != 200 || again.text != checked.text) abort();
  return 0;
}
