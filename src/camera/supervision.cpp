#include "camera/supervision.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/shared_field.h"
#include "common/wire.h"
#include "operations/camera_clock.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "platform/log.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/shared_config.h"
#include "records/viewer_protocol.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"
#include "senders/viewer_sender.h"

namespace {

constexpr int32_t kLinkSilenceMs = 1000;
constexpr uint32_t kDataBlockLifetimeMs = 5000;
constexpr uint8_t kStateCommandTrigger = 11;
constexpr char kTelemetryDisconnected[] = "telemetry disconnected";

// Sets the camera clock from a time that other writers put into HudState.
void SyncFromTimeSource(const HudState* hud) {
  const double value = hud->time_source_value;
  // A value that is no time at all (NaN, or beyond the whole seconds a double
  // holds exactly) is not sent; dates after 2038 are.
  constexpr double kLimit = 9007199254740992.0;  // 2^53
  if (!std::isfinite(value) || value <= -kLimit || value >= kLimit) return;
  const int64_t t = static_cast<int64_t>(value);
  const int day = FormatTimeField(t, "%d");
  const int month = FormatTimeField(t, "%m");
  const int year = FormatTimeField(t, "%Y");
  const int hour = FormatTimeField(t, "%H");
  const int minute = FormatTimeField(t, "%M");
  const int second = FormatTimeField(t, "%S");
  SetCameraDateTime(hour, minute, second, day, month, year);
}

// The camera waits for a video standard command once it reports state 11: PAL
// or NTSC by its settings flag 66.
void SendStateCommandOnce(const HudState* hud, const LinkState* link) {
  if (!LoadShared(&hud->camera_status_valid) || LoadShared(&hud->camera_state) != kStateCommandTrigger ||
      link->state_action_done) {
    return;
  }
  const FrameTemplate<14>& stored = LoadShared(&hud->settings_flag66) == 0 ? kStandardPal : kStandardNtsc;
  for (int i = 0; i < 3; ++i) {
    if (!SendTemplateIfLinkUp(stored)) break;
  }
  MarkStateActionDone(1);
}

}  // namespace

int FormatTimeField(int64_t t, const char* format) {
  const time_t when = static_cast<time_t>(t);
  tm parts{};
  if (localtime_r(&when, &parts) == nullptr) return -1;
  char text[5];
  if (strftime(text, sizeof text, format, &parts) == 0) return -1;
  return static_cast<int>(strtol(text, nullptr, 10));
}

void SuperviseCameraLink() {
  const LinkState* link = GetLinkState();
  const HudState* hud = GetHudState();
  const SharedConfig* config = GetSharedConfig();

  const int32_t elapsed = static_cast<int32_t>(MillisecondClock() - link->last_rx_ms);
  if (elapsed > kLinkSilenceMs) {
    if (link->link_up) {
      LogWarning("data disconnected\n");
      NoteEvent(JournalEvent::kCameraLink, "camera", "down");
      StoreHudDataLink(0);
      MarkDataLinkDown();
      StoreCameraConnected(0);
    }
    StoreHudTelemetryText(kTelemetryDisconnected);
  } else {
    StoreHudTelemetryText(link->link_up ? "" : kTelemetryDisconnected);
  }

  int state = 0;
  if (!link->link_up) {
    StoreHudFlag(HudFlag::kHudVisible, 0);
    StoreHudTelemetryText(kTelemetryDisconnected);
  } else {
    ClearHudIdentity();
    if (LoadShared(&config->hud_enabled)) StoreHudFlag(HudFlag::kHudVisible, 1);
    if (link->date_sync_pending.load()) {
      int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
      LocalDateTime(&day, &month, &year, &hour, &minute, &second);
      if (year > 1900) SetCameraDateTime(hour, minute, second, day, month, year);
    }
    if (link->link_up) {
      state = 2;
    } else {
      StoreHudTelemetryText(kTelemetryDisconnected);
    }
  }

  SendShortMessage(kMsgLinkState, 0, state, 0, 0, 0, 0);

  const uint32_t data_ms = LoadShared(&hud->camera_data64_ms);
  if (data_ms != 0 && MillisecondClock() - data_ms > kDataBlockLifetimeMs) ClearHudDataBlockTime();

  if (hud->time_source_count > 1) SyncFromTimeSource(hud);

  SendStateCommandOnce(hud, link);
}
