#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "common/wire.h"
#include "config/keys.h"
#include "records/config_schema.h"
#include "records/hud_state.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "writable_records.h"

namespace {

const uint8_t* ConfigBytes() { return reinterpret_cast<const uint8_t*>(GetSharedConfig()); }

class SetConfigKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRecords(); }
};

// Every key of the file lands at its own offset with its own rule, and touches
// no other byte of the record.
struct KeyCase {
  const char* key;
  const char* value;
  size_t offset;
  std::vector<uint8_t> expected;
};

std::vector<uint8_t> Text(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s) + 1); }
std::vector<uint8_t> Le32(int32_t v) {
  std::vector<uint8_t> out(4);
  PutU32(out.data(), static_cast<uint32_t>(v));
  return out;
}

TEST_F(SetConfigKeyTest, EveryKeyStoresAtItsOffsetByItsRule) {
  const KeyCase cases[] = {
      {"disabled", "257", 0, {1}},
      {"camera_type", "258", 1, {2}},
      {"device_mode", "1", 2, {1}},
      {"cooperative_mode", "-1", 3, {255}},
      {"control_enabled", "5", 5, {1}},
      {"rc_input_enabled", "-3", 7, {1}},
      {"rc_input_mode", "ppm", 8, Text("ppm")},
      {"rc2_input_mode", "abcdefgh", 14, Text("abcde")},
      {"rc_input_map", "pan,tilt", 20, Text("pan,tilt")},
      {"rc_input_speed_pan", "75", 532, Le32(75)},
      {"rc_input_speed_tilt", "-20", 536, Le32(-20)},
      {"rc_input_speed_dutch", "100", 540, Le32(100)},
      {"rc_input_inverse_pan", "1", 544, Le32(1)},
      {"rc_input_inverse_tilt", "7", 548, Le32(7)},
      {"rc_input_inverse_dutch", "1", 552, Le32(1)},
      {"rc_input_exp", "1", 557, {1}},
      {"rc_input_abs", "2", 556, {1}},
      {"i2c_input_enabled", "1", 558, {1}},
      {"i2c_input_speed_pan", "30", 560, Le32(30)},
      {"i2c_input_speed_tilt", "40", 564, Le32(40)},
      {"i2c_input_speed_dutch", "50", 568, Le32(50)},
      {"disable_video_stream", "1", 6, {1}},
      {"video_hflip", "1", 581, {1}},
      {"video_vflip", "1", 582, {1}},
      {"video_fix", "1", 583, {1}},
      {"hdmi_enabled", "1", 4, {1}},
      {"osd_enabled", "1", 572, {1}},
      {"osd_border_width", "300", 578, {44}},
      {"osd_border_height", "20", 577, {20}},
      {"osd_top_offset", "12", 579, {12}},
      {"osd_bottom_offset", "13", 580, {13}},
      {"hud_enabled", "1", 573, {1}},
      {"internal_camera_enabled", "1", 574, {1}},
      {"internal_camera_fullscreen", "1", 575, {1}},
      {"focus_assistant_enabled", "1", 576, {1}},
      {"ap_iface", "wlan0", 601, Text("wlan0")},
      {"ap_ssid", "\"My Net\"", 611, Text("My Net")},
      {"ap_psk", "se\"cr\"et", 867, Text("secret")},
      {"ap_country", "US", 1132, Text("US")},
      {"ap_mode", "5", 1124, Le32(5)},
      {"ap_channel", "36", 1128, Le32(36)},
      {"wifi_iface", "wlan1", 1142, Text("wlan1")},
      {"wifi_ssid", "\"Home\"", 1152, Text("Home")},
      {"wifi_psk", "\"pass word\"", 1408, Text("pass word")},
      {"shield_enabled", "1", 584, {1}},
      {"shield_open", "1950", 588, Le32(1950)},
      {"shield_close", "1000", 592, Le32(1000)},
      {"shield_timeout", "3", 596, Le32(3000)},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.key);
    std::memset(WritableSharedConfig(), 0, sizeof(SharedConfig));
    ASSERT_EQ(SetConfigKey(nullptr, "", c.key, c.value), 1);
    const uint8_t* bytes = ConfigBytes();
    for (size_t i = 0; i < sizeof(SharedConfig); ++i) {
      if (i >= c.offset && i < c.offset + c.expected.size()) {
        EXPECT_EQ(bytes[i], c.expected[i - c.offset]) << "byte " << i;
      } else if (bytes[i] != 0) {
        ADD_FAILURE() << "stray byte " << i << " = " << int(bytes[i]);
        break;
      }
    }
  }
}

