#include "hud_mapping.h"

#include <cstddef>

HudMapping::HudMapping(std::string name) : reader_(name), mailbox_(name, true) {}

bool HudMapping::Refresh() {
  const bool read = reader_.Refresh();
  const bool write = mailbox_.Refresh();
  return read && write;
}

bool HudMapping::Mapped() const { return reader_.Mapped() && mailbox_.Mapped(); }

bool HudMapping::Snapshot(HudState* out) const { return reader_.Snapshot(out) != HudCopy::kNotMapped; }

bool HudMapping::WithMailbox(const std::function<void(char* mailbox)>& f) {
  return mailbox_.With([&](void* base) { f(static_cast<char*>(base) + offsetof(HudState, command_mailbox)); });
}
