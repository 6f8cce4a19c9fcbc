#include "records/hud_state.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/shared_field.h"
#include "common/wire.h"
#include "platform/owned_shared_memory.h"

namespace {

alignas(8) HudState g_private_hud;  // stands in until "/hud_mem" is mapped
HudState* g_hud = &g_private_hud;

// The camera receive thread's pair: it alone writes it, so two plain stores
// (the second a release) do; the fence keeps the fields' stores behind "begun".
class CameraUpdate {
 public:
  CameraUpdate() : hud_(g_hud) {
    count_ = LoadShared(&hud_->camera_updates_begun) + 1;
    StoreShared(&hud_->camera_updates_begun, count_);
    SharedFence<__ATOMIC_RELEASE>();
  }
  ~CameraUpdate() { StoreSharedRelease(&hud_->camera_updates_done, count_); }
  CameraUpdate(const CameraUpdate&) = delete;
  CameraUpdate& operator=(const CameraUpdate&) = delete;
  HudState* operator->() const { return hud_; }

 private:
  HudState* hud_;
  uint32_t count_;
};

// Every other writer's pair: several threads advance it, each by one.
class OtherUpdate {
 public:
  OtherUpdate() : hud_(g_hud) {
    AddShared(&hud_->other_updates_begun, 1u);
    SharedFence<__ATOMIC_RELEASE>();
  }
  ~OtherUpdate() { AddShared<__ATOMIC_RELEASE>(&hud_->other_updates_done, 1u); }
  OtherUpdate(const OtherUpdate&) = delete;
  OtherUpdate& operator=(const OtherUpdate&) = delete;
  HudState* operator->() const { return hud_; }

 private:
  HudState* hud_;
};

// One attitude axis: its text, radians, sine and cosine. The text's bytes
// after its NUL stay as they were, as when it is printed in place.
void StoreAxis(double degrees, char (&text)[10], double* rad, double* sin_out, double* cos_out) {
  char formatted[sizeof text];
  snprintf(formatted, sizeof formatted, "%1.0f", degrees);
  StoreSharedBytes(text, formatted, strnlen(formatted, sizeof formatted - 1) + 1);
  const double radians = degrees * kRadiansPerDegree;
  StoreShared(rad, radians);
  StoreShared(sin_out, std::sin(radians));
  StoreShared(cos_out, std::cos(radians));
}

}  // namespace

void MapHudState() {
  // Without it the private record stands in: the daemon runs, the displays see nothing.
  if (void* p = MapOwnedSharedMemory("/hud_mem", sizeof(HudState))) g_hud = static_cast<HudState*>(p);
}

const HudState* GetHudState() { return g_hud; }

bool TakeConsistentHudCopy(const HudState* live, HudState* out) {
  const uint32_t camera_done = LoadSharedAcquire(&live->camera_updates_done);
  const uint32_t other_done = LoadSharedAcquire(&live->other_updates_done);
  LoadSharedBytes(out, live, sizeof *out);
  SharedFence<__ATOMIC_ACQUIRE>();
  return LoadShared(&live->camera_updates_begun) == camera_done &&
         LoadShared(&live->other_updates_begun) == other_done;
}

void StartHudRecord(const char* title, const char* version_text) {
  std::memset(g_hud, 0, sizeof *g_hud);
  g_hud->marker = kHudMarker;
  CopyTextField(g_hud->title, sizeof g_hud->title, title);
  CopyTextField(g_hud->version_text, sizeof g_hud->version_text, version_text);
}

void StoreHudDisplayFlags(uint8_t osd, uint8_t hud_visible, uint8_t internal_camera, uint8_t internal_fullscreen,
                          uint8_t focus_assistant) {
  OtherUpdate hud;
  StoreShared(&hud->osd_enabled, osd);
  StoreShared(&hud->hud_visible, hud_visible);
  StoreShared(&hud->internal_camera_enabled, internal_camera);
  StoreShared(&hud->internal_camera_fullscreen, internal_fullscreen);
  StoreShared(&hud->focus_assistant_enabled, focus_assistant);
}