TEST_F(SetConfigKeyTest, RejectsKeysInSectionsUnknownKeysAndOtherCase) {
  EXPECT_EQ(SetConfigKey(nullptr, "main", "control_enabled", "1"), 0);
  EXPECT_EQ(GetSharedConfig()->control_enabled, 0);
  EXPECT_EQ(SetConfigKey(nullptr, "", "Control_enabled", "1"), 0);
  EXPECT_EQ(SetConfigKey(nullptr, "", "no_such_key", "1"), 0);
  EXPECT_EQ(SetConfigKey(nullptr, "", "control_enabled", "1"), 1);
  EXPECT_EQ(GetSharedConfig()->control_enabled, 1);
}

TEST_F(SetConfigKeyTest, NumbersFollowStrtol) {
  const std::pair<const char*, int32_t> cases[] = {
      {"abc", 0}, {"", 0}, {"  -12x", -12}, {"+7", 7}, {"0x10", 0}, {"12.9", 12},
  };
  for (auto [text, expected] : cases) {
    SetConfigKey(nullptr, "", "ap_channel", text);
    int32_t stored;
    std::memcpy(&stored, ConfigBytes() + 1128, 4);
    EXPECT_EQ(stored, expected) << text;
  }
  SetConfigKey(nullptr, "", "control_enabled", "yes");
  EXPECT_EQ(GetSharedConfig()->control_enabled, 0);
}

// Out-of-range numbers saturate at the 32-bit limits instead of wrapping, and
// the seconds-to-milliseconds product cannot overflow: it stops at the last
// whole second, which the file can give back.
TEST_F(SetConfigKeyTest, HugeNumbersSaturate) {
  const std::pair<const char*, int32_t> speeds[] = {
      {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}, {"4294967297", INT32_MAX}};
  for (auto [text, expected] : speeds) {
    SetConfigKey(nullptr, "", "rc_input_speed_pan", text);
    int32_t stored = GetSharedConfig()->rc_input_speed_pan;
    EXPECT_EQ(stored, expected) << text;
  }
  const std::pair<const char*, int32_t> timeouts[] = {
      {"3000000", 2147483000}, {"-3000000", -2147483000}, {"99999999999999", 2147483000},
      {"2147483", 2147483000}, {"-2", -2000}};
  for (auto [text, expected] : timeouts) {
    SetConfigKey(nullptr, "", "shield_timeout", text);
    int32_t stored = GetSharedConfig()->shield_timeout;
    EXPECT_EQ(stored, expected) << text;
  }
  SetConfigKey(nullptr, "", "camera_type", "99999999999");
  EXPECT_EQ(GetSharedConfig()->camera_type, 0xFF);
}

TEST_F(SetConfigKeyTest, TextsAreCutToTheirFieldsAndTheirLine) {
  SetConfigKey(nullptr, "", "ap_iface", "abcdefghijklmnop");
  EXPECT_STREQ(GetSharedConfig()->ap_iface, "abcdefghi");
  EXPECT_EQ(GetSharedConfig()->ap_ssid[0], 0);  // the neighbour is untouched

  // A key line never outgrows what the loader reads whole: "ap_ssid=" and the quotes leave 187.
  std::string long_ssid(300, 'x');
  SetConfigKey(nullptr, "", "ap_ssid", long_ssid.c_str());
  EXPECT_EQ(std::strlen(GetSharedConfig()->ap_ssid), 187u);
  EXPECT_EQ(GetSharedConfig()->ap_psk[0], 0);

  std::string quoted = "\"" + std::string(300, 'y') + "\"";
  SetConfigKey(nullptr, "", "wifi_psk", quoted.c_str());
  EXPECT_EQ(std::strlen(GetSharedConfig()->wifi_psk), 186u);
  SetConfigKey(nullptr, "", "wifi_ssid", "\"\"\"");
  EXPECT_STREQ(GetSharedConfig()->wifi_ssid, "");
}

// What the file could not give back is cut the way the next load would read it.
TEST_F(SetConfigKeyTest, TextsAreStoredAsTheFileGivesThemBack) {
  const std::pair<const char*, const char*> cases[][2] = {
      {{"wifi_ssid", "\"a \";b\""}, {"wifi_ssid", "a"}},   // quotes gone, " ;" would start a comment
      {{"wifi_psk", "\" x\t\";y"}, {"wifi_psk", " x"}},
      {{"rc_input_mode", "ab   cdef"}, {"rc_input_mode", "ab"}},  // cut to 5, no space left at the end
      {{"ap_country", "U;S"}, {"ap_country", "U;S"}},
  };
  for (const auto& c : cases) {
    SetConfigKey(nullptr, "", c[0].first, c[0].second);
    const char* field = reinterpret_cast<const char*>(ConfigBytes()) + FindConfigSetting(c[1].first)->offset;
    EXPECT_STREQ(field, c[1].second) << c[0].second;
  }
}

