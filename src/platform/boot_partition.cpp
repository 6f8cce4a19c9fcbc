#include "platform/boot_partition.h"

#include <cstdio>
#include <cstdlib>

#include "platform/log.h"
#include "platform/shell.h"

namespace {
std::mutex g_boot_mutex;  // constant-initialised: usable from any thread at any time
}  // namespace

std::mutex& BootPartitionMutex() { return g_boot_mutex; }

WritableBootPartition::WritableBootPartition() { ExecuteShellCommand("mount -o rw,remount /boot"); }

void WritableBootPartition::Close() {
  if (!writable_) return;
  writable_ = false;
  const int unmounted = ExecuteShellCommand("umount /boot");
  ExecuteShellCommand("mount /boot");
  if (unmounted != 0) {
    // Still mounted (busy, or the unmount hung): the mount above found it so.
    LogWarning("boot partition not unmounted, remounting it read-only\n");
    ExecuteShellCommand("mount -o ro,remount /boot");
  }
}

void ExitAfterBootChanges(int code) {
  BootPartitionMutex().lock();
  fflush(nullptr);
  _Exit(code);
}
