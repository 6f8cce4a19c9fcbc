// The Wi-Fi scan: SSIDs from canned scan output, the reply text, and its limits.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/dispatcher.h"
#include "config/wifi_scan.h"
#include "platform/shell.h"
#include "records/viewer_protocol.h"
#include "viewer_end.h"

namespace {

const char* kScanOutput =
    "wlan0     Scan completed :\n"
    "          Cell 01 - Address: 00:11:22:33:44:55\n"
    "                    ESSID:\"Home\"\n"
    "                    Quality=70/70  Signal level=-30 dBm\n"
    "          Cell 02 - Address: 00:11:22:33:44:56\n"
    "                    ESSID:\"\"\n"
    "          Cell 03 - Address: 00:11:22:33:44:57\n"
    "                    ESSID:\"Caf\xc3\xa9 \\\"5G\\\"\"\n";

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string ValueOf(const std::string& reply) {
  cJSON* root = cJSON_Parse(reply.c_str());
  if (!root) return "<invalid>";
  cJSON* value = cJSON_GetObjectItemCaseSensitive(root, "value");
  std::string out = cJSON_IsString(value) ? value->valuestring : "<missing>";
  cJSON_Delete(root);
  return out;
}

}  // namespace

TEST(WifiScan, SsidOfALine) {
  struct Case {
    const char* line;
    bool found;
    const char* ssid;
  };
  const Case cases[] = {
      {"   ESSID:\"Home\"\n", true, "Home"},
      {"ESSID:\"Home\"\r\n", true, "Home"},
      {"ESSID:\"Home\"", true, "Home"},      // last line without its line end
      {"ESSID:\"\"\n", true, ""},
      {"ESSID:\"\n", true, ""},
      {"ESSID:\n", true, ""},
      {"ESSID:", true, ""},
      {"ESSID:Home\n", true, "Home"},        // no quotes
      {"ESSID:\"a\"b\"\n", true, "a\"b"},    // only the outer quotes go
      {"ESSID:\"open", true, "open"},        // a line cut in the middle
      {"Quality=70/70\n", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    std::string ssid = "unchanged";
    EXPECT_EQ(ExtractSsid(c.line, &ssid), c.found) << c.line;
    if (c.found) {
      EXPECT_EQ(ssid, c.ssid) << c.line;
    }
  }
}

TEST(WifiScan, ReplyEscapesNames) {
  std::string reply = BuildWifiScanReply("2", {"Home", "", "a\"b\\c", "tab\there"});
  EXPECT_EQ(reply,
            "{\"cmd\":\"wlanscan\",\"param\":\"2\",\"value\":\"Home,,a\\\"b\\\\c,tab\\there\"}");
  EXPECT_EQ(ValueOf(reply), "Home,,a\"b\\c,tab\there");
}

TEST(WifiScan, LongReplyIsCutAfterTheLastWholeName) {
  std::vector<std::string> ssids;
  for (int i = 0; i < 400; ++i) ssids.push_back("network-" + std::to_string(i) + "-\"q\"");
  std::string reply = BuildWifiScanReply("2", ssids);
  EXPECT_LE(reply.size(), static_cast<size_t>(kMaxDataPayload));
  EXPECT_GT(reply.size(), static_cast<size_t>(kMaxDataPayload) - 30);
  std::string value = ValueOf(reply);
  ASSERT_NE(value, "<invalid>");
  // Every name that arrived arrived whole, in order.
  std::string expected;
  size_t count = 0;
  while (count < ssids.size() && expected.size() < value.size()) {
    expected += (count ? "," : "") + ssids[count];
    ++count;
  }
  EXPECT_EQ(value, expected);
  EXPECT_LT(count, ssids.size());
}

TEST(WifiScan, OverlongSelectorEchoIsBounded) {
  std::string selector(10000, '"');
  std::string reply = BuildWifiScanReply(selector.c_str(), {"Home"});
  EXPECT_LE(reply.size(), static_cast<size_t>(kMaxDataPayload));
  EXPECT_EQ(ValueOf(reply), "Home");
}

TEST(WifiScan, ScanCommandReachesViewers) {
  ViewerEnd viewer = AttachViewer();
  ShellTakeLog();
  ShellSetCannedOutput("iwlist wlan0 scan", kScanOutput);
  testing::internal::CaptureStderr();
  std::string json = R"({"cmd":"wlan","param":"scan","value":"2"})";
  RunCommandText(json.c_str(), static_cast<int>(json.size()));
  std::string log = testing::internal::GetCapturedStderr();
  auto payloads = TakeViewerPayloads(viewer);
  DetachViewer(viewer);

  const std::string reply =
      "{\"cmd\":\"wlanscan\",\"param\":\"2\",\"value\":\"Home,,Caf\xc3\xa9 \\\\\\\"5G\\\\\\\"\"}";
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"iwlist wlan0 scan 2>/dev/null"});
  EXPECT_EQ(log, "scan Wi-Fi on wlan0\nscan results: " + reply + "\n");
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(Text(payloads[0]), reply);
  EXPECT_EQ(ValueOf(reply), "Home,,Caf\xc3\xa9 \\\"5G\\\"");
}

TEST(WifiScan, SelectorsPickTheInterface) {
  struct Case {
    const char* selector;
    std::vector<std::string> shell;
  };
  const Case cases[] = {
      {"1", {"iwlist wifi0 scan 2>/dev/null"}},
      {"2", {"iwlist wlan0 scan 2>/dev/null"}},
      {"x", {"iwlist  scan 2>/dev/null"}},
      {"", {"iwlist  scan 2>/dev/null"}},
      {"0", {}},
  };
  ShellTakeLog();
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    ScanWifi(c.selector);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ShellTakeLog(), c.shell) << c.selector;
  }
}

TEST(WifiScan, OverlongAndBrokenLinesAreSafe) {
  std::string output = "ESSID:\"" + std::string(1500, 'L') + "\"\n";
  output += "ESSID:\n\"\nESSID:\"x";
  ShellSetCannedOutput("iwlist wifi0 scan", output);
  ViewerEnd viewer = AttachViewer();
  testing::internal::CaptureStderr();
  ScanWifi("1");
  testing::internal::GetCapturedStderr();
  auto payloads = TakeViewerPayloads(viewer);
  DetachViewer(viewer);
  ASSERT_EQ(payloads.size(), 1u);
  // The long line is read in pieces of 1022 characters; only the first holds "ESSID:".
  EXPECT_EQ(ValueOf(Text(payloads[0])), std::string(1015, 'L') + ",,x");
  ShellTakeLog();
}
