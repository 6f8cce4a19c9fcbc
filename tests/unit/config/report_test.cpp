// The configuration report: exact text, selectors, escaping, and that it always
// fits one data message as valid JSON.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/json_text.h"
#include "config/report.h"
#include "records/shared_config.h"
#include "records/viewer_protocol.h"

namespace {

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

std::string Report(const SharedConfig& config, const std::vector<InterfaceAddress>& ifaces,
                   size_t cap = 65000) {
  std::vector<char> out(cap + 1, 'X');
  int length = FormatConfigReport(config, ifaces, out.data(), cap);
  EXPECT_EQ(out[static_cast<size_t>(length)], '\0');
  return std::string(out.data(), static_cast<size_t>(length));
}

std::string Member(cJSON* root, const char* name) {
  cJSON* item = cJSON_GetObjectItemCaseSensitive(root, name);
  return cJSON_IsString(item) ? item->valuestring : "<missing>";
}

}  // namespace

TEST(ConfigReport, KnownRecordAndInterfaces) {
  SharedConfig c{};
  c.camera_type = 1;
  c.device_mode = 1;
  c.cooperative_mode = 200;
  c.control_enabled = 1;
  c.rc_input_enabled = 1;
  Put(c.rc_input_mode, "ppm");
  Put(c.rc2_input_mode, "sbus");
  Put(c.rc_input_map, "pan,tilt,,zoom");
  c.rc_input_speed_pan = 50;
  c.rc_input_speed_tilt = -7;
  c.rc_input_speed_dutch = 100;
  c.rc_input_inverse_pan = 1;
  c.rc_input_inverse_tilt = 0;
  c.rc_input_inverse_dutch = 3;
  c.rc_input_exp = 1;
  c.rc_input_abs = 0;
  c.disable_video_stream = 1;
  c.video_hflip = 0;
  c.video_vflip = 1;
  c.video_fix = 1;
  c.hdmi_enabled = 1;
  c.osd_border_width = 44;
  c.osd_border_height = 20;
  c.osd_top_offset = 5;
  c.osd_bottom_offset = 255;
  c.osd_enabled = 1;
  c.hud_enabled = 1;
  c.internal_camera_enabled = 0;
  c.internal_camera_fullscreen = 1;
  c.focus_assistant_enabled = 1;
  c.ap_running = 1;
  Put(c.ap_iface, "wlan0");
  Put(c.ap_ssid, "Box AP");
  Put(c.ap_psk, "appass");
  c.ap_mode = 2;
  c.ap_channel = 6;
  Put(c.ap_country, "US");
  Put(c.wifi_iface, "");
  Put(c.wifi_ssid, "Home");
  Put(c.wifi_psk, "homepass");
  Put(c.version_text, "0.14.10");
  std::string report =
      Report(c, {{"eth0", "192.168.1.5"}, {"usb0", "192.168.42.2"}, {"usb0", "10.0.0.1"}});
  EXPECT_EQ(report,
            "{\"app\":\"cable\",\"camtype\":1,\"dmode\":1,\"cmode\":200,\"ctrl_en\":1,\"rcin_en\":1,"
            "\"rcin_mode\":\"ppm\",\"rcin2_mode\":\"sbus\",\"rcin_map\":\"pan,tilt,,zoom\","
            "\"rcin_pan\":50,\"rcin_tilt\":-7,\"rcin_dutch\":100,\"rcin_paninv\":1,"
            "\"rcin_tiltinv\":0,\"rcin_dutchinv\":3,\"rcin_exp\":1,\"rcin_abs\":0,\"v_dis\":1,"
            "\"v_hf\":0,\"v_vf\":1,\"v_f\":1,\"hdmistate\":1,\"osdbrdw\":44,\"osdbrdh\":20,"
            "\"osdtof\":5,\"osdbof\":255,\"osd_en\":1,\"hud_en\":1,\"ic_en\":0,\"ic_fs\":1,"
            "\"fa_en\":1,\"apstate\":1,\"ap_iface\":\"2\",\"ap_ssid\":\"Box AP\","
            "\"ap_psk\":\"appass\",\"ap_mode\":2,\"ap_channel\":6,\"ap_country\":\"US\","
            "\"lan_iface\":\"0\",\"lan_ssid\":\"Home\",\"lan_psk\":\"homepass\",\"cam_iface\":\"\","
            "\"cam_ssid\":\"\",\"cam_psk\":\"\",\"version\":\"0.14.10\",\"ifaces\":["
            "{\"name\":\"eth0\",\"addr\":\"192.168.1.5\"},"
            "{\"name\":\"usb0\",\"addr\":\"192.168.42.2\"},"
            "{\"name\":\"usb0\",\"addr\":\"10.0.0.1\"}]}");
}

TEST(ConfigReport, DefaultRecordWithoutInterfaces) {
  SharedConfig c{};
  Put(c.rc_input_mode, "pwm");
  Put(c.rc2_input_mode, "sbus");
  std::string report = Report(c, {});
  EXPECT_EQ(report.rfind("{\"app\":\"cable\",\"camtype\":0,\"dmode\":0,", 0), 0u) << report;
  EXPECT_NE(report.find("\"rcin_mode\":\"pwm\",\"rcin2_mode\":\"sbus\","), std::string::npos);
  EXPECT_NE(report.find(",\"ifaces\":[]}"), std::string::npos);
}

