// The configuration file writer: the exact text, the save sequence, and that a
// save never leaves a broken file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/loader.h"
#include "config/settings_check.h"
#include "config/writer.h"
#include "platform/shell.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "read_file.h"
#include "writable_records.h"

namespace {

// The sample file in the repository is the file of the default record.
std::string SampleFile() {
  const std::string source = __FILE__;
  return ReadFile(source.substr(0, source.rfind("/tests/unit/config/")) + "/vantagebridge.conf");
}

// The file for a zero record, line by line without the check line (each ends
// with CR LF on disk): the sample file with the three RC texts empty.
std::vector<std::string> ZeroFileLines() {
  std::vector<std::string> lines;
  std::istringstream in(SampleFile());
  for (std::string line; std::getline(in, line) && line.rfind("# check:", 0) != 0;) {
    line.pop_back();  // the CR
    for (const char* key : {"rc_input_mode=", "rc2_input_mode=", "rc_input_map="}) {
      if (line.rfind(key, 0) == 0) line = key;
    }
    lines.push_back(line);
  }
  return lines;
}

// The check line of the zero record's file, worked out apart from the writer.
const char kZeroCheckLine[] = "# check: 3262 bytes, crc32 a5c321b3\r\n";

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

// The zero-record file with some key lines replaced ("key=" prefix matched).
std::string ZeroFileWith(const std::vector<std::string>& key_lines) {
  std::vector<std::string> lines = ZeroFileLines();
  for (const auto& replacement : key_lines) {
    std::string key = replacement.substr(0, replacement.find('=') + 1);
    bool found = false;
    for (auto& line : lines) {
      if (line.compare(0, key.size(), key) == 0) {
        line = replacement;
        found = true;
      }
    }
    EXPECT_TRUE(found) << key;
  }
  return JoinCrLf(lines);
}

void SetText(char* field, size_t size, const std::string& text) {
  std::memset(field, 0, size);
  std::strncpy(field, text.c_str(), size - 1);
}
#define SET_TEXT(field, text) SetText(field, sizeof(field), text)

// A record with every written field away from zero.
SharedConfig FullRecord() {
  SharedConfig c{};
  c.disabled = 1;
  c.camera_type = 2;
  c.device_mode = 1;
  c.cooperative_mode = 255;
  c.control_enabled = 1;
  c.disable_video_stream = 1;
  c.video_hflip = 1;
  c.video_vflip = 1;
  c.video_fix = 1;
  c.hdmi_enabled = 1;
  c.rc_input_enabled = 1;
  SET_TEXT(c.rc_input_mode, "ppm");
  SET_TEXT(c.rc2_input_mode, "sbus");
  SET_TEXT(c.rc_input_map, "pan,tilt,,zoom");
  c.rc_input_speed_pan = 100;
  c.rc_input_speed_tilt = -5;
  c.rc_input_speed_dutch = 2147483647;
  c.rc_input_inverse_pan = 1;
  c.rc_input_inverse_tilt = -1;
  c.rc_input_inverse_dutch = (-2147483647 - 1);
  c.rc_input_exp = 1;
  c.rc_input_abs = 1;
  c.i2c_input_enabled = 1;
  c.i2c_input_speed_pan = 10;
  c.i2c_input_speed_tilt = 20;
  c.i2c_input_speed_dutch = 30;
  SET_TEXT(c.ap_iface, "wlan0");
  SET_TEXT(c.ap_ssid, "My Net");
  SET_TEXT(c.ap_psk, "secret pw");
  c.ap_mode = 5;
  SET_TEXT(c.ap_country, "US");
  c.ap_channel = 36;
  SET_TEXT(c.wifi_iface, "wifi0");
  SET_TEXT(c.wifi_ssid, "Home");
  SET_TEXT(c.wifi_psk, "p4ss");
  c.osd_enabled = 1;
  c.osd_border_width = 44;
  c.osd_border_height = 20;
  c.osd_top_offset = 7;
  c.osd_bottom_offset = 200;
  c.hud_enabled = 1;
  c.internal_camera_enabled = 1;
  c.internal_camera_fullscreen = 1;
  c.focus_assistant_enabled = 1;
  c.shield_enabled = 1;
  c.shield_timeout = 2500;
  c.shield_open = 1950;
  c.shield_close = 1000;
  // Run-time bytes are never written to the file.
  c.ap_running = 1;
  c.camera_connected = 1;
  SET_TEXT(c.version_text, "0.14.10");
  return c;
}

// The file text without its last line, the check line.
std::string Body(const std::string& text) {
  return text.substr(0, text.rfind('\n', text.size() - 2) + 1);
}

std::string Saved(const SharedConfig& record) {
  std::string text;
  FormatConfigurationFile(record, &text);
  return text;
}

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vb-writer-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/vantagebridge-cable.conf";
    run_ = dir_ + "/run.conf";
    SetBootConfigPathForTest(path_.c_str(), run_.c_str());
    ResetRecords();
    ShellTakeLog();
  }
  void TearDown() override {
    SetBootConfigPathForTest(nullptr);
    SetSettingsOrigin(SettingsOrigin::kGood);
    ShellClearFaults();
    std::filesystem::remove_all(dir_);
    ResetRecords();
    ShellTakeLog();
  }
  // The settings the next start would read from the boot files.
  std::string Picked() const { return PickSettings({path_, "", ""}, nullptr).text; }
  std::string dir_;
  std::string path_;
  std::string run_;
};

