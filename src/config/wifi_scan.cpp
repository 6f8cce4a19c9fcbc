#include "config/wifi_scan.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/json_text.h"
#include "platform/shell.h"
#include "records/param_schema.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"

namespace {

constexpr int kLineLength = 1022;     // characters of scan output read per line
constexpr size_t kSelectorEcho = 64;  // the selector echoed back is "1" or "2"; bound the rest

}  // namespace

bool ExtractSsid(const char* line, std::string* ssid) {
  const char* found = std::strstr(line, "ESSID:");
  if (!found) return false;
  std::string_view rest(found + 6);
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.remove_suffix(1);
  if (!rest.empty() && rest.front() == '"') rest.remove_prefix(1);
  if (!rest.empty() && rest.back() == '"') rest.remove_suffix(1);
  ssid->assign(rest);
  return true;
}

std::string BuildWifiScanReply(const char* selector, const std::vector<std::string>& ssids) {
  std::string_view echo(selector);
  echo = echo.substr(0, JsonPrefixFitting(echo, kSelectorEcho));
  std::string reply = "{\"cmd\":\"wlanscan\",\"param\":\"";
  AppendJsonEscaped(&reply, echo);
  reply += "\",\"value\":\"";
  const std::string tail = "\"}";
  const size_t limit = static_cast<size_t>(kMaxDataPayload) - tail.size();
  std::string names;
  for (size_t i = 0; i < ssids.size(); ++i) {
    std::string entry = i > 0 ? "," : "";
    AppendJsonEscaped(&entry, ssids[i]);
    if (reply.size() + names.size() + entry.size() > limit) break;  // only whole names
    names += entry;
  }
  return reply + names + tail;
}

void ScanWifi(const char* selector) {
  if (std::strcmp(selector, "0") == 0) return;
  const char* stored = StoredForWord(kInterfaceSelectors, selector);
  const char* iface = stored != nullptr ? stored : "";
  fprintf(stderr, "scan Wi-Fi on %s\n", iface);

  std::vector<std::string> ssids;
  char command[64];
  snprintf(command, sizeof command, "iwlist %s scan 2>/dev/null", iface);
  if (FILE* output = OpenShellOutput(command)) {
    char line[kLineLength + 2];
    std::string ssid;
    while (fgets(line, kLineLength + 1, output)) {
      if (ExtractSsid(line, &ssid)) ssids.push_back(ssid);
    }
    CloseShellOutput(output);
  }

  std::string reply = BuildWifiScanReply(selector, ssids);
  fprintf(stderr, "scan results: %s\n", reply.c_str());
  SendReplyMessage(reinterpret_cast<const uint8_t*>(reply.data()), static_cast<int>(reply.size()));
}
