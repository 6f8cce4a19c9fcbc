// Box-level commands: the parameter table with its saves, shell commands and
// HudState copies; power and RC commands; the configuration report request;
// the exit codes; and hostile input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "commands/dispatcher.h"
#include "config/loader.h"
#include "config/report.h"
#include "config/settings_restore.h"
#include "config/writer.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "records/hud_state.h"
#include "records/reset.h"
#include "records/config_schema.h"
#include "records/shared_config.h"
#include "read_file.h"
#include "settings_texts.h"
#include "viewer_end.h"
#include "writable_records.h"

namespace {

using Commands = std::vector<std::string>;

const Commands kSave = {
    "mount -o rw,remount /boot",
    "umount /boot",
    "mount /boot",
};

Commands SaveThen(const Commands& after) {
  Commands all = kSave;
  all.insert(all.end(), after.begin(), after.end());
  return all;
}

void RunCommand(const std::string& json) { RunCommandText(json.c_str(), static_cast<int>(json.size())); }

class AppCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vb-appcmd-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/vantagebridge-cable.conf";
    SetBootConfigPathForTest(path_.c_str());
    SetRestoreFolderForTest(dir_.c_str());
    ResetState();
  }
  void ResetState() {
    unlink(path_.c_str());
    ResetRecords();
    SharedConfig* config = WritableSharedConfig();
    std::strcpy(config->rc_input_mode, "pwm");
    std::strcpy(config->rc2_input_mode, "sbus");
    WritableHudState()->rc_input_status = 7;  // as the RC reader leaves it
    SkipSleepsForFuzzing(true);
    ShellTakeLog();
  }
  void TearDown() override {
    SkipSleepsForFuzzing(false);
    SetBootConfigPathForTest(nullptr);
    SetRestoreFolderForTest(nullptr);
    std::filesystem::remove_all(dir_);
    ShellTakeLog();
  }
  // The file on disk holds the record as it is now.
  void ExpectSaved() {
    std::string expected;
    FormatConfigurationFile(*GetSharedConfig(), &expected);
    EXPECT_EQ(ReadFile(path_), expected);
  }
  std::string dir_;
  std::string path_;
};

struct ParamCase {
  const char* command;  // the members after "cmd":"updateparam"
  std::function<void(const SharedConfig&, const HudState&)> check;
  Commands shell;
  bool rc_state_cleared;
};