const std::vector<std::string> kSaveCommands = {
    "mount -o rw,remount /boot",
    "umount /boot",
    "mount /boot",
};

}  // namespace

TEST(ConfigurationText, ZeroRecordByteForByte) {
  std::string text;
  size_t size = FormatConfigurationFile(SharedConfig{}, &text);
  EXPECT_EQ(text, JoinCrLf(ZeroFileLines()) + kZeroCheckLine);
  EXPECT_EQ(size, text.size());
}

TEST(ConfigurationText, FullRecordByteForByte) {
  std::string text;
  FormatConfigurationFile(FullRecord(), &text);
  EXPECT_EQ(CheckSettingsText(text).shape, SettingsShape::kChecked);
  EXPECT_EQ(Body(text), ZeroFileWith({
                      "disabled=1", "camera_type=2", "device_mode=1", "cooperative_mode=255",
                      "control_enabled=1", "disable_video_stream=1", "video_hflip=1",
                      "video_vflip=1", "video_fix=1", "hdmi_enabled=1", "rc_input_enabled=1",
                      "rc_input_mode=ppm", "rc2_input_mode=sbus", "rc_input_map=pan,tilt,,zoom",
                      "rc_input_speed_pan=100", "rc_input_speed_tilt=-5",
                      "rc_input_speed_dutch=2147483647", "rc_input_inverse_pan=1",
                      "rc_input_inverse_tilt=-1", "rc_input_inverse_dutch=-2147483648",
                      "rc_input_exp=1", "rc_input_abs=1", "i2c_input_enabled=1",
                      "i2c_input_speed_pan=10", "i2c_input_speed_tilt=20",
                      "i2c_input_speed_dutch=30", "ap_iface=wlan0", "ap_ssid=\"My Net\"",
                      "ap_psk=\"secret pw\"", "ap_mode=5", "ap_country=US", "ap_channel=36",
                      "wifi_iface=wifi0", "wifi_ssid=\"Home\"", "wifi_psk=\"p4ss\"",
                      "osd_enabled=1", "osd_border_width=44", "osd_border_height=20",
                      "osd_top_offset=7", "osd_bottom_offset=200", "hud_enabled=1",
                      "internal_camera_enabled=1", "internal_camera_fullscreen=1",
                      "focus_assistant_enabled=1", "shield_enabled=1", "shield_timeout=2",
                      "shield_open=1950", "shield_close=1000",
                  }));
}

