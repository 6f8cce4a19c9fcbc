#include "camera/settings_message.h"

#include <cstdio>

#include "common/shared_field.h"
#include "common/wire.h"
#include "platform/shell.h"
#include "platform/worker_pool.h"
#include "records/camera_codes.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"

namespace {

constexpr int kSettingsRecordSize = 31;
constexpr size_t kShortestMessage = 85;

// How a value of the message becomes the one HudState keeps.
enum class Reading : uint8_t {
  kAsIs,        // the bytes, little-endian
  kEvCode,      // an exposure code: tenths of a stop (EvTenthsOfCode)
  kCode38,      // Code38Value of the 16-bit code
  kLowBit,      // bit 0 only
  kHundredths,  // signed hundredths: HudState keeps the number itself
};

// One value of the message: where the frame has it, where HudState keeps it,
// and where the viewers' settings record carries it. The record carries the
// value as HudState keeps it, cut to record_width bytes, except for
// hundredths, which it carries as the frame's own bytes.
struct SettingsField {
  uint8_t frame_offset;
  uint8_t frame_width;
  Reading reading;
  uint16_t hud_offset;
  uint8_t hud_width;
  uint8_t record_offset;
  uint8_t record_width;
};

// Values the message handler also reads for the link state.
constexpr uint8_t kShutterAt = 13;
constexpr uint8_t kVideoFormatAAt = 24;
constexpr uint8_t kVideoFormatBAt = 25;
constexpr uint8_t kApertureAt = 49;

#define HUD(field) static_cast<uint16_t>(offsetof(HudState, field)), static_cast<uint8_t>(sizeof(HudState::field))
constexpr SettingsField kSettingsFields[] = {
    {31, 1, Reading::kAsIs, HUD(settings_byte31), 1, 1},
    {21, 1, Reading::kAsIs, HUD(settings_byte21), 2, 1},
    {38, 2, Reading::kCode38, HUD(settings_code38), 3, 1},
    {42, 1, Reading::kAsIs, HUD(settings_byte42), 4, 1},
    {17, 1, Reading::kEvCode, HUD(exposure_compensation), 5, 1},
    {34, 1, Reading::kAsIs, HUD(settings_byte34), 6, 1},
    {kVideoFormatAAt, 1, Reading::kAsIs, HUD(video_format_a), 7, 1},
    {kVideoFormatBAt, 1, Reading::kAsIs, HUD(video_format_b), 8, 1},
    {35, 1, Reading::kAsIs, HUD(settings_byte35), 9, 1},
    {54, 2, Reading::kAsIs, HUD(settings_value54), 10, 2},
    {kShutterAt, 3, Reading::kAsIs, HUD(shutter_code), 12, 3},
    {67, 1, Reading::kAsIs, HUD(settings_byte67), 15, 1},
    {16, 1, Reading::kAsIs, HUD(settings_byte16), 16, 1},
    {kApertureAt, 2, Reading::kHundredths, HUD(aperture), 17, 2},
    {66, 1, Reading::kLowBit, HUD(settings_flag66), 19, 1},
    {43, 1, Reading::kAsIs, HUD(settings_byte43), 20, 1},
    {51, 3, Reading::kAsIs, HUD(settings_value51), 21, 3},
    {23, 1, Reading::kAsIs, HUD(settings_byte23), 24, 1},
};
#undef HUD

// Bytes 25 on of the record carry the shot mode from the link state.
constexpr int kShotModeAt = 25;

constexpr bool FieldsFit() {
  bool record_taken[kSettingsRecordSize] = {};
  for (const SettingsField& f : kSettingsFields) {
    if (f.frame_offset + f.frame_width > kShortestMessage) return false;
    // Whole relaxed stores need a field at a multiple of its size.
    if (f.hud_offset % f.hud_width != 0) return false;
    if ((f.reading == Reading::kHundredths) != (f.hud_width == sizeof(double))) return false;
    if (f.record_width > f.frame_width || f.record_width > f.hud_width) return false;
    if (f.record_offset < 1 || f.record_offset + f.record_width > kShotModeAt) return false;
    for (int i = f.record_offset; i < f.record_offset + f.record_width; ++i) {
      if (record_taken[i]) return false;
      record_taken[i] = true;
    }
  }
  return true;
}
static_assert(FieldsFit());

int32_t ValueOf(const SettingsField& f, const uint8_t* frame) {
  const uint32_t raw = GetLittleEndian(frame + f.frame_offset, f.frame_width);
  switch (f.reading) {
    case Reading::kEvCode: return EvTenthsOfCode(static_cast<uint8_t>(raw));
    case Reading::kCode38: return Code38Value(static_cast<uint16_t>(raw));
    case Reading::kLowBit: return static_cast<int32_t>(raw & 0x01);
    case Reading::kHundredths: return static_cast<int16_t>(raw);
    case Reading::kAsIs: break;
  }
  return static_cast<int32_t>(raw);
}

// Into the handler's own copy of the block, which StoreHudSettings then publishes.
void StoreInHud(const SettingsField& f, int32_t value, HudState* hud) {
  uint8_t* field = reinterpret_cast<uint8_t*>(hud) + f.hud_offset;
  switch (f.hud_width) {
    case 1: StoreShared(field, value); break;
    case 2: StoreShared(reinterpret_cast<uint16_t*>(field), value); break;
    case 4: StoreShared(reinterpret_cast<uint32_t*>(field), value); break;
    case 8: StoreShared(reinterpret_cast<double*>(field), value / 100.0); break;
  }
}

// Which shot mode a settings message reports, from byte 68 and its companions.
void UpdateShotMode(const uint8_t* frame, size_t length, ShotState* shot) {
  switch (frame[68]) {
    case 1:
      shot->mode = 0;
      shot->submode = 0;
      break;
    case 2:
      shot->mode = 0;
      shot->submode = 2;
      break;
    case 4:
      shot->mode = 1;
      if (frame[44] == 3) shot->submode = 0;
      else if (frame[44] == 5) shot->submode = 1;
      else if (frame[44] == 7) shot->submode = 2;
      break;
    case 5:
      shot->mode = 1;
      if (frame[71] == 3) shot->submode = 3;
      else if (frame[71] == 5) shot->submode = 4;
      break;
    case 6:
      if (frame[46] == 1 && frame[45] == 0) {
        shot->mode = 0;
        shot->submode = 1;
      }
      if (frame[46] == 0xFF && frame[45] == 0) {
        shot->mode = 2;
        if (frame[47] == 10) shot->submode = 0;
        else if (frame[47] == 30) shot->submode = 1;
      } else if (frame[45] == 2) {
        shot->mode = 4;
        // The interval and duration (bytes 86-89) exist only in the long
        // message; the short one ends at byte 84 and keeps the old values.
        if (length >= 90) {
          shot->timelapse_interval = static_cast<uint16_t>(GetU16(frame + 86) / 10);
          shot->timelapse_duration = GetU16(frame + 88);
        }
      }
      break;
    case 7:
      shot->mode = 3;
      if (frame[72] == 1) shot->submode = 1;
      else if (frame[72] == 3) shot->submode = 2;
      else if (frame[72] == 4) shot->submode = 3;
      else if (frame[72] == 5) shot->submode = 0;
      else if (frame[72] == 7) shot->submode = 4;
      break;
    default:  // 3 and every other value keep the mode
      break;
  }
}

// The display process is restarted from outside this program.
void EndDisplayProcess() { ExecuteShellCommand("killall -q display &"); }

void NoteVideoFormat(uint8_t a, uint8_t b) {
  const LinkState* link = GetLinkState();
  if (link->last_video_format_a != 0 && link->last_video_format_b != 0) {
    if (link->last_video_format_a != a || link->last_video_format_b != b) {
      StoreLastVideoFormat(a, b);
      fprintf(stderr, "video format changed\n");
      // Not on this thread: it must never wait for a shell.
      PostInternalWork(EndDisplayProcess);
    }
    return;
  }
  StoreLastVideoFormat(a, b);
}

}  // namespace