void StoreHudAttitude(double pan_degrees, double tilt_degrees, double dutch_degrees, uint8_t orientation_locked) {
  CameraUpdate hud;
  StoreShared(&hud->attitude_updating, 1);
  StoreAxis(pan_degrees, hud->pan_text, &hud->pan_rad, &hud->pan_sin, &hud->pan_cos);
  StoreAxis(tilt_degrees, hud->tilt_text, &hud->tilt_rad, &hud->tilt_sin, &hud->tilt_cos);
  StoreAxis(dutch_degrees, hud->dutch_text, &hud->dutch_rad, &hud->dutch_sin, &hud->dutch_cos);
  StoreShared(&hud->attitude_updating, 0);
  StoreShared(&hud->orientation_locked, orientation_locked);
}

void StoreHudCounter22(uint32_t value) {
  CameraUpdate hud;
  StoreShared(&hud->counter22, value);
}

void StoreHudCameraStatus(const HudCameraStatus& status) {
  CameraUpdate hud;
  StoreShared(&hud->camera_status_flags, status.flags);
  StoreShared(&hud->status_value20, status.value20);
  StoreShared(&hud->status_value24, status.value24);
  StoreShared(&hud->status_value28, status.value28);
  StoreShared(&hud->status_value40, status.value40);
  StoreShared(&hud->camera_status_valid, 1);
  StoreShared(&hud->camera_state, status.state);
  StoreShared(&hud->work_mode, status.work_mode);
  StoreShared(&hud->status_byte42, status.byte42);
  StoreShared(&hud->status_byte13, status.byte13);
}

void StoreHudLensValues(uint16_t value25, uint16_t value12, uint8_t byte11) {
  CameraUpdate hud;
  StoreShared(&hud->msg52_value25, value25);
  StoreShared(&hud->msg52_value12, value12);
  StoreShared(&hud->msg52_byte11, byte11);
}

void StoreHudFocusReport(const HudFocusReport& focus) {
  CameraUpdate hud;
  StoreShared(&hud->focus_percent, focus.percent);
  StoreShared(&hud->focus_value, focus.value);
  StoreShared(&hud->focus_x, focus.x);
  StoreShared(&hud->focus_y, focus.y);
  StoreShared(&hud->focus_mode, focus.mode);
  StoreShared(&hud->focus_flag, focus.flag);
  StoreShared(&hud->focus_valid, 1);
  StoreShared(&hud->focus_byte32, focus.byte32);
}

void StoreHudPlayback(uint8_t state, const uint16_t (&values)[5]) {
  CameraUpdate hud;
  StoreShared(&hud->playback_state, state);
  for (int i = 0; i < 5; ++i) StoreShared(&hud->playback_values[i], values[i]);
}

void StoreHudDataBlock(const uint8_t (&bytes)[64], uint32_t arrival_ms) {
  CameraUpdate hud;
  StoreSharedBytes(hud->camera_data64, bytes, sizeof bytes);
  StoreShared(&hud->camera_data64_ms, arrival_ms);
}