TEST(ConfigReport, InterfaceSelectors) {
  struct Case {
    const char* iface;
    const char* selector;
  };
  for (const Case& k : {Case{"wlan0", "2"}, Case{"wifi0", "1"}, Case{"eth1", "0"},
                        Case{"", "0"}, Case{"wlan01", "0"}}) {
    SharedConfig c{};
    Put(c.ap_iface, k.iface);
    Put(c.wifi_iface, k.iface);
    std::string report = Report(c, {});
    EXPECT_NE(report.find(std::string("\"ap_iface\":\"") + k.selector + "\""), std::string::npos)
        << k.iface;
    EXPECT_NE(report.find(std::string("\"lan_iface\":\"") + k.selector + "\""), std::string::npos)
        << k.iface;
  }
}

TEST(ConfigReport, TextsAreEscapedAndReadBackUnchanged) {
  SharedConfig c{};
  const std::string ssid = "My \"Net\" \\ x";
  const std::string psk = std::string("a\r\nb\tc\x01") + "d\x1f";
  Put(c.ap_ssid, ssid);
  Put(c.wifi_psk, psk);
  Put(c.rc_input_map, "pan,\"tilt\"");
  std::string report = Report(c, {{"we\"ird", "1.2.3.4"}});
  for (char ch : report) EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << "raw control character";
  cJSON* root = cJSON_Parse(report.c_str());
  ASSERT_NE(root, nullptr) << report;
  EXPECT_EQ(Member(root, "ap_ssid"), ssid);
  EXPECT_EQ(Member(root, "lan_psk"), psk);
  EXPECT_EQ(Member(root, "rcin_map"), "pan,\"tilt\"");
  cJSON* first = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(root, "ifaces"), 0);
  EXPECT_EQ(Member(first, "name"), "we\"ird");
  cJSON_Delete(root);
}

TEST(ConfigReport, ManyInterfacesAreShortenedFirst) {
  SharedConfig c{};
  Put(c.ap_ssid, std::string(255, 's'));
  std::vector<InterfaceAddress> ifaces;
  for (int i = 0; i < 200; ++i) ifaces.push_back({"eth" + std::to_string(i), "10.1.2." + std::to_string(i)});
  std::string report = Report(c, ifaces);
  EXPECT_LE(report.size(), static_cast<size_t>(kMaxDataPayload));
  cJSON* root = cJSON_Parse(report.c_str());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(Member(root, "ap_ssid"), std::string(255, 's'));
  cJSON* list = cJSON_GetObjectItemCaseSensitive(root, "ifaces");
  int kept = cJSON_GetArraySize(list);
  EXPECT_GT(kept, 10);
  EXPECT_LT(kept, 200);
  EXPECT_EQ(Member(cJSON_GetArrayItem(list, kept - 1), "name"), "eth" + std::to_string(kept - 1));
  cJSON_Delete(root);
}

// Every text at its longest and made of characters that escape to six bytes:
// the report is far over one data message unless the texts are cut.
TEST(ConfigReport, OverlongTextsAreCutLongestFirstAndStayValid) {
  SharedConfig c{};
  const std::string map(511, '\x01');
  const std::string ssid(255, '"');
  const std::string psk(255, '\x02');
  Put(c.rc_input_map, map);
  Put(c.ap_ssid, ssid);
  Put(c.ap_psk, psk);
  Put(c.wifi_ssid, "short");
  Put(c.version_text, "0.14.10");
  std::string report = Report(c, {{"eth0", "1.2.3.4"}});
  EXPECT_LE(report.size(), static_cast<size_t>(kMaxDataPayload));
  EXPECT_GT(report.size(), static_cast<size_t>(kMaxDataPayload) - 64) << "the room is used";
  cJSON* root = cJSON_Parse(report.c_str());
  ASSERT_NE(root, nullptr) << report;
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItemCaseSensitive(root, "ifaces")), 0);
  std::string kept_map = Member(root, "rcin_map");
  EXPECT_LT(kept_map.size(), map.size());
  EXPECT_EQ(map.compare(0, kept_map.size(), kept_map), 0);
  EXPECT_EQ(Member(root, "ap_ssid"), ssid) << "shorter texts are left whole";
  EXPECT_EQ(Member(root, "lan_ssid"), "short");
  EXPECT_EQ(Member(root, "version"), "0.14.10");
  cJSON_Delete(root);
}

TEST(ConfigReport, SmallerAreaStillGivesValidJson) {
  SharedConfig c{};
  Put(c.ap_ssid, std::string(255, '\\'));
  Put(c.wifi_ssid, "caf\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9");
  for (size_t cap : {1200u, 1100u, 1000u}) {
    std::string report = Report(c, {{"eth0", "1.2.3.4"}}, cap);
    ASSERT_LT(report.size(), cap);
    cJSON* root = cJSON_Parse(report.c_str());
    ASSERT_NE(root, nullptr) << report;
    cJSON_Delete(root);
  }
  EXPECT_EQ(Report(c, {}, 50), "") << "no room even for the members";
}

TEST(JsonText, PrefixFittingNeverSplitsAnEscapeOrACharacter) {
  struct Case {
    std::string text;
    size_t budget;
    size_t expected;
  };
  const Case cases[] = {
      {"abc", 10, 3},
      {"abc", 2, 2},
      {"a\"b", 2, 1},             // the escaped quote takes two bytes
      {"a\"b", 3, 2},
      {"\x01z", 5, 0},            // \u0001 takes six
      {"\x01z", 6, 1},
      {"a\xc3\xa9", 2, 1},        // a two-byte character is kept whole or not at all
      {"a\xc3\xa9", 3, 3},
      {"\xe2\x82\xac\xe2\x82\xac", 5, 3},
      {"\x80\x80", 1, 1},         // bytes that are not UTF-8 are kept as they are
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonPrefixFitting(c.text, c.budget), c.expected) << c.budget;
  }
}

TEST(InterfaceList, SystemListLeavesOutLoopback) {
  for (const InterfaceAddress& a : ListInterfaceAddresses()) EXPECT_NE(a.name, "lo");
}
