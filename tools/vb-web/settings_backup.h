// The page's backup and restore of the box's settings file.
//
// The backup is the settings as the daemon saved them last: the newer whole
// one of its /run copy (refreshed by every save) and its working copy (what it
// started from). It carries the Wi-Fi passwords.
//
// An upload is checked at once by the daemon's own checks of a restored file
// (config/settings_restore.h), then handed to the daemon, which checks it
// again, loads, saves and answers: the file written whole into the handover
// folder, the "restore" command through the mailbox, the answer read back.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "config/settings_restore.h"
#include "mailbox_queue.h"

struct SettingsFilePaths {
  std::string run_copy = "/run/vantagebridge.conf";
  std::string working_copy = "/run/vantagebridge/vantagebridge.conf";
  std::string handover = kRestoreFolder;
};

// The upload's body: {"file":[byte,byte,...]}, each byte a number 0 to 255,
// which carries any file exactly (NUL and 0xFF bytes included) in JSON.
inline constexpr size_t kMaxRestoreBody = 4 * kMaxRestoredBytes + 64;
inline constexpr const char* kBackupFileName = "vantagebridge-cable.conf";

struct BackupAnswer {
  unsigned status = 200;
  std::string body;  // the file when file is set, else JSON ({"ok":...})
  bool file = false;
  MailboxOutcome outcome = MailboxOutcome::kTaken;  // else the mailbox refused the command, and that is the answer
};

class SettingsBackup {
 public:
  SettingsBackup(SettingsFilePaths paths, MailboxQueue* queue,
                 std::chrono::milliseconds answer_wait = std::chrono::seconds(40));

  // Makes the handover folder when it is missing (mode 0700); false and why
  // when it cannot be used.
  bool Prepare(std::string* error) const;

  BackupAnswer Download() const;

  // One upload, answered once the daemon has answered. pause(d) waits d and
  // returns false when vb-web is ending.
  BackupAnswer Restore(std::string_view body, const std::function<bool(std::chrono::milliseconds)>& pause);

 private:
  std::string NextToken();

  const SettingsFilePaths paths_;
  MailboxQueue* const queue_;
  const std::chrono::milliseconds answer_wait_;
  std::mutex restore_mutex_;  // one handover at a time
  uint64_t restores_ = 0;
};
