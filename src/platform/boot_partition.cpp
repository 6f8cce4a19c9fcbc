#include "platform/boot_partition.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/log.h"
#include "platform/shell.h"

namespace {

std::mutex g_boot_mutex;  // constant-initialised: usable from any thread at any time

constexpr int kMountTries = 3;
constexpr std::chrono::milliseconds kMountRetryPause{500};

bool Run(const char* line) { return ExecuteShellCommand(line) == 0; }

// After a good unmount: a card that is slow to answer gets more tries.
bool MountAgain(bool first_try_done) {
  for (int attempt = first_try_done ? 1 : 0; attempt < kMountTries; ++attempt) {
    if (attempt > 0) {
      LogWarning("boot partition not mounted again, retrying\n");
      std::this_thread::sleep_for(kMountRetryPause);
    }
    if (Run("mount /boot")) return true;
  }
  LogError("boot partition could not be mounted again\n");
  return false;
}

void LogForcedReadOnly() { LogWarning("boot partition not unmounted, remounting it read-only\n"); }

}  // namespace

std::mutex& BootPartitionMutex() { return g_boot_mutex; }

WritableBootPartition::WritableBootPartition() {
  writable_ = Run("mount -o rw,remount /boot");
  if (!writable_) {
    Run("mount /boot");
    writable_ = Run("mount -o rw,remount /boot");
  }
}

bool WritableBootPartition::Close() {
  if (!open_) return mounted_;
  open_ = false;
  const bool unmounted = Run("umount /boot");
  mounted_ = Run("mount /boot");
  if (!unmounted) {
    // Still mounted (busy, or the unmount hung): the mount above found it so.
    LogForcedReadOnly();
    mounted_ = Run("mount -o ro,remount /boot") || mounted_;
  } else if (!mounted_) {
    mounted_ = MountAgain(true);
  }
  return mounted_;
}

bool WritableBootPartition::SyncAndClose() {
  if (!open_) return mounted_;
  open_ = false;
  mounted_ = Run("sync && umount /boot && mount /boot");
  if (mounted_) return true;
  // A partition still mounted takes the read-only remount; one that is not
  // mounted refuses it and is mounted again.
  mounted_ = Run("mount -o ro,remount /boot");
  if (mounted_) {
    LogForcedReadOnly();
    return true;
  }
  mounted_ = MountAgain(false);
  return mounted_;
}

void ExitAfterBootChanges(int code) {
  BootPartitionMutex().lock();
  fflush(nullptr);
  _Exit(code);
}
