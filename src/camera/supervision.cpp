#include "camera/supervision.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "camera/camera_link.h"
#include "camera/frame.h"
#include "camera/hud_state.h"
#include "clients/video_bridge.h"
#include "commands/power.h"
#include "common/wire.h"
#include "config/shared_config.h"
#include "platform/clock.h"

std::atomic<uint8_t> g_date_sync_pending{1};

namespace {

constexpr int32_t kLinkSilenceMs = 1000;
constexpr uint32_t kDataBlockLifetimeMs = 5000;
constexpr uint8_t kStateCommandTrigger = 11;
constexpr char kTelemetryDisconnected[] = "telemetry disconnected";

// The command the camera waits for once it reports state 11, by settings flag.
constexpr FrameTemplate<14> kStateCommandFirst = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                                  0x00, 0x40, 0x02, 0x66, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kStateCommandSecond = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                                   0x00, 0x40, 0x02, 0x66, 0x01, 0x00, 0x00};
static_assert(FrameTemplateValid(kStateCommandFirst));
static_assert(FrameTemplateValid(kStateCommandSecond));

void SetTelemetryText(HudState* hud, const char* text) {
  CopyTextField(hud->telemetry_text, sizeof hud->telemetry_text, text);
}

// Sets the camera clock from a time that other writers put into HudState.
void SyncFromTimeSource(const HudState* hud) {
  const double value = hud->time_source_value;
  // A value that is no time at all (NaN, or outside 32-bit seconds) is not sent.
  if (!std::isfinite(value) || value < -2147483648.0 || value >= 2147483648.0) return;
  const int32_t t = static_cast<int32_t>(value);
  const int day = FormatTimeField(t, "%d");
  const int month = FormatTimeField(t, "%m");
  const int year = FormatTimeField(t, "%Y");
  const int hour = FormatTimeField(t, "%H");
  const int minute = FormatTimeField(t, "%M");
  const int second = FormatTimeField(t, "%S");
  SetCameraDateTime(hour, minute, second, day, month, year);
}

void SendStateCommandOnce(const HudState* hud, CameraLink* link) {
  if (!hud->camera_status_valid || hud->camera_state != kStateCommandTrigger || link->state_action_done) return;
  const FrameTemplate<14>& stored = hud->settings_flag66 == 0 ? kStateCommandFirst : kStateCommandSecond;
  for (int i = 0; i < 3; ++i) {
    if (!SendTemplateIfLinkUp(stored)) break;
  }
  link->state_action_done = 1;
}

}  // namespace

int FormatTimeField(int32_t t, const char* format) {
  const time_t when = t;
  tm parts{};
  if (localtime_r(&when, &parts) == nullptr) return -1;
  char text[5];
  if (strftime(text, sizeof text, format, &parts) == 0) return -1;
  return static_cast<int>(strtol(text, nullptr, 10));
}

void SuperviseCameraLink() {
  CameraLink* link = GetCameraLink();
  HudState* hud = GetHudState();
  SharedConfig* config = GetSharedConfig();

  const int32_t elapsed = static_cast<int32_t>(MillisecondClock() - link->last_rx_ms);
  if (elapsed > kLinkSilenceMs) {
    if (link->link_up) {
      fprintf(stderr, "data disconnected\n");
      hud->camera_status_valid = 0;
      hud->telemetry_connected = 0;
      hud->data_connected = 0;
      link->link_up = 0;
      config->camera_connected = 0;
    }
    SetTelemetryText(hud, kTelemetryDisconnected);
  } else {
    SetTelemetryText(hud, link->link_up ? "" : kTelemetryDisconnected);
  }

  int state = 0;
  if (!link->link_up) {
    hud->hud_visible = 0;
    SetTelemetryText(hud, kTelemetryDisconnected);
  } else {
    hud->title[0] = 0;
    hud->version_text[0] = 0;
    if (config->hud_enabled) hud->hud_visible = 1;
    if (g_date_sync_pending.load()) {
      int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
      LocalDateTime(&day, &month, &year, &hour, &minute, &second);
      if (year > 1900) SetCameraDateTime(hour, minute, second, day, month, year);
    }
    if (link->link_up) {
      state = 2;
    } else {
      SetTelemetryText(hud, kTelemetryDisconnected);
    }
  }

  SendShortMessage(5, 0, state, 0, 0, 0, 0);

  const uint32_t data_ms = hud->camera_data64_ms;
  if (data_ms != 0 && MillisecondClock() - data_ms > kDataBlockLifetimeMs) hud->camera_data64_ms = 0;

  if (hud->time_source_count > 1) SyncFromTimeSource(hud);

  SendStateCommandOnce(hud, link);
}
