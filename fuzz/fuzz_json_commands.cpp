// Arbitrary command texts down the whole JSON command path: box-level and
// camera commands alike, through the one entry, with the camera link up and a USB
// socket whose frames go to a loopback sink. Commands that end the process are
// skipped the way the handlers themselves read them. The journal's form of
// every text is one line without control characters, with no Wi-Fi password
// left in it.
#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands/dispatcher.h"
#include "config/settings_restore.h"
#include "config/writer.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "platform/shell.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/param_schema.h"
#include "records/usb_peer.h"
#include "writable_records.h"

namespace {

bool Is(const cJSON* root, const char* member, const char* word) {
  const cJSON* item = cJSON_GetObjectItem(root, member);
  return cJSON_IsString(item) && item->valuestring != nullptr && std::strcmp(item->valuestring, word) == 0;
}

bool EndsTheProcess(const std::string& text) {
  cJSON* root = cJSON_Parse(text.c_str());
  if (root == nullptr) return false;
  bool ends = false;
  if (cJSON_IsObject(root)) {
    const char* name = cJSON_GetStringValue(cJSON_GetObjectItem(root, "name"));
    const ParamRow* row = Is(root, "cmd", "updateparam") && name ? FindParamRow(name) : nullptr;
    ends = Is(root, "cmd", "restart") || (row && row->exit_code != 0);
  }
  cJSON_Delete(root);
  return ends;
}

int g_sink_fd = -1;
std::string g_boot_path;

int BoundLoopbackSocket(sockaddr_in* addr) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  *addr = sockaddr_in{};
  addr->sin_family = AF_INET;
  addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(addr), sizeof *addr);
  socklen_t length = sizeof *addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(addr), &length);
  return fd;
}

void SetUpOnce() {
  SkipSleepsForFuzzing(true);
  // Saved settings go to a scratch file, never to the boot partition.
  char pattern[] = "/tmp/vb-fuzz-json-XXXXXX";
  const char* dir = mkdtemp(pattern);
  g_boot_path = std::string(dir != nullptr ? dir : "/tmp") + "/vantagebridge-cable.conf";
  SetBootConfigPathForTest(g_boot_path.c_str());
  SetRestoreFolderForTest(dir != nullptr ? dir : "/tmp");

  sockaddr_in sink{};
  g_sink_fd = BoundLoopbackSocket(&sink);
  sockaddr_in box{};
  SetUsbSocket(BoundLoopbackSocket(&box));
  SetCameraAddress(sink);
  WritableLinkState()->link_up = 1;

  // The handlers echo parameter changes on standard output; keep the run quiet.
  if (getenv("VB_FUZZ_VERBOSE") == nullptr && freopen("/dev/null", "w", stdout) == nullptr) {
    // standard output stays as it was
  }
}

void DrainSink() {
  uint8_t buffer[2048];
  while (recv(g_sink_fd, buffer, sizeof buffer, 0) > 0) {
  }
}

void CheckJournalForm(const std::string& text) {
  const std::string written = MaskedCommand(text.data(), static_cast<int>(text.size()));
  for (unsigned char c : written) {
    if (c < 0x20) __builtin_trap();
  }
  cJSON* back = cJSON_Parse(written.c_str());
  for (const char* secret : {"value6", "value9"}) {
    const cJSON* member = cJSON_GetObjectItem(back, secret);
    if (member != nullptr && !cJSON_IsNull(member) &&
        !(cJSON_IsString(member) && std::strcmp(member->valuestring, "***") == 0)) {
      __builtin_trap();
    }
  }
  cJSON_Delete(back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (SetUpOnce(), true);
  (void)ready;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckJournalForm(text);
  if (EndsTheProcess(text)) return 0;
  // Supervision may have taken the link down in another target; keep it up here.
  WritableLinkState()->link_up = 1;
  RunCommandText(text.c_str(), static_cast<int>(text.size()));
  ShellTakeLog();
  DrainSink();
  return 0;
}