TEST(ConfigurationText, ShieldTimeoutIsWholeSecondsTowardZero) {
  struct Case {
    int32_t ms;
    const char* line;
  };
  for (const Case& c : {Case{999, "shield_timeout=0"}, Case{1000, "shield_timeout=1"},
                        Case{-1500, "shield_timeout=-1"}, Case{59999, "shield_timeout=59"}}) {
    SharedConfig record{};
    record.shield_timeout = c.ms;
    std::string text;
    FormatConfigurationFile(record, &text);
    EXPECT_NE(text.find(std::string("\r\n") + c.line + "\r\n"), std::string::npos) << c.ms;
  }
}

TEST(ConfigurationText, TextFilledToTheLastByteStopsAtTheField) {
  SharedConfig record{};
  std::memset(record.ap_country, 'C', sizeof record.ap_country);  // no NUL
  std::memset(record.wifi_iface, 'W', sizeof record.wifi_iface);
  std::string text;
  FormatConfigurationFile(record, &text);
  EXPECT_NE(text.find("\r\nap_country=CCCCCCCCCC\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nwifi_iface=WWWWWWWWWW\r\n"), std::string::npos);
}

TEST(ConfigurationText, SampleFileInRepositoryIsTheDefaultRecord) {
  SharedConfig record{};
  std::strcpy(record.rc_input_mode, "pwm");
  std::strcpy(record.rc2_input_mode, "sbus");
  std::strcpy(record.rc_input_map, std::string(31, ',').c_str());
  EXPECT_EQ(Saved(record), SampleFile());
}

// Every copy holds the new text, each readable by its owner only whatever the
// umask, also a /run copy that was readable by all before.
TEST_F(WriterTest, SaveWritesEveryCopyBetweenTheRemountSteps) {
  std::ofstream(run_) << "old";
  chmod(run_.c_str(), 0644);
  *WritableSharedConfig() = FullRecord();
  const mode_t umask_before = umask(0);
  EXPECT_TRUE(SaveConfiguration());
  umask(umask_before);
  const std::string expected = Saved(FullRecord());
  EXPECT_EQ(ReadFile(path_), expected);
  EXPECT_EQ(ReadFile(path_ + ".last"), expected);
  EXPECT_EQ(ReadFile(run_), WithLfLineEnds(expected));
  EXPECT_EQ(CheckSettingsText(ReadFile(run_)).shape, SettingsShape::kChecked) << "the LF copy checks too";
  EXPECT_EQ(ShellTakeLog(), kSaveCommands);
  EXPECT_NE(access((path_ + ".new").c_str(), F_OK), 0) << "no temporary file left behind";
  for (const std::string& file : {path_, path_ + ".last", run_}) {
    struct stat st{};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
}

TEST_F(WriterTest, SaveReplacesALongerOldFileCompletely) {
  {
    std::ofstream old(path_, std::ios::binary);
    old << std::string(20000, 'x');
  }
  SaveConfiguration();
  EXPECT_EQ(Body(ReadFile(path_)), JoinCrLf(ZeroFileLines()));
}

// Whatever step fails, the partition goes back to read-only, the failure is
// reported and logged, and the next start still finds the old settings or
// the new ones whole: never a file that was not written whole, and the /run
// copy only after a save that took.
TEST_F(WriterTest, EveryFailedStepFailsSafe) {
  const std::vector<std::string> kClosed = {"mount -o rw,remount /boot", "umount /boot", "mount /boot"};
  SharedConfig old_record = FullRecord();
  SET_TEXT(old_record.wifi_psk, "old password");
  const std::string kOld = Saved(old_record);
  const std::string kNew = Saved(FullRecord());
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> arrange;
    std::vector<std::string> commands;
    const std::string* picked;  // what the next start reads
  };
  const Case cases[] = {
      {"new file not creatable",
       [](const std::string& path) { SetBootConfigPathForTest((path + ".d/x.conf").c_str()); }, kClosed, &kOld},
      {"new file not written", [](const std::string& path) { ASSERT_EQ(symlink("/dev/full", (path + ".new").c_str()), 0); },
       kClosed, &kOld},
      {"boot file not written", [](const std::string& path) {
         std::filesystem::rename(path, path + ".last");  // the old settings, as the last good copy
         ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
       },
       kClosed, &kNew},
      {"partition not writable", [](const std::string&) { ShellSetFault("mount -o rw,remount /boot", ShellFault::kFail); },
       {"mount -o rw,remount /boot", "mount /boot", "mount -o rw,remount /boot", "umount /boot", "mount /boot"},
       &kOld},
      {"mount fails after a good unmount", [](const std::string&) { ShellSetFault("mount /boot", ShellFault::kFail); },
       {"mount -o rw,remount /boot", "umount /boot", "mount /boot", "mount /boot", "mount /boot"}, &kNew},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directory(dir_);
    std::ofstream(path_, std::ios::binary) << kOld;
    std::ofstream(run_, std::ios::binary) << "run copy";
    c.arrange(path_);
    *WritableSharedConfig() = FullRecord();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SaveConfiguration());
    EXPECT_NE(testing::internal::GetCapturedStderr(), "") << "a failed save is logged";
    EXPECT_EQ(ShellTakeLog(), c.commands);
    ShellClearFaults();
    SetBootConfigPathForTest(path_.c_str(), run_.c_str());
    EXPECT_EQ(Picked(), *c.picked);
    EXPECT_EQ(ReadFile(run_), "run copy");
  }
}

