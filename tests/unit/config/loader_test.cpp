#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/loader.h"
#include "records/hud_state.h"
#include "records/reset.h"
#include "records/shared_config.h"

namespace {

constexpr char kDefaultMap[] = ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,";

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vb-loader-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/vantagebridge.conf";
    ResetRecords();
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  // Writes the bytes as given (no line-end translation) and parses the file.
  int Parse(const std::string& contents) {
    FILE* f = fopen(path_.c_str(), "wb");
    fwrite(contents.data(), 1, contents.size(), f);
    fclose(f);
    return ParseConfigurationFile(path_.c_str());
  }
  std::string dir_, path_;
};

SharedConfig* Cfg() { return GetSharedConfig(); }

TEST_F(LoaderTest, MissingFileLeavesZerosAndTheRcModeDefaults) {
  std::memset(Cfg(), 0x5A, sizeof(SharedConfig));
  EXPECT_LT(ParseConfigurationFile((dir_ + "/absent.conf").c_str()), 0);
  EXPECT_STREQ(Cfg()->rc_input_mode, "pwm");
  EXPECT_STREQ(Cfg()->rc2_input_mode, "sbus");
  EXPECT_EQ(Cfg()->rc_input_map[0], 0);  // no default map without a file
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(Cfg());
  for (size_t i = 0; i < sizeof(SharedConfig); ++i) {
    if ((i >= 8 && i < 12) || (i >= 14 && i < 19)) continue;
    ASSERT_EQ(bytes[i], 0) << "byte " << i;
  }
}

TEST_F(LoaderTest, EachLoadStartsFromAClearedRecord) {
  Parse("ap_channel=5\nrc_input_mode=ppm\n");
  EXPECT_EQ(Cfg()->ap_channel, 5);
  Parse("control_enabled=1\n");
  EXPECT_EQ(Cfg()->ap_channel, 0);
  EXPECT_STREQ(Cfg()->rc_input_mode, "pwm");
}

TEST_F(LoaderTest, ValueRulesFromAFile) {
  EXPECT_EQ(Parse("control_enabled=5\r\n"
                  "camera_type=258\r\n"
                  "shield_timeout=3\r\n"
                  "ap_ssid=\"My Net\"\r\n"
                  "wifi_psk=a\"b\"c\r\n"
                  "rc_input_mode=abcdefgh\r\n"),
            0);
  EXPECT_EQ(Cfg()->control_enabled, 1);
  EXPECT_EQ(Cfg()->camera_type, 2);
  EXPECT_EQ(Cfg()->shield_timeout, 3000);
  EXPECT_STREQ(Cfg()->ap_ssid, "My Net");
  EXPECT_STREQ(Cfg()->wifi_psk, "abc");
  EXPECT_STREQ(Cfg()->rc_input_mode, "abcde");
}

TEST_F(LoaderTest, KeysUnderASectionAreRejected) {
  int first_error = Parse("hdmi_enabled=1\n"
                          "bogus=1\n"
                          "[main]\n"
                          "control_enabled=1\n");
  EXPECT_EQ(first_error, 2);  // the first rejected line, though parsing went on
  EXPECT_EQ(Cfg()->hdmi_enabled, 1);
  EXPECT_EQ(Cfg()->control_enabled, 0);
}

TEST_F(LoaderTest, WithoutMapKeyTheRecordGetsTheDefaultAndTheChannelMapStaysZero) {
  Parse("control_enabled=1\n");
  EXPECT_STREQ(Cfg()->rc_input_map, kDefaultMap);
  for (int i = 0; i < kRcChannelCount; ++i) ASSERT_EQ(GetHudState()->rc_channel_map[i], 0);
}

TEST_F(LoaderTest, EmptyMapKeyGivesTheDefaultTextAndAnUnassignedChannelMap) {
  Parse("rc_input_map=\n");
  EXPECT_STREQ(Cfg()->rc_input_map, kDefaultMap);
  for (int i = 0; i < kRcChannelCount; ++i) ASSERT_EQ(GetHudState()->rc_channel_map[i], 255);
}

TEST_F(LoaderTest, MapIsParsedIntoTheChannelMap) {
  Parse("rc_input_map=pan,tilt,,zoom\n");
  EXPECT_STREQ(Cfg()->rc_input_map, "pan,tilt,,zoom");
  const uint8_t* m = GetHudState()->rc_channel_map;
  EXPECT_EQ(m[0], 0);
  EXPECT_EQ(m[1], 1);
  EXPECT_EQ(m[2], 255);
  EXPECT_EQ(m[3], 6);
  EXPECT_EQ(m[4], 255);
}

// A line longer than the parser's 199 characters loses its tail: the tail never
// becomes a line, and so never a key, of its own.
TEST_F(LoaderTest, OverlongLineLosesItsTail) {
  std::string map(186, ',');
  int first_error = Parse("rc_input_map=" + map + "disabled=1\r\ncontrol_enabled=1\r\n");
  EXPECT_EQ(first_error, 0);
  EXPECT_EQ(Cfg()->disabled, 0);
  EXPECT_EQ(Cfg()->control_enabled, 1) << "the next line is read as usual";
  EXPECT_EQ(std::string(Cfg()->rc_input_map), map.substr(0, 197 - 13)) << "cut to fit one line";

  std::string ssid(400, 's');
  Parse("wifi_ssid=\"" + ssid + "\"control_enabled=1\nap_channel=6\n");
  EXPECT_EQ(Cfg()->control_enabled, 0);
  EXPECT_EQ(Cfg()->ap_channel, 6);
}

TEST_F(LoaderTest, FileSyntax) {
  int result = Parse("\xEF\xBB\xBF"
                     "hdmi_enabled=1\r\n"                // BOM skipped, CR is white space
                     "# a comment\r\n"
                     "; another\r\n"
                     "\r\n"
                     "osd_enabled : 1  \r\n"             // key:value, white space trimmed
                     "ap_country=US ; inline comment\r\n"
                     "ap_iface=wl;an\r\n"                // ";" without white space stays
                     "wifi_ssid=first\r\n"
                     "  second\r\n"                      // continuation: the setter runs again
                     "hud_enabled= 1\r\n"
                     "\r\n"
                     "  3\r\n");                          // still continues hud_enabled
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Cfg()->hdmi_enabled, 1);
  EXPECT_EQ(Cfg()->osd_enabled, 1);
  EXPECT_STREQ(Cfg()->ap_country, "US");
  EXPECT_STREQ(Cfg()->ap_iface, "wl;an");
  EXPECT_STREQ(Cfg()->wifi_ssid, "second");
  EXPECT_EQ(Cfg()->hud_enabled, 1);
  EXPECT_EQ(Cfg()->hdmi_enabled, 1);
}

TEST_F(LoaderTest, TheSameKeyAboveAnySectionIsAccepted) {
  Parse("control_enabled=1\n[main]\ncontrol_enabled=0\n");
  EXPECT_EQ(Cfg()->control_enabled, 1);
}

}  // namespace

namespace {

TEST(ParseConfigurationTextTest, SameStepsAsTheFile) {
  EXPECT_EQ(ParseConfigurationText("control_enabled=1\n[x]\nhdmi_enabled=1\n"), 3);
  EXPECT_EQ(GetSharedConfig()->control_enabled, 1);
  EXPECT_EQ(GetSharedConfig()->hdmi_enabled, 0);
  EXPECT_STREQ(GetSharedConfig()->rc_input_mode, "pwm");
  EXPECT_STREQ(GetSharedConfig()->rc_input_map, kDefaultMap);
}

}  // namespace
