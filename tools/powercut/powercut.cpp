// powercut: the daemon's own save and load code for the power-cut harness.
//
//   powercut text INDEX
//       prints the settings file of save INDEX as the daemon writes it
//   powercut save COUNT DEVICE SECTOR
//       inside the VM: starts as the daemon does (the pick among /boot's
//       files), checks that it holds save 0, then saves 1 to COUNT in a row;
//       around each save it writes a marker sector ("begin N", "done N") to
//       DEVICE at SECTOR, outside the file system, and flushes it, so that
//       the write log shows where each save began and ended
//   powercut identify WORKING_COPY BOOT_FILE PACKAGED_FILE COUNT
//       loads as the daemon does at start and prints the index of the save
//       whose settings it got, -1 when they are none of saves 0 to COUNT
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/loader.h"
#include "config/writer.h"
#include "records/shared_config.h"

namespace {

constexpr size_t kSectorBytes = 512;

void SetText(char* field, size_t size, const std::string& text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), text.size() < size ? text.size() : size - 1);
}
#define SET_TEXT(field, text) SetText(field, sizeof(field), text)

// Save i differs from every other in texts and numbers, and its file in
// length (saves 2 and 3 have the same length, to try a rewrite in place
// that changes no size).
SharedConfig SettingsOfSave(int i) {
  static const int kPad[] = {9, 21, 3, 3, 30, 14};
  const int pad = kPad[static_cast<unsigned>(i) % 6];
  const std::string n = std::to_string(i);
  SharedConfig c{};
  c.control_enabled = 1;
  c.osd_enabled = 1;
  c.ap_channel = 36 + i;
  c.osd_top_offset = static_cast<uint8_t>(10 + i);
  c.rc_input_speed_pan = 1000 * i;
  SET_TEXT(c.rc_input_mode, "pwm");
  SET_TEXT(c.rc2_input_mode, "sbus");
  SET_TEXT(c.rc_input_map, "pan,tilt,record," + std::string(static_cast<size_t>(i), ','));
  SET_TEXT(c.wifi_ssid, "lan-" + n + std::string(static_cast<size_t>(pad), 's'));
  SET_TEXT(c.wifi_psk, "secret-" + n + std::string(static_cast<size_t>(pad), 'p'));
  SET_TEXT(c.ap_ssid, "box-" + n);
  SET_TEXT(c.ap_psk, "ap-password-" + n);
  return c;
}

std::string TextOfSave(int i) {
  std::string text;
  FormatConfigurationFile(SettingsOfSave(i), &text);
  return text;
}

// The record the loader makes of save i's file.
SharedConfig LoadedSave(int i) {
  ParseConfigurationText(TextOfSave(i));
  return SnapshotSharedConfig();
}

bool WriteMarker(const char* device, long long sector, const std::string& text) {
  const int fd = open(device, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string block(kSectorBytes, '\0');
  block.replace(0, text.size(), text);
  const bool written = pwrite(fd, block.data(), block.size(), static_cast<off_t>(sector) * kSectorBytes) ==
                       static_cast<ssize_t>(block.size());
  const bool flushed = fsync(fd) == 0;
  close(fd);
  return written && flushed;
}

int Identify(const char* working_copy, const char* boot, const char* packaged, int count) {
  std::vector<SharedConfig> saves;
  for (int i = 0; i <= count; ++i) saves.push_back(LoadedSave(i));
  LoadSettingsAtStart(working_copy, {boot, "", packaged});
  const SharedConfig loaded = SnapshotSharedConfig();
  for (int i = 0; i <= count; ++i) {
    if (std::memcmp(&loaded, &saves[static_cast<size_t>(i)], sizeof loaded) == 0) {
      printf("%d\n", i);
      return 0;
    }
  }
  printf("-1 wifi_ssid=%s\n", loaded.wifi_ssid);
  return 0;
}

int Save(int count, const char* device, long long sector) {
  const SharedConfig first = LoadedSave(0);
  LoadSettingsAtStart("/run/no-working-copy", {"/boot/vantagebridge-cable.conf", "", ""});
  const SharedConfig loaded = SnapshotSharedConfig();
  if (std::memcmp(&loaded, &first, sizeof loaded) != 0) {
    fprintf(stderr, "powercut: the disk does not hold save 0\n");
    return 1;
  }
  for (int i = 1; i <= count; ++i) {
    if (!WriteMarker(device, sector, "vb-powercut begin " + std::to_string(i) + "\n")) return 1;
    ReplaceSharedConfig(SettingsOfSave(i));
    if (!SaveConfiguration()) {
      fprintf(stderr, "powercut: save %d failed\n", i);
      return 1;
    }
    if (!WriteMarker(device, sector, "vb-powercut done " + std::to_string(i) + "\n")) return 1;
    printf("powercut: save %d done\n", i);
    fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "text" && argc == 3) {
    fputs(TextOfSave(atoi(argv[2])).c_str(), stdout);
    return 0;
  }
  if (mode == "save" && argc == 5) return Save(atoi(argv[2]), argv[3], atoll(argv[4]));
  if (mode == "identify" && argc == 6) return Identify(argv[2], argv[3], argv[4], atoi(argv[5]));
  fprintf(stderr,
          "usage: powercut text INDEX\n"
          "       powercut save COUNT DEVICE SECTOR\n"
          "       powercut identify WORKING_COPY BOOT_FILE PACKAGED_FILE COUNT\n");
  return 64;
}
