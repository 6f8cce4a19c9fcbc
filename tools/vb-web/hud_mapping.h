// vb-web's view of "/hud_mem": the whole record mapped read-only for the live
// state, and the CommandMailbox, the only bytes vb-web ever writes, through a
// second mapping that nothing else uses. vb-web never creates the object: the
// daemon does at its start.
#pragma once

#include <sys/types.h>

#include <functional>
#include <shared_mutex>
#include <string>

#include "records/hud_state.h"

class HudMapping {
 public:
  explicit HudMapping(std::string name = "/hud_mem");
  ~HudMapping();
  HudMapping(const HudMapping&) = delete;
  HudMapping& operator=(const HudMapping&) = delete;

  // Maps the record when it exists whole, and again when the object was
  // replaced (a new daemon on a cleaned /dev/shm). Cheap when nothing changed.
  // True while mapped.
  bool Refresh();
  bool Mapped() const;
  // Why the last Refresh could not open the object (an errno), 0 when it could.
  int OpenError() const { return open_error_; }

  // A copy of the record, taken again while the daemon is rewriting the
  // attitude; false when not mapped.
  bool Snapshot(HudState* out) const;

  // Runs f on the 512 mailbox bytes; false when not mapped.
  bool WithMailbox(const std::function<void(char* mailbox)>& f);

 private:
  void UnmapLocked();

  const std::string name_;
  mutable std::shared_mutex mutex_;
  const HudState* view_ = nullptr;
  void* writable_ = nullptr;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int open_error_ = 0;  // written and read by the thread that calls Refresh
};
