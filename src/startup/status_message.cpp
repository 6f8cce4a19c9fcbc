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
  // Each source is a 0/1 byte; only its lowest bit counts.
  auto flag = [](uint8_t source, StatusFlag bit) { return (source & 1u) != 0 ? static_cast<unsigned>(bit) : 0u; };
  return static_cast<uint8_t>(kStatusAlways | flag(LoadShared(&config->ap_running), kStatusAccessPoint) |
                              flag(LoadShared(&config->hdmi_enabled), kStatusHdmi) |
                              flag(LoadShared(&config->camera_connected), kStatusCamera) |
                              flag(hud->sibling_status[0], kStatusSibling0) |
                              flag(hud->sibling_status[1], kStatusSibling1));
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