TEST_F(WriterTest, NoFreeDescriptorStillClosesThePartition) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  const int lowest_free = open("/dev/null", O_RDONLY);
  ASSERT_GE(lowest_free, 0);
  close(lowest_free);
  rlimit none = before;
  none.rlim_cur = static_cast<rlim_t>(lowest_free);  // every lower descriptor is in use
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  const bool saved = SaveConfiguration();  // its log line shows in the test output
  setrlimit(RLIMIT_NOFILE, &before);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ShellTakeLog(), (std::vector<std::string>{"mount -o rw,remount /boot", "umount /boot", "mount /boot"}));
}

// A busy or hung unmount leaves the partition mounted read-write: it is forced
// read-only, and the hang costs the save no more than the shell's deadline.
TEST_F(WriterTest, FailedOrHungUnmountForcesReadOnly) {
  ShellSetDeadlineForTest(50);
  for (ShellFault fault : {ShellFault::kFail, ShellFault::kHang}) {
    ShellSetFault("umount /boot", fault);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(SaveConfiguration()) << "the file itself was replaced";
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ShellTakeLog(), (std::vector<std::string>{"mount -o rw,remount /boot", "umount /boot", "mount /boot",
                                                        "mount -o ro,remount /boot"}));
  }
  ShellClearFaults();
  ShellSetDeadlineForTest(0);
}

