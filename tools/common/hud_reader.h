// The tools' one reader of the status record "/hud_mem" (vb-hud, vb-web): the
// object mapped whole and followed when it is replaced, and copies taken by
// the daemon's consistency rule (records/hud_state.h).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <shared_mutex>
#include <string>

#include "records/hud_state.h"

// "/hud_mem" (or another name) mapped whole, and mapped again when the object
// was replaced (a new daemon on a cleaned /dev/shm). Never creates it: the
// daemon does at its start.
class HudObjectMapping {
 public:
  // Read-only (O_RDONLY, PROT_READ) unless writable: a reader can never
  // change what the daemon shares.
  HudObjectMapping(std::string name, bool writable);
  ~HudObjectMapping();
  HudObjectMapping(const HudObjectMapping&) = delete;
  HudObjectMapping& operator=(const HudObjectMapping&) = delete;

  // Maps the record when it exists whole (reading past a shorter object's end
  // would kill the reader with SIGBUS). Cheap when nothing changed. True while
  // mapped; otherwise the reason in *error.
  bool Refresh(std::string* error = nullptr);
  bool Mapped() const;
  // Why the last Refresh could not open the object (an errno), 0 when it could.
  int OpenError() const { return open_error_; }

  // Runs f on the mapped record while it stays mapped; false when not mapped.
  template <typename F>
  bool With(F&& f) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    if (base_ == nullptr) return false;
    f(base_);
    return true;
  }

 private:
  void UnmapLocked();

  const std::string name_;
  const bool writable_;
  mutable std::shared_mutex mutex_;
  void* base_ = nullptr;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int open_error_ = 0;  // written and read by the thread that calls Refresh
};

enum class HudCopy : uint8_t { kNotMapped, kConsistent, kTorn };

// How often a copy is taken again while a daemon update overlaps it.
constexpr int kHudCopyTries = 64;

// Copies the live record by the consistency rule, again while an update of
// the daemon overlapped the copy, at most kHudCopyTries times. kTorn when the
// last copy still overlapped one (a daemon that died in the middle of an
// update leaves its counters apart until it starts again): *out then holds
// that last copy, the best there is.
HudCopy CopyHud(const HudState* live, HudState* out);

// The record mapped read-only, and its copies.
class HudReader {
 public:
  explicit HudReader(std::string name) : mapping_(std::move(name), false) {}
  bool Refresh(std::string* error = nullptr) { return mapping_.Refresh(error); }
  bool Mapped() const { return mapping_.Mapped(); }
  int OpenError() const { return mapping_.OpenError(); }
  HudCopy Snapshot(HudState* out) const;

 private:
  HudObjectMapping mapping_;
};