int16_t Code38Value(uint16_t code) {
  switch (code) {
    case 0xFF: return 2;
    case 0x100: return 3;
    case 0x101: return 1;
    default: return 0;
  }
}

void HandleSettingsMessage(const uint8_t* frame, size_t length) {
  if (length != kShortestMessage && length != 104) return;
  alignas(8) HudState settings;
  uint8_t record[kSettingsRecordSize] = {};
  record[0] = kMsgSettingsRecord;
  for (const SettingsField& f : kSettingsFields) {
    const int32_t value = ValueOf(f, frame);
    StoreInHud(f, value, &settings);
    PutLittleEndian(record + f.record_offset, static_cast<uint32_t>(value), f.record_width);
  }

  const int32_t aperture_index = ApertureIndexOfHundredths(GetI16(frame + kApertureAt));
  if (aperture_index >= 0) StoreReportedApertureIndex(aperture_index);
  const int32_t shutter_index = ShutterIndexOfCode(GetU24(frame + kShutterAt));
  if (shutter_index >= 0) StoreReportedShutterIndex(shutter_index);
  NoteVideoFormat(frame[kVideoFormatAAt], frame[kVideoFormatBAt]);

  ShotState shot = CurrentShotState();
  UpdateShotMode(frame, length, &shot);
  StoreShotState(shot);
  settings.shot_mode = shot.mode;
  settings.shot_submode = shot.submode;
  settings.timelapse_interval = shot.timelapse_interval;
  settings.timelapse_duration = shot.timelapse_duration;
  StoreHudSettings(settings);
  record[kShotModeAt] = shot.mode;
  record[kShotModeAt + 1] = shot.submode;
  PutU16(record + kShotModeAt + 2, shot.timelapse_interval);
  PutU16(record + kShotModeAt + 4, shot.timelapse_duration);
  SendClientMessage(record, kSettingsRecordSize, kKindData);

  SendShortMessage16(kMsgDigitalZoom, GetMotionIntent()->zoom_level, 0, 0);
}
