// Arbitrary command texts into the box-level command handler. Commands that end
// the process are skipped the way the handler itself reads them.
#include <cjson/cJSON.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/app_commands.h"
#include "config/writer.h"
#include "platform/shell.h"
#include "platform/clock.h"
#include "records/param_schema.h"

namespace {

bool Is(const cJSON* root, const char* member, const char* word) {
  const cJSON* item = cJSON_GetObjectItem(root, member);
  return cJSON_IsString(item) && item->valuestring && std::strcmp(item->valuestring, word) == 0;
}

bool EndsTheProcess(const std::string& text) {
  cJSON* root = cJSON_Parse(text.c_str());
  if (!root) return false;
  bool ends = false;
  if (cJSON_IsObject(root)) {
    const char* name = cJSON_GetStringValue(cJSON_GetObjectItem(root, "name"));
    const ParamRow* row = Is(root, "cmd", "updateparam") && name ? FindParamRow(name) : nullptr;
    ends = Is(root, "cmd", "restart") || (row && row->exit_code != 0);
  }
  cJSON_Delete(root);
  return ends;
}

std::string g_boot_dir;
std::string g_boot_path;

void RemoveBootFile() {
  unlink(g_boot_path.c_str());
  unlink((g_boot_path + ".new").c_str());
  rmdir(g_boot_dir.c_str());
}

void SetUpOnce() {
  SkipSleepsForFuzzing(true);
  char pattern[] = "/tmp/vb-fuzz-appcmd-XXXXXX";
  const char* dir = mkdtemp(pattern);
  g_boot_dir = dir ? dir : "";
  g_boot_path = (dir ? g_boot_dir : std::string("/tmp")) + "/vantagebridge-cable.conf";
  SetBootConfigPathForTest(g_boot_path.c_str());
  if (dir) atexit(RemoveBootFile);
  // Keep the console quiet: the handler logs every command.
  if (!getenv("VB_FUZZ_VERBOSE") && !freopen("/dev/null", "w", stdout)) {
    // stdout stays as it was
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (SetUpOnce(), true);
  (void)ready;
  std::string text(reinterpret_cast<const char*>(data), size);
  if (EndsTheProcess(text)) return 0;
  HandleAppCommand(text.c_str(), static_cast<int>(text.size()));
  ShellTakeLog();
  return 0;
}
