#include "startup/status_message.h"

#include "common/shared_field.h"
#include "platform/clock.h"
#include "records/hud_state.h"
#include "records/shared_config.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"

uint8_t BuildStatusFlags() {
  const SharedConfig* config = GetSharedConfig();
  const HudState* hud = GetHudState();
  // Each source is a 0/1 byte; only the lowest bit of the first sibling byte counts.
  unsigned flags = 1u;
  flags |= (LoadShared(&config->ap_running) & 1u) << 1;
  flags |= (LoadShared(&config->hdmi_enabled) & 1u) << 2;
  flags |= (LoadShared(&config->camera_connected) & 1u) << 4;
  flags |= (hud->sibling_status[0] & 1u) << 6;
  flags |= static_cast<unsigned>(hud->sibling_status[1]) << 7;
  return static_cast<uint8_t>(flags);
}

void SendStatusCycle() {
  const SharedConfig* config = GetSharedConfig();
  const HudState* hud = GetHudState();
  const uint8_t flags = BuildStatusFlags();
  const uint8_t focus_assistant = LoadShared(&config->focus_assistant_enabled);
  for (int i = 0; i < 3; ++i) {
    // The client count and RC input status may change between sends: re-read each time.
    SendShortMessage(kMsgStatus, flags, LoadShared(&hud->client_count), 0, focus_assistant,
                     LoadShared(&hud->rc_input_status), 0);
    SleepMilliseconds(100);
  }
  SleepMilliseconds(500);
}