const ParamCase kParamCases[] = {
    {R"("name":"rcin_enabled","value":"true")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_enabled, 1); },
     SaveThen({"killall -q rcin"}), true},
    {R"("name":"rcin_enabled","value":"yes")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_enabled, 0); },
     SaveThen({"killall -q rcin"}), true},
    {R"("name":"rcin_mode","value":"ppm","value2":"ppm")",
     [](const SharedConfig& c, const HudState&) {
       EXPECT_STREQ(c.rc_input_mode, "ppm");
       EXPECT_STREQ(c.rc2_input_mode, "ppm");
     },
     SaveThen({"killall -q rcin"}), true},
    {R"("name":"rcin_map","value":"pan,tilt,,zoom")",
     [](const SharedConfig& c, const HudState& h) {
       EXPECT_STREQ(c.rc_input_map, "pan,tilt,,zoom");
       EXPECT_EQ(h.rc_channel_map[0], 0);
       EXPECT_EQ(h.rc_channel_map[1], 1);
       EXPECT_EQ(h.rc_channel_map[2], 255);
       EXPECT_EQ(h.rc_channel_map[3], 6);
       EXPECT_EQ(h.rc_channel_map[31], 255);
     },
     SaveThen({"killall -q rcin"}), true},
    {R"("name":"rcin_speed","value":"10","value2":"-20","value3":"x")",
     [](const SharedConfig& c, const HudState&) {
       EXPECT_EQ(c.rc_input_speed_pan, 10);
       EXPECT_EQ(c.rc_input_speed_tilt, -20);
       EXPECT_EQ(c.rc_input_speed_dutch, 0);
     },
     kSave, false},
    {R"("name":"rcin_pan","value":"55")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_speed_pan, 55); }, kSave,
     false},
    {R"("name":"rcin_tilt","value":" +66abc")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_speed_tilt, 66); }, kSave,
     false},
    {R"("name":"rcin_dutch","value":"99999999999")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_speed_dutch, 2147483647); },
     kSave, false},
    {R"("name":"rcin_pan_inv","value":"1")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_inverse_pan, 1); }, kSave,
     false},
    {R"("name":"rcin_tilt_inv","value":"-99999999999")",
     [](const SharedConfig& c, const HudState&) {
       EXPECT_EQ(c.rc_input_inverse_tilt, -2147483647 - 1);
     },
     kSave, false},
    {R"("name":"rcin_dutch_inv","value":"3")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_inverse_dutch, 3); }, kSave,
     false},
    {R"("name":"rcin_exp","value":"1")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_exp, 1); },
     SaveThen({"killall -q rcin"}), true},
    {R"("name":"rcin_abs","value":"true")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.rc_input_abs, 1); }, kSave, false},
    {R"("name":"hud_enabled","value":"1")",
     [](const SharedConfig& c, const HudState& h) {
       EXPECT_EQ(c.hud_enabled, 1);
       EXPECT_EQ(h.hud_visible, 1);
     },
     kSave, false},
    {R"("name":"internal_camera_enabled","value":"true")",
     [](const SharedConfig& c, const HudState& h) {
       EXPECT_EQ(c.internal_camera_enabled, 1);
       EXPECT_EQ(h.internal_camera_enabled, 1);
     },
     SaveThen({"killall -q raspivid"}), false},
    {R"("name":"internal_camera_fullscreen","value":"1")",
     [](const SharedConfig& c, const HudState& h) {
       EXPECT_EQ(c.internal_camera_fullscreen, 1);
       EXPECT_EQ(h.internal_camera_fullscreen, 1);
     },
     SaveThen({"killall -q raspivid"}), false},
    {R"("name":"fa_enabled","value":"1")",
     [](const SharedConfig& c, const HudState& h) {
       EXPECT_EQ(c.focus_assistant_enabled, 1);
       EXPECT_EQ(h.focus_assistant_enabled, 1);
     },
     kSave, false},
    {R"("name":"osd_enabled","value":"1")",
     [](const SharedConfig& c, const HudState& h) {
       EXPECT_EQ(c.osd_enabled, 1);
       EXPECT_EQ(h.osd_enabled, 1);
     },
     kSave, false},
    {R"("name":"hdmi_enabled","value":"1")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.hdmi_enabled, 1); },
     SaveThen({"./scripts/hdmi-change.sh 1"}), false},
    {R"("name":"hdmi_enabled","value":"0")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.hdmi_enabled, 0); },
     SaveThen({"./scripts/hdmi-change.sh 0"}), false},
    {R"("name":"disable_video_stream","value":"7")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.disable_video_stream, 1); }, kSave,
     false},
    {R"("name":"video_hflip","value":"true")",  // a word is not a number: 0
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.video_hflip, 0); },
     SaveThen({"killall -q display"}), false},
    {R"("name":"video_vflip","value":"-1")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.video_vflip, 1); },
     SaveThen({"killall -q display"}), false},
    {R"("name":"video_fix","value":"1")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.video_fix, 1); },
     SaveThen({"killall -q display"}), false},
    {R"("name":"osd_borders","value":"300","value2":"20")",
     [](const SharedConfig& c, const HudState&) {
       EXPECT_EQ(c.osd_border_width, 44);
       EXPECT_EQ(c.osd_border_height, 20);
     },
     SaveThen({"killall -q display hud"}), false},
    {R"("name":"osd_offset","value":"12","value2":"-1")",
     [](const SharedConfig& c, const HudState&) {
       EXPECT_EQ(c.osd_top_offset, 12);
       EXPECT_EQ(c.osd_bottom_offset, 255);
     },
     SaveThen({"killall -q hud"}), false},
    {R"("name":"osd_top_offset","value":"257")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.osd_top_offset, 1); },
     SaveThen({"killall -q hud"}), false},
    {R"("name":"osd_bottom_offset","value":"30")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.osd_bottom_offset, 30); },
     SaveThen({"killall -q hud"}), false},
    {R"("name":"camtype","value":"258")",
     [](const SharedConfig& c, const HudState&) { EXPECT_EQ(c.camera_type, 2); },
     SaveThen({"killall -q video-receiver"}), false},
};

