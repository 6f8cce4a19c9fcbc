#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config/loader.h"
#include "config/settings_check.h"
#include "config/settings_restore.h"
#include "config/writer.h"
#include "records/hud_state.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "writable_records.h"

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

SharedConfig* Cfg() { return WritableSharedConfig(); }

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

// Without a map key the record gets the default text and the channel map is
// left alone; an empty key gives the default text and an unassigned map.
TEST_F(LoaderTest, MapKeyGivesTheRecordsTextAndTheChannelMap) {
  const struct {
    const char* file;
    const char* text;
    std::vector<int> head;  // the channel map's first entries; the rest as the last
  } cases[] = {
      {"control_enabled=1\n", kDefaultMap, {0}},
      {"rc_input_map=\n", kDefaultMap, {255}},
      {"rc_input_map=pan,tilt,,zoom\n", "pan,tilt,,zoom", {0, 1, 255, 6, 255}},
  };
  for (const auto& c : cases) {
    ResetRecords();
    Parse(c.file);
    EXPECT_STREQ(Cfg()->rc_input_map, c.text) << c.file;
    std::vector<int> expected(kRcChannelCount, c.head.back());
    std::copy(c.head.begin(), c.head.end(), expected.begin());
    const uint8_t* m = GetHudState()->rc_channel_map;
    EXPECT_EQ(std::vector<int>(m, m + kRcChannelCount), expected) << c.file;
  }
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

namespace {

std::string SavedText(const char* ssid) {
  SharedConfig record{};
  std::strcpy(record.wifi_ssid, ssid);
  record.osd_enabled = 1;
  std::string text;
  FormatConfigurationFile(record, &text);
  return text;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

// Edited by hand or torn by a cut: a whole text without a matching check line
// is an edit, anything that lost its end, or shows what an SD card leaves of
// sectors a cut left unwritten, is torn. A restored file is refused, with the
// reason, when torn, and where the loader would read it otherwise than written.
TEST(SettingsCheck, TellsEditedFromTornAndWhyARestoreIsRefused) {
  const std::string saved = SavedText("Home");
  const size_t check = saved.rfind("# check");
  const size_t mid_line = saved.find("osd_enabled=1") + 5;
  const std::string long_map = "control_enabled=1\nrc_input_map=" + std::string(190, ',') + "\n";
  struct Case {
    const char* what;
    std::string text;
    SettingsShape shape;
    bool good;
    const char* restore;  // the refusal's reason, in part; nullptr: restored
  };
  const Case cases[] = {
      {"as saved", saved, SettingsShape::kChecked, true, nullptr},
      {"LF line ends", WithLfLineEnds(saved), SettingsShape::kChecked, true, nullptr},
      {"a value edited", Replaced(saved, "wifi_ssid=\"Home\"", "wifi_ssid=\"Away\""), SettingsShape::kEdited, true,
       nullptr},
      {"check line removed", saved.substr(0, check), SettingsShape::kEdited, true, nullptr},
      {"line added after it", saved + "hud_enabled=1\n", SettingsShape::kEdited, true,
       "line 209 sets \"hud_enabled\" a second time"},
      {"no line end at the end", "control_enabled=1\ncamera_type=2", SettingsShape::kDamaged, true,
       "damaged: its last line has no line end"},
      {"Latin-1 letter", "wifi_ssid=Caf\xFF\r\n", SettingsShape::kEdited, true, nullptr},
      {"cut in the middle of a line", saved.substr(0, mid_line), SettingsShape::kDamaged, true, "cut short"},
      {"cut in the check line", saved.substr(0, saved.size() - 5), SettingsShape::kDamaged, true, "cut short"},
      {"sector of NUL", Replaced(saved, "osd_enabled=1", std::string(13, '\0')), SettingsShape::kDamaged, true,
       "damaged: it holds NUL bytes"},
      {"sector of 0xFF", saved.substr(0, check) + std::string(512, '\xFF') + "\n", SettingsShape::kDamaged, true,
       "run of 0xFF"},
      {"fragment line", Replaced(saved, "osd_enabled=1", "osd_ena"), SettingsShape::kDamaged, true,
       "damaged: line 158 is only a piece of a line"},
      {"same length, other text", Replaced(saved, "Home", "Hone"), SettingsShape::kEdited, true, nullptr},
      {"all NUL", std::string(4096, '\0'), SettingsShape::kDamaged, false, "NUL bytes"},
      {"empty", "", SettingsShape::kDamaged, false, "damaged: it is empty"},
      {"comments only", "# nothing here\r\n\r\n", SettingsShape::kEdited, false, "sets none of the box's settings"},
      {"values as written", "ap_channel=+6\nap_ssid=\"My Net\"\nwifi_psk=bare;\nrc_input_map=\n",
       SettingsShape::kEdited, true, nullptr},
      {"switch of 2", "control_enabled=2\n", SettingsShape::kEdited, true, "\"control_enabled\" a value that is neither"},
      {"byte over 255", "camera_type=258\n", SettingsShape::kEdited, true, "is not between 0 and 255"},
      {"not a number", "hud_enabled=1\nap_channel=6a\n", SettingsShape::kEdited, true, "line 2 gives"},
      {"beyond 32 bits", "shield_open=4294967296\n", SettingsShape::kEdited, true, "does not fit in 32 bits"},
      {"SSID over 32 bytes", "ap_ssid=\"" + std::string(33, 's') + "\"\n", SettingsShape::kEdited, true,
       "longer than 32 bytes"},
      {"RC mode the loader cuts", "rc_input_mode=abcdefgh\n", SettingsShape::kEdited, true, "longer than 5 bytes"},
      {"quote inside a password", "wifi_psk=\"a\"b\"\n", SettingsShape::kEdited, true, "kept as written"},
      {"key under a section", "control_enabled=1\n[extra]\nhud_enabled=1\n", SettingsShape::kEdited, true,
       "line 3 sets \"hud_enabled\" under the section [extra]"},
      {"unknown key", "control_enabled=1\nbogus=1\n", SettingsShape::kEdited, true,
       "line 2 sets \"bogus\", which is not a setting"},
      {"section line without its end", "control_enabled=1\n[extra\n", SettingsShape::kEdited, true,
       "line 2 cannot be read"},
      {"line the loader reads in pieces", long_map, SettingsShape::kEdited, true, "line 2 is longer than the 197"},
      {"too long a file", saved + std::string(32768, '#') + "\n", SettingsShape::kEdited, true,
       "longer than the 32768 bytes"},
  };
  for (const Case& c : cases) {
    const SettingsVerdict verdict = CheckSettingsText(c.text);
    EXPECT_EQ(verdict.shape, c.shape) << c.what;
    EXPECT_EQ(verdict.Good(), c.good && c.shape != SettingsShape::kDamaged) << c.what;
    EXPECT_EQ(verdict.keys > 0, c.good) << c.what;
    const std::string problem = CheckRestoredText(c.text).problem;
    if (c.restore == nullptr) {
      EXPECT_EQ(problem, "") << c.what;
    } else {
      EXPECT_NE(problem.find(c.restore), std::string::npos) << c.what << ": " << problem;
    }
  }
}

// A restored text gives the settings a start with it would, on the record's
// other fields, and leaves the process's record and channel map alone.
TEST_F(LoaderTest, RestoredTextGivesTheRecordAStartWouldGive) {
  const char* text = "control_enabled=1\nap_ssid=\"Net\"\nrc_input_map=pan,tilt\nshield_timeout=4\n";
  ParseConfigurationText("ap_channel=11\nrc_input_mode=ppm\nrc_input_map=zoom\n");
  SharedConfig base = SnapshotSharedConfig();
  base.ap_running = 1;
  std::strcpy(base.version_text, "1.2.3");
  const uint8_t map_before = GetHudState()->rc_channel_map[0];
  const SharedConfig restored = SettingsRecordOf(text, base);
  EXPECT_EQ(GetSharedConfig()->ap_channel, 11);
  EXPECT_EQ(GetHudState()->rc_channel_map[0], map_before);
  EXPECT_EQ(restored.ap_running, 1);
  EXPECT_STREQ(restored.version_text, "1.2.3");
  ParseConfigurationText(text);
  SharedConfig started = SnapshotSharedConfig();
  started.ap_running = 1;
  std::strcpy(started.version_text, "1.2.3");
  EXPECT_EQ(std::memcmp(&restored, &started, sizeof started), 0);
}

// The one pick the prepare step and the loader make, by what lies on the card.
TEST_F(LoaderTest, PickTakesTheNewestWholeSettings) {
  const std::string older = SavedText("older"), newer = SavedText("newer");
  const std::string torn = newer.substr(0, newer.size() / 2) + std::string(600, '\0');
  const std::string edited = Replaced(older, "# check", "# was");
  struct Case {
    const char* what;
    std::vector<std::string> files;  // boot, .new, .last, /run copy, packaged; "-" for none
    const char* picked;              // the one picked, by its suffix; nullptr for none
    SettingsOrigin origin;
  };
  const Case cases[] = {
      {"boot file", {older, "-", older, "-", "-"}, "boot", SettingsOrigin::kGood},
      {"save cut while the boot file was written", {torn, newer, older, "-", "-"}, ".new", SettingsOrigin::kGood},
      {"save cut before the new file was whole", {older, torn, older, "-", "-"}, "boot", SettingsOrigin::kGood},
      {"save cut after the boot file", {newer, newer, torn, "-", "-"}, ".new", SettingsOrigin::kGood},
      {"hand edit wins over the last copy", {edited, "-", older, "-", "-"}, "boot", SettingsOrigin::kGood},
      {"boot file of NUL, last copy", {std::string(4096, '\0'), "-", older, newer, "-"}, ".last",
       SettingsOrigin::kGood},
      {"an older writer's complete .new", {std::string(4096, '\0'), edited, "-", "-", "-"}, ".new",
       SettingsOrigin::kGood},
      {"partition not mounted: the /run copy", {"-", "-", "-", newer, older}, ".run", SettingsOrigin::kGood},
      {"torn boot file alone, read as far as it goes", {torn, "-", "-", "-", older}, "boot",
       SettingsOrigin::kDamaged},
      {"empty boot file", {"", "-", "-", "-", older}, ".default", SettingsOrigin::kPackaged},
      {"nothing anywhere", {"-", "-", "-", "-", "-"}, nullptr, SettingsOrigin::kNothing},
  };
  const std::string boot = dir_ + "/boot.conf";
  const char* suffixes[] = {"", ".new", ".last", ".run", ".default"};
  for (const Case& c : cases) {
    for (int i = 0; i < 5; ++i) {
      unlink((boot + suffixes[i]).c_str());
      if (c.files[i] != "-") std::ofstream(boot + suffixes[i], std::ios::binary) << c.files[i];
    }
    const SettingsPick pick = PickSettings({boot, boot + ".run", boot + ".default"}, nullptr);
    const std::string suffix = c.picked == nullptr ? "-" : std::string(c.picked) == "boot" ? "" : c.picked;
    EXPECT_EQ(pick.path, c.picked == nullptr ? "" : boot + suffix) << c.what;
    EXPECT_EQ(pick.origin, c.origin) << c.what;
  }
  for (const char* suffix : suffixes) unlink((boot + suffix).c_str());
}

}  // namespace