// Settings that came from nowhere (nothing loaded, a damaged file with
// nothing usable, the packaged default) are saved only where the card holds
// no settings to lose.
TEST_F(WriterTest, RecordFromNowhereNeverReplacesGoodSettings) {
  const std::string kGood = Saved(FullRecord());
  struct Case {
    const char* what;
    SettingsOrigin origin;
    std::vector<std::pair<std::string, std::string>> files;  // name beside the boot file, contents
    bool saved;
  };
  const Case cases[] = {
      {"nothing loaded, good boot file", SettingsOrigin::kNothing, {{"", kGood}}, false},
      {"packaged default, good last copy", SettingsOrigin::kPackaged, {{"", std::string(3000, '\0')}, {".last", kGood}},
       false},
      {"damaged, whole new file", SettingsOrigin::kDamaged, {{".new", kGood}}, false},
      {"nothing loaded, boot file unreadable", SettingsOrigin::kNothing, {{"/", ""}}, false},
      {"nothing loaded, empty card", SettingsOrigin::kNothing, {}, true},
      {"packaged default, torn boot file", SettingsOrigin::kPackaged, {{"", std::string(512, '\xFF')}}, true},
      {"good settings loaded", SettingsOrigin::kGood, {{"", kGood}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directory(dir_);
    for (const auto& [suffix, contents] : c.files) {
      if (suffix == "/") {
        std::filesystem::create_directory(path_);
      } else {
        std::ofstream(path_ + suffix, std::ios::binary) << contents;
      }
    }
    SetSettingsOrigin(c.origin);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveConfiguration(), c.saved);
    EXPECT_EQ(SaveConfiguration(), c.saved) << "a save that took makes the record good";
    const std::string log = testing::internal::GetCapturedStderr();
    // At most once a second, not per attempt.
    const auto lines = std::count(log.begin(), log.end(), '\n');
    EXPECT_LE(lines, c.saved ? 0 : 1) << log;
    if (&c == cases) {
      EXPECT_EQ(lines, 1) << "the refusal is logged";
    }
    for (const auto& [suffix, contents] : c.files) {
      if (!c.saved && suffix != "/") {
        EXPECT_EQ(ReadFile(path_ + suffix), contents) << suffix;
      }
    }
    if (c.saved) {
      EXPECT_EQ(ReadFile(path_), Saved(SharedConfig{}));
    }
    ShellTakeLog();
  }
}

TEST_F(WriterTest, SavesFromManyThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kSaves = 30;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kSaves; ++i) SaveConfiguration();
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::string> log = ShellTakeLog();
  ASSERT_EQ(log.size(), kSaveCommands.size() * kThreads * kSaves);
  for (size_t i = 0; i < log.size(); ++i) {
    ASSERT_EQ(log[i], kSaveCommands[i % kSaveCommands.size()]) << "at command " << i;
  }
  EXPECT_EQ(ReadFile(path_), Saved(SharedConfig{}));
}

// A child saves two different records in turn as fast as it can and is killed
// at random moments: whatever the moment, the next start reads one of the two
// texts, complete.
TEST_F(WriterTest, KilledSaveLeavesTheOldOrTheNewFile) {
  SharedConfig first = FullRecord();
  SharedConfig second = FullRecord();
  std::memset(second.rc_input_map, 0, sizeof second.rc_input_map);
  std::memset(second.rc_input_map, 'm', sizeof second.rc_input_map - 1);
  std::memset(second.ap_ssid, 's', sizeof second.ap_ssid - 1);
  std::string first_text, second_text;
  FormatConfigurationFile(first, &first_text);
  FormatConfigurationFile(second, &second_text);

  *WritableSharedConfig() = first;
  SaveConfiguration();
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delay_us(0, 3000);
  for (int round = 0; round < 150; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (unsigned i = 0;; ++i) {
        *WritableSharedConfig() = (i % 2) ? first : second;
        SaveConfiguration();
        ShellTakeLog();
      }
    }
    usleep(static_cast<useconds_t>(delay_us(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::string picked = Picked();
    ASSERT_TRUE(picked == first_text || picked == second_text)
        << "round " << round << ": " << picked.size() << " bytes picked";
  }
}

TEST_F(WriterTest, LoadingWhatWasSavedGivesTheSameRecord) {
  SharedConfig saved = FullRecord();
  saved.shield_timeout = 2500;  // written as whole seconds: reads back as 2000
  saved.ap_running = 0;         // run-time bytes and the version are not in the file
  saved.camera_connected = 0;
  std::memset(saved.version_text, 0, sizeof saved.version_text);
  *WritableSharedConfig() = saved;
  SaveConfiguration();

  std::memset(WritableSharedConfig(), 0x5A, sizeof(SharedConfig));
  EXPECT_EQ(ParseConfigurationFile(path_.c_str()), 0) << "every line of the file is accepted";
  SharedConfig expected = saved;
  expected.shield_timeout = 2000;
  EXPECT_EQ(std::memcmp(GetSharedConfig(), &expected, sizeof expected), 0);
  EXPECT_STREQ(GetSharedConfig()->ap_ssid, "My Net");
}