struct HdmiCase {
  const char* command;
  const char* log;
  Commands shell;
};

const HdmiCase kHdmiModeCases[] = {
    {R"("name":"hdmimode","value":"1280x720@50p CEA","value2":"1")",
     "set HDMI mode to CEA 19\n",
     {"tvservice -e \"CEA 19\"", "./scripts/hdmi-mode.sh 1 19", "killall -q hud",
      "killall -q display"}},
    {R"("name":"hdmimode","value":"1920x1080@60p DMT","value2":"0")",
     "set HDMI mode to DMT 82\n",
     {"tvservice -e \"DMT 82\"", "killall -q hud", "killall -q display"}},
    {R"("name":"hdmimode","value":"640x480@60p DMT","value2":"true")",
     "set HDMI mode to DMT 4\n",
     {"tvservice -e \"DMT 4\"", "./scripts/hdmi-mode.sh 2 4", "killall -q hud",
      "killall -q display"}},
    {R"("name":"hdmimode","value":"default","value2":"true")", "set default HDMI mode\n",
     {"tvservice -p", "./scripts/hdmi-mode.sh", "killall -q hud", "killall -q display"}},
    {R"("name":"hdmimode","value":"720p")", "set default HDMI mode\n",
     {"tvservice -p", "killall -q hud", "killall -q display"}},
};

}  // namespace

TEST_F(AppCommandTest, EveryParameterChangesSavesAndRunsItsCommands) {
  for (const ParamCase& c : kParamCases) {
    ResetState();
    std::string json = std::string(R"({"cmd":"updateparam",)") + c.command + "}";
    RunCommand(json);
    SCOPED_TRACE(json);
    c.check(*GetSharedConfig(), *GetHudState());
    EXPECT_EQ(ShellTakeLog(), c.shell);
    EXPECT_EQ(GetHudState()->rc_input_status, c.rc_state_cleared ? 0 : 7);
    ExpectSaved();
  }
}

TEST_F(AppCommandTest, HdmiModeStoresNothingAndRestartsTheDisplayProcesses) {
  for (const HdmiCase& c : kHdmiModeCases) {
    std::string json = std::string(R"({"cmd":"updateparam",)") + c.command + "}";
    SCOPED_TRACE(json);
    testing::internal::CaptureStderr();
    RunCommand(json);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ShellTakeLog(), c.shell);
    EXPECT_EQ(log, c.log);
    EXPECT_NE(access(path_.c_str(), F_OK), 0) << "no save";
  }
}

TEST_F(AppCommandTest, ParameterChangeIsEchoedOnStandardOutput) {
  testing::internal::CaptureStdout();
  RunCommand(R"({"cmd":"updateparam","name":"rcin_mode","value":"ppm","value2":"sbus"})");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Need to update param rcin_mode to ppm\nSet RC1 mode ppm, RC2 mode sbus\n");
}

TEST_F(AppCommandTest, WifiSettingsWithSelectors) {
  SharedConfig* c = WritableSharedConfig();
  c->ap_mode = 5;
  std::strcpy(c->ap_iface, "wifi0");
  std::strcpy(c->ap_country, "CN");
  testing::internal::CaptureStdout();
  // The console shows that passwords arrived, never what they are.
  RunCommand(R"({"cmd":"updateparam","name":"wifi","value4":"2","value6":"secret","value7":"0","value9":"hunter2"})");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Need to update param wifi to \n\nnetwork iface 2 ssid  pass ******\n"
            "AP iface 0 ssid  pass ******* mode  channel  country \n\n");
  EXPECT_STREQ(c->wifi_iface, "wlan0");
  EXPECT_STREQ(c->ap_iface, "");
  EXPECT_STREQ(c->wifi_ssid, "");
  EXPECT_STREQ(c->ap_psk, "hunter2");
  EXPECT_EQ(c->ap_mode, 5);
  EXPECT_EQ(c->ap_channel, 0);
  EXPECT_STREQ(c->ap_country, "");
  EXPECT_EQ(ShellTakeLog(), SaveThen({"touch /run/wlan.update"}));
  ExpectSaved();
}