TEST_F(SetConfigKeyTest, MapKeyRebuildsTheChannelMap) {
  SetConfigKey(nullptr, "", "rc_input_map", "tilt,pan");
  EXPECT_EQ(GetHudState()->rc_channel_map[0], 1);
  EXPECT_EQ(GetHudState()->rc_channel_map[1], 0);
  EXPECT_EQ(GetHudState()->rc_channel_map[2], 255);
}

std::vector<int> Map() {
  const uint8_t* m = GetHudState()->rc_channel_map;
  return std::vector<int>(m, m + kRcChannelCount);
}

TEST_F(SetConfigKeyTest, ChannelMapParsing) {
  std::string text_of_40;
  for (int i = 0; i < 40; ++i) text_of_40 += (i < 32 ? "zoom," : "pan,");
  struct MapCase {
    std::string text;
    std::vector<int> head;  // expected first entries; every later one is 255
  };
  const MapCase cases[] = {
      {"pan,tilt,,zoom", {0, 1, 255, 6}},
      {"Pan,tilt", {255, 1}},
      {"", {}},
      {",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,", {}},
      {"zoom,", {6}},
      {",focus", {255, 7}},
      {" pan,tilt ", {255, 255}},
      {"digital-zoom2,digital-zoom,orient-lock", {12, 11, 21}},
      {text_of_40, std::vector<int>(kRcChannelCount, 6)},  // only the first 32 pieces count
  };
  for (const MapCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::memset(WritableHudState()->rc_channel_map, 0, kRcChannelCount);
    ParseRcChannelMap(c.text.c_str());
    std::vector<int> expected(kRcChannelCount, 255);
    std::copy(c.head.begin(), c.head.end(), expected.begin());
    EXPECT_EQ(Map(), expected);
  }
}

TEST(RcFunctionCodeTest, EveryNameOfTheTable) {
  const char* names[] = {"pan",         "tilt",          "record",   "record-shot", "menu",
                         "ev",          "zoom",          "focus",    "dutch",       "focus-pan",
                         "focus-tilt",  "digital-zoom",  "digital-zoom2", "iso",    "shutter",
                         "aperture",    "videomode",     "custom-focus-assistant", "center",
                         "intcamera",   "osd",           "orient-lock"};
  for (int code = 0; code < kRcFunctionCount; ++code) EXPECT_EQ(RcFunctionCode(names[code]), code) << names[code];
  EXPECT_EQ(RcFunctionCode(""), 255);
  EXPECT_EQ(RcFunctionCode("ZOOM"), 255);
  EXPECT_EQ(RcFunctionCode("zoom2"), 255);
}

TEST(LookupHdmiModeTest, EveryRowOfTheTable) {
  struct Row {
    const char* name;
    int group, code;
  };
  const Row rows[] = {
      {"default", 0, 0},           {"640x480@60p CEA", 0, 1},    {"1280x720@50p CEA", 0, 19},
      {"1280x720@60p CEA", 0, 4},  {"1920x1080@50i CEA", 0, 20}, {"1920x1080@50p CEA", 0, 31},
      {"1920x1080@60i CEA", 0, 5}, {"1920x1080@60p CEA", 0, 16}, {"640x480@60p DMT", 1, 4},
      {"640x480@75p DMT", 1, 6},   {"800x600@60p DMT", 1, 9},    {"800x600@75p DMT", 1, 11},
      {"1024x768@60p DMT", 1, 16}, {"1024x768@75p DMT", 1, 18},  {"1152x864@75p DMT", 1, 21},
      {"1280x1024@60p DMT", 1, 35}, {"1280x1024@75p DMT", 1, 36}, {"1920x1080@60p DMT", 1, 82},
  };
  for (const Row& r : rows) {
    int group = -1, code = -1;
    EXPECT_EQ(LookupHdmiMode(r.name, &group, &code), 0) << r.name;
    EXPECT_EQ(group, r.group) << r.name;
    EXPECT_EQ(code, r.code) << r.name;
  }
}

TEST(LookupHdmiModeTest, UnknownNamesLeaveTheOutputsAlone) {
  for (const char* name : {"720p", "", "Default", "1920x1080@60p dmt", "1920x1080@60p DMT "}) {
    int group = 0, code = 0;
    EXPECT_NE(LookupHdmiMode(name, &group, &code), 0) << name;
    EXPECT_EQ(group, 0);
    EXPECT_EQ(code, 0);
  }
}

}  // namespace