void StoreHudSettings(const HudState& from) {
  CameraUpdate hud;
  StoreShared(&hud->settings_value54, from.settings_value54);
  StoreShared(&hud->settings_byte16, from.settings_byte16);
  StoreShared(&hud->video_format_a, from.video_format_a);
  StoreShared(&hud->video_format_b, from.video_format_b);
  StoreShared(&hud->settings_byte34, from.settings_byte34);
  StoreShared(&hud->settings_byte35, from.settings_byte35);
  StoreShared(&hud->exposure_compensation, from.exposure_compensation);
  StoreShared(&hud->settings_byte42, from.settings_byte42);
  StoreShared(&hud->settings_code38, from.settings_code38);
  StoreShared(&hud->settings_byte31, from.settings_byte31);
  StoreShared(&hud->settings_byte21, from.settings_byte21);
  StoreShared(&hud->settings_flag66, from.settings_flag66);
  StoreShared(&hud->settings_byte43, from.settings_byte43);
  StoreShared(&hud->settings_value51, from.settings_value51);
  StoreShared(&hud->shutter_code, from.shutter_code);
  StoreShared(&hud->aperture, from.aperture);
  StoreShared(&hud->settings_byte23, from.settings_byte23);
  StoreShared(&hud->settings_byte67, from.settings_byte67);
  StoreShared(&hud->shot_mode, from.shot_mode);
  StoreShared(&hud->shot_submode, from.shot_submode);
  StoreShared(&hud->timelapse_interval, from.timelapse_interval);
  StoreShared(&hud->timelapse_duration, from.timelapse_duration);
}

void StoreHudDataLink(uint8_t up) {
  OtherUpdate hud;
  StoreShared(&hud->camera_status_valid, 0);
  StoreShared(&hud->telemetry_connected, up);
  StoreShared(&hud->data_connected, up);
}

void StoreHudTelemetryText(const char* text) {
  OtherUpdate hud;
  StoreSharedText(hud->telemetry_text, sizeof hud->telemetry_text, text);
}

void ClearHudIdentity() {
  OtherUpdate hud;
  StoreShared(&hud->title[0], '\0');
  StoreShared(&hud->version_text[0], '\0');
}

void ClearHudDataBlockTime() {
  OtherUpdate hud;
  StoreShared(&hud->camera_data64_ms, 0);
}

void StoreHudVideoConnected(uint8_t connected) {
  OtherUpdate hud;
  StoreShared(&hud->video_connected, connected);
}

void StoreHudVideoText(const char* text) {
  OtherUpdate hud;
  StoreSharedText(hud->video_text, sizeof hud->video_text, text);
}

void StoreHudClientCount(uint8_t count) {
  OtherUpdate hud;
  StoreShared(&hud->client_count, count);
}

void StoreHudLastMediaFile(const char* text) {
  OtherUpdate hud;
  StoreSharedText(hud->last_media_file, sizeof hud->last_media_file, text);
}

void StoreHudShieldClosed(uint8_t closed) {
  OtherUpdate hud;
  StoreShared(&hud->shield_closed, closed);
}

void StoreHudFlag(HudFlag flag, uint8_t value) {
  OtherUpdate hud;
  switch (flag) {
    case HudFlag::kNone: break;
    case HudFlag::kOsd: StoreShared(&hud->osd_enabled, value); break;
    case HudFlag::kHudVisible: StoreShared(&hud->hud_visible, value); break;
    case HudFlag::kInternalCamera: StoreShared(&hud->internal_camera_enabled, value); break;
    case HudFlag::kInternalCameraFullscreen: StoreShared(&hud->internal_camera_fullscreen, value); break;
    case HudFlag::kFocusAssistant: StoreShared(&hud->focus_assistant_enabled, value); break;
    case HudFlag::kShowRcChannels: StoreShared(&hud->show_rc_channels, value); break;
    case HudFlag::kRcInputStatus: StoreShared(&hud->rc_input_status, value); break;
  }
}

void StoreHudRcChannelMap(const uint8_t (&map)[kRcChannelCount]) {
  OtherUpdate hud;
  StoreSharedBytes(hud->rc_channel_map, map, sizeof map);
}

void StoreHudFocusPoint(double x, double y) {
  OtherUpdate hud;
  StoreShared(&hud->focus_point_x, x);
  StoreShared(&hud->focus_point_y, y);
}

void StoreHudAfUnlimited(uint8_t unlimited) {
  OtherUpdate hud;
  StoreShared(&hud->af_unlimited, unlimited);
}

char* HudCommandMailbox() { return g_hud->command_mailbox; }

void ClearHudRecord() { std::memset(static_cast<void*>(g_hud), 0, sizeof *g_hud); }