TEST_F(AppCommandTest, WifiSettingsAllValues) {
  struct Case {
    const char* selector;
    const char* band;
    const char* iface;  // expected, starting from "keep0"
    int mode;           // expected, starting from 9
  };
  for (const Case& k : {Case{"1", "2.4", "wifi0", 2}, Case{"2", "5", "wlan0", 5},
                        Case{"3", "5GHz", "keep0", 9}, Case{"", "", "keep0", 9}}) {
    SharedConfig* c = WritableSharedConfig();
    std::strcpy(c->wifi_iface, "keep0");
    std::strcpy(c->ap_iface, "keep0");
    c->ap_mode = 9;
    RunCommand(std::string(R"({"cmd":"updateparam","name":"wifi","value4":")") + k.selector +
        R"(","value5":"Home net","value6":"pw","value7":")" + k.selector +
        R"(","value8":"AP","value9":"appw","value10":")" + k.band +
        R"(","value11":"36","value12":"US"})");
    SCOPED_TRACE(k.selector);
    EXPECT_STREQ(c->wifi_iface, k.iface);
    EXPECT_STREQ(c->ap_iface, k.iface);
    EXPECT_EQ(c->ap_mode, k.mode);
    EXPECT_STREQ(c->wifi_ssid, "Home net");
    EXPECT_STREQ(c->wifi_psk, "pw");
    EXPECT_STREQ(c->ap_ssid, "AP");
    EXPECT_STREQ(c->ap_psk, "appw");
    EXPECT_EQ(c->ap_channel, 36);
    EXPECT_STREQ(c->ap_country, "US");
    ExpectSaved();
  }
}

TEST_F(AppCommandTest, PowerAndRcCommands) {
  struct Case {
    const char* json;
    Commands shell;
  };
  const Case cases[] = {
      {R"({"cmd":"reboot"})", {"reboot"}},
      {R"({"CMD":"reboot"})", {"reboot"}},  // member names ignore case
      {R"({"cmd":"Reboot"})", {}},          // command names do not
      {R"({"cmd":"shutdown"})", {"shutdown"}},
      {R"({"cmd":"rc","name":"recalibrate"})",
       {"mount -o rw,remount /boot", "rm -f /boot/rcin.cal", "sync && umount /boot && mount /boot",
        "killall -q rcin"}},
      {R"({"cmd":"rc","name":"other"})", {}},
      {R"({"cmd":"wlan","param":"scan","value":"0"})", {}},
      {R"({"cmd":"wlan","param":"list","value":"2"})", {}},
      {R"({"cmd":"updateparam","name":"no_such_param","value":"1"})", {}},
      {R"({"cmd":"iso","value":"100"})", {}},
      {R"(not json)", {}},
      {R"(["cmd","reboot"])", {}},
      {R"({"cmd":["reboot"]})", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    RunCommand(c.json);
    EXPECT_EQ(ShellTakeLog(), c.shell) << c.json;
  }
  EXPECT_NE(access(path_.c_str(), F_OK), 0) << "none of these saves";
}

TEST_F(AppCommandTest, ShowChannelsFollowsValue) {
  RunCommand(R"({"cmd":"rc","name":"showchannels","value":"true"})");
  EXPECT_EQ(GetHudState()->show_rc_channels, 1);
  RunCommand(R"({"cmd":"rc","name":"showchannels","value":1})");  // a number is not a string
  EXPECT_EQ(GetHudState()->show_rc_channels, 0);
}

TEST_F(AppCommandTest, ConfigRequestSendsTheReportToViewers) {
  ViewerEnd viewer = AttachViewer();
  std::strcpy(WritableSharedConfig()->ap_ssid, "Box");
  testing::internal::CaptureStderr();
  RunCommand(R"({"cmd":"configrequest"})");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "config request\n");
  char expected[4000];
  int length = BuildConfigReport(expected, sizeof expected);
  auto payloads = TakeViewerPayloads(viewer);
  DetachViewer(viewer);
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(std::string(payloads[0].begin(), payloads[0].end()),
            std::string(expected, static_cast<size_t>(length)));
}

