// vb-web's view of "/hud_mem": the whole record read through the tools' one
// reader (../common/hud_reader.h) for the live state, and the CommandMailbox,
// the only bytes vb-web ever writes, through a second, writable mapping that
// nothing else uses. vb-web never creates the object: the daemon does at its
// start.
#pragma once

#include <functional>
#include <string>

#include "../common/hud_reader.h"

class HudMapping {
 public:
  explicit HudMapping(std::string name = "/hud_mem");

  // Maps the record when it exists whole, and again when the object was
  // replaced (a new daemon on a cleaned /dev/shm). Cheap when nothing changed.
  // True while mapped.
  bool Refresh();
  bool Mapped() const;
  // Why the last Refresh could not open the object for writing (an errno), 0 when it could.
  int OpenError() const { return mailbox_.OpenError(); }

  // A copy of the record by the daemon's consistency rule; false when not mapped.
  bool Snapshot(HudState* out) const;

  // Runs f on the 512 mailbox bytes; false when not mapped.
  bool WithMailbox(const std::function<void(char* mailbox)>& f);

 private:
  HudReader reader_;
  HudObjectMapping mailbox_;
};
