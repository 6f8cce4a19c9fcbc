// The boot partition (a FAT card partition the box may lose power on) stays
// mounted read-only except for the moment of a change to it.
#pragma once

#include <mutex>

// Held for the whole of each change so that changes never interleave: the
// settings save and the removal of the RC calibration take it.
std::mutex& BootPartitionMutex();

// While it lives the partition is mounted read-write; whatever happens in
// between, it is then unmounted and mounted again, and forced read-only when
// the unmount failed. Made only with BootPartitionMutex held.
class WritableBootPartition {
 public:
  // "mount -o rw,remount /boot"; when that fails (the partition is not
  // mounted: a mount failed earlier) "mount /boot" and the remount once more.
  WritableBootPartition();
  ~WritableBootPartition() { Close(); }
  WritableBootPartition(const WritableBootPartition&) = delete;
  WritableBootPartition& operator=(const WritableBootPartition&) = delete;

  // False when the partition could not be made writable: write nothing to it.
  bool writable() const { return writable_; }

  // Returns the partition to read-only now rather than at the end of the
  // scope: "umount /boot", then "mount /boot", tried up to three times when
  // it fails after a good unmount. True when the partition is mounted again.
  bool Close();

  // The same with the line "sync && umount /boot && mount /boot"; when it
  // fails, a partition still mounted is forced read-only and one left
  // unmounted is mounted again.
  bool SyncAndClose();

 private:
  bool writable_ = false;
  bool open_ = true;
  bool mounted_ = true;
};

// Ends the process with code for the launcher once no change to the boot
// partition is under way, and lets none start: a restart never cuts a save
// short. Streams are flushed; no destructors run under the other threads.
[[noreturn]] void ExitAfterBootChanges(int code);