// Texts from a command never add lines to the saved file, however they are made.
TEST_F(AppCommandTest, HostileTextsKeepTheFileIntact) {
  RunCommand(R"({"cmd":"updateparam","name":"wifi","value4":"1","value5":"line\r\ninjected=1",)"
      R"("value6":"tab\there\u0001","value7":"2","value8":"back\\slash [x] #=:","value9":"p;w",)"
      R"("value10":"5","value11":"99999999999","value12":"U\nS"})");
  SharedConfig* c = WritableSharedConfig();
  EXPECT_STREQ(c->wifi_ssid, "lineinjected=1");
  EXPECT_STREQ(c->wifi_psk, "tabhere");
  EXPECT_STREQ(c->ap_ssid, "back\\slash [x] #=:");
  EXPECT_STREQ(c->ap_psk, "p;w");
  EXPECT_EQ(c->ap_channel, 2147483647);
  EXPECT_STREQ(c->ap_country, "US");
  RunCommand(R"({"cmd":"updateparam","name":"rcin_map","value":"pan\r\n,tilt\u0000zoom"})");
  EXPECT_STREQ(c->rc_input_map, "pan,tilt");
  EXPECT_EQ(GetHudState()->rc_channel_map[0], 0) << "the map in force is the stored one";
  EXPECT_EQ(GetHudState()->rc_channel_map[1], 1);

  std::string file = ReadFile(path_);
  std::string zero;
  FormatConfigurationFile(SharedConfig{}, &zero);
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(file, "\n"), count(zero, "\n"));
  EXPECT_EQ(count(file, "\r"), count(zero, "\r"));
  ExpectSaved();
  SharedConfig saved = *c;
  ASSERT_EQ(ParseConfigurationFile(path_.c_str()), 0);
  EXPECT_EQ(std::memcmp(c, &saved, sizeof saved), 0) << "the file gives every text back";
}

// Each settings text of the golden table: stored as the table says, saved, and
// given back by the file; or, refused, the change changes nothing: no field,
// no save, no restarted sibling.
TEST_F(AppCommandTest, SettingsTextsAreStoredAsTheFileGivesThemBackOrRefusedWhole) {
  for (const SettingsText& row : SettingsTexts()) {
    SCOPED_TRACE(testing::PrintToString(row));
    ResetState();
    std::strcpy(WritableSharedConfig()->wifi_ssid, "Before");
    std::strcpy(WritableSharedConfig()->rc_input_map, "pan");
    const SharedConfig before = *GetSharedConfig();
    const char* field = reinterpret_cast<const char*>(GetSharedConfig()) + FindConfigSetting(row.key)->offset;
    testing::internal::CaptureStdout();
    RunCommand(SettingsTextCommand(row));
    testing::internal::GetCapturedStdout();
    if (!row.stored) {
      EXPECT_EQ(std::memcmp(GetSharedConfig(), &before, sizeof before), 0);
      EXPECT_EQ(ShellTakeLog(), Commands{});
      EXPECT_EQ(GetHudState()->rc_input_status, 7);
      EXPECT_NE(access(path_.c_str(), F_OK), 0) << "no save";
      continue;
    }
    EXPECT_EQ(field, *row.stored);
    ExpectSaved();
    ClearSharedConfig();
    ASSERT_EQ(ParseConfigurationFile(path_.c_str()), 0);
    EXPECT_EQ(field, *row.stored) << "read back from the file";
  }
}

TEST_F(AppCommandTest, RefusalsAreLoggedAtMostOnceASecond) {
  const std::string command = R"({"cmd":"updateparam","name":"rcin_map","value":")" +
                              std::string(200, 'm') + R"("})";
  testing::internal::CaptureStderr();
  for (int i = 0; i < 50; ++i) RunCommand(command);
  std::string burst = testing::internal::GetCapturedStderr();
  const std::string line = "updateparam rcin_map refused: a text the settings file cannot hold\n";
  EXPECT_TRUE(burst.empty() || burst == line) << burst;

  // Within a generous time a refusal is logged again.
  bool logged = false;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       !logged && std::chrono::steady_clock::now() < end;) {
    testing::internal::CaptureStderr();
    RunCommand(command);
    logged = testing::internal::GetCapturedStderr() == line;
  }
  EXPECT_TRUE(logged);
}

// A settings file handed over for "restore": refused with the reason and
// nothing changed, or loaded, saved and followed by what its changes ask.
TEST_F(AppCommandTest, RestoreTakesTheHandedOverFile) {
  const char* running = "control_enabled=1\nrc_input_enabled=1\nwifi_ssid=\"Home\"\n";
  const std::string changes =
      "control_enabled=1\nrc_input_enabled=1\nwifi_ssid=\"Away\"\nhdmi_enabled=1\nvideo_hflip=1\nhud_enabled=1\n";
  struct Case {
    const char* what;
    std::string text;
    mode_t mode;  // of the handed-over file; 0: none
    const char* answer;
    Commands shell;
    std::function<void()> before = [] {};
  };
  const Case cases[] = {
      {"none handed over", "", 0, "refused no settings file was handed over", {}},
      {"open to others", changes, 0644, "refused the handed-over file is not a plain file", {}},
      {"damaged", "control_enabled=1\nhdmi_en", 0600, "refused the file is damaged: its last line has no line end", {}},
      {"a value the file cannot hold", "ap_ssid=\"" + std::string(40, 's') + "\"\n", 0600,
       "refused line 1 gives \"ap_ssid\" a value that is longer than 32 bytes", {}},
      {"the save fails", changes, 0600, "failed the box could not save the settings", kSave,
       [this] { SetBootConfigPathForTest((dir_ + "/missing/vantagebridge-cable.conf").c_str()); }},
      {"changes", changes, 0600, "saved 4 settings changed; the file was edited by hand",
       SaveThen({"./scripts/hdmi-change.sh 1", "killall -q display", "touch /run/wlan.update"})},
      {"over settings on the card, started without good ones", "control_enabled=1\n", 0600,
       "saved 2 settings changed", SaveThen({"killall -q rcin", "touch /run/wlan.update"}), [&] {
         std::ofstream(path_) << "control_enabled=1\nosd_enabled=1\n";
         SetSettingsOrigin(SettingsOrigin::kPackaged);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetState();
    SetBootConfigPathForTest(path_.c_str());
    ParseConfigurationText(running);
    SetSettingsOrigin(SettingsOrigin::kGood);
    c.before();
    const SharedConfig before = SnapshotSharedConfig();
    const std::string file = dir_ + "/restore.conf";
    if (c.mode != 0) {
      std::ofstream(file) << c.text;
      chmod(file.c_str(), c.mode);
    }
    ShellTakeLog();
    RunCommand(R"({"cmd":"restore","value":"t-1"})");
    EXPECT_EQ(ReadFile(dir_ + "/restore.answer").rfind(std::string("t-1 ") + c.answer, 0), 0u)
        << ReadFile(dir_ + "/restore.answer");
    EXPECT_NE(access(file.c_str(), F_OK), 0) << "the handed-over file was taken";
    EXPECT_EQ(ShellTakeLog(), c.shell);
    if (std::strncmp(c.answer, "saved", 5) == 0) {
      ExpectSaved();
      EXPECT_EQ(GetHudState()->hud_visible, GetSharedConfig()->hud_enabled);
    } else {
      EXPECT_EQ(std::memcmp(&before, GetSharedConfig(), sizeof before), 0) << "the record changed";
      EXPECT_EQ(CurrentSettingsOrigin(), SettingsOrigin::kGood);
    }
  }
  EXPECT_STREQ(GetSharedConfig()->wifi_ssid, "");
  EXPECT_EQ(GetHudState()->rc_input_status, 0);
}

using AppCommandDeathTest = AppCommandTest;

// Forked in place, so a child saves into the test's own folder, which the
// parent then removes.
TEST_F(AppCommandDeathTest, CameraModeSettingsSaveThenEndWithTwo) {
  GTEST_FLAG_SET(death_test_style, "fast");
  struct Case {
    const char* json;
    const char* line;
  };
  // The restored file waits for its command in the handover folder.
  std::ofstream(dir_ + "/restore.conf") << "control_enabled=1\ni2c_input_enabled=1\n";
  chmod((dir_ + "/restore.conf").c_str(), 0600);
  for (const Case& c : {Case{R"({"cmd":"updateparam","name":"device_mode","value":"1"})",
                             "\r\ndevice_mode=1\r\n"},
                        Case{R"({"cmd":"updateparam","name":"coop_mode","value":"257"})",
                             "\r\ncooperative_mode=1\r\n"},
                        Case{R"({"cmd":"updateparam","name":"ctrl_enabled","value":"5"})",
                             "\r\ncontrol_enabled=1\r\n"},
                        Case{R"({"cmd":"restore","value":"t"})", "\r\ni2c_input_enabled=1\r\n"}}) {
    unlink(path_.c_str());
    EXPECT_EXIT(RunCommand(c.json), testing::ExitedWithCode(2), "") << c.json;
    EXPECT_NE(ReadFile(path_).find(c.line), std::string::npos) << "saved before the exit";
  }
  EXPECT_EQ(ReadFile(dir_ + "/restore.answer").rfind("t restarting ", 0), 0u);
}

namespace {

// A restart asked for while another thread's save hangs in its unmount ends the
// process only once that save has run to its end.
void RestartDuringAHungSave() {
  ShellEchoRecorded(true);
  ShellSetDeadlineForTest(300);
  ShellSetFault("umount /boot", ShellFault::kHang);
  std::thread([] { SaveConfiguration(); }).detach();
  bool unmounting = false;
  for (int i = 0; i < 10000 && !unmounting; ++i) {
    for (const std::string& line : ShellTakeLog()) unmounting = unmounting || line == "umount /boot";
    if (!unmounting) usleep(1000);
  }
  RunCommand(R"({"cmd":"restart"})");
}

}  // namespace

TEST_F(AppCommandDeathTest, RestartWaitsForTheSaveInProgress) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RestartDuringAHungSave(), testing::ExitedWithCode(3),
              "killed: umount /boot.*\nmount /boot\n.*mount -o ro,remount /boot");
}

// Restarting would bring the old mode back from the file: the daemon stays, in
// the mode it runs, rather than hold a mode it does not run.
TEST_F(AppCommandDeathTest, ModeChangeThatCannotBeSavedIsUndoneWithoutExit) {
  GTEST_FLAG_SET(death_test_style, "fast");
  SetBootConfigPathForTest((dir_ + "/missing/vantagebridge-cable.conf").c_str());
  for (const char* json : {R"({"cmd":"updateparam","name":"device_mode","value":"1"})",
                           R"({"cmd":"updateparam","name":"coop_mode","value":"1"})",
                           R"({"cmd":"updateparam","name":"ctrl_enabled","value":"1"})"}) {
    EXPECT_EXIT(
        {
          RunCommand(json);
          const SharedConfig* c = GetSharedConfig();
          fprintf(stderr, "still running, modes %d %d %d\n", c->device_mode, c->cooperative_mode, c->control_enabled);
          fflush(stderr);
          _Exit(0);
        },
        testing::ExitedWithCode(0), "still running, modes 0 0 0")
        << json;
  }
}

// The RC calibration removal and saves share the partition: their sequences
// never interleave (the rcin restart after the removal is outside the lock).
TEST_F(AppCommandTest, RecalibrationAndSavesNeverInterleave) {
  const Commands recalibration = {"mount -o rw,remount /boot", "rm -f /boot/rcin.cal",
                                  "sync && umount /boot && mount /boot"};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 20; ++i) SaveConfiguration();
    });
  }
  threads.emplace_back([] {
    for (int i = 0; i < 20; ++i) RunCommand(R"({"cmd":"rc","name":"recalibrate"})");
  });
  for (auto& thread : threads) thread.join();

  Commands log;
  for (const std::string& line : ShellTakeLog()) {
    if (line != "killall -q rcin") log.push_back(line);
  }
  int saves = 0;
  int removals = 0;
  for (size_t i = 0; i < log.size();) {
    const Commands& block = log[i + 1] == "rm -f /boot/rcin.cal" ? recalibration : kSave;
    ASSERT_LE(i + block.size(), log.size());
    ASSERT_EQ(Commands(log.begin() + i, log.begin() + i + block.size()), block) << "at command " << i;
    (&block == &kSave ? saves : removals) += 1;
    i += block.size();
  }
  EXPECT_EQ(saves, 60);
  EXPECT_EQ(removals, 20);
}
