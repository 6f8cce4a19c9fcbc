#include "camera/settings_message.h"

#include <cstdio>
#include <cstring>

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

// Which shot mode a settings message reports, from byte 68 and its companions.
void UpdateShotMode(const uint8_t* frame, size_t length, LinkState* link) {
  switch (frame[68]) {
    case 1:
      link->shot_mode = 0;
      link->shot_submode = 0;
      break;
    case 2:
      link->shot_mode = 0;
      link->shot_submode = 2;
      break;
    case 4:
      link->shot_mode = 1;
      if (frame[44] == 3) link->shot_submode = 0;
      else if (frame[44] == 5) link->shot_submode = 1;
      else if (frame[44] == 7) link->shot_submode = 2;
      break;
    case 5:
      link->shot_mode = 1;
      if (frame[71] == 3) link->shot_submode = 3;
      else if (frame[71] == 5) link->shot_submode = 4;
      break;
    case 6:
      if (frame[46] == 1 && frame[45] == 0) {
        link->shot_mode = 0;
        link->shot_submode = 1;
      }
      if (frame[46] == 0xFF && frame[45] == 0) {
        link->shot_mode = 2;
        if (frame[47] == 10) link->shot_submode = 0;
        else if (frame[47] == 30) link->shot_submode = 1;
      } else if (frame[45] == 2) {
        link->shot_mode = 4;
        // The interval and duration (bytes 86-89) exist only in the long
        // message; the short one ends at byte 84 and keeps the old values.
        if (length >= 90) {
          link->timelapse_interval = static_cast<uint16_t>(GetU16(frame + 86) / 10);
          link->timelapse_duration = GetU16(frame + 88);
        }
      }
      break;
    case 7:
      link->shot_mode = 3;
      if (frame[72] == 1) link->shot_submode = 1;
      else if (frame[72] == 3) link->shot_submode = 2;
      else if (frame[72] == 4) link->shot_submode = 3;
      else if (frame[72] == 5) link->shot_submode = 0;
      else if (frame[72] == 7) link->shot_submode = 4;
      break;
    default:  // 3 and every other value keep the mode
      break;
  }
}

// The display process is restarted from outside this program.
void EndDisplayProcess() { ExecuteShellCommand("killall -q display &"); }

void NoteVideoFormat(uint8_t a, uint8_t b, LinkState* link) {
  if (link->last_video_format_a != 0 && link->last_video_format_b != 0) {
    if (link->last_video_format_a != a || link->last_video_format_b != b) {
      link->last_video_format_a = a;
      link->last_video_format_b = b;
      fprintf(stderr, "video format changed\n");
      // Not on this thread: it must never wait for a shell.
      PostInternalWork(EndDisplayProcess);
    }
    return;
  }
  link->last_video_format_a = a;
  link->last_video_format_b = b;
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
  if (length != 85 && length != 104) return;
  HudState* hud = GetHudState();
  LinkState* link = GetLinkState();

  hud->settings_byte23 = frame[23];
  hud->settings_byte67 = frame[67];
  const int16_t aperture_raw = GetI16(frame + 49);
  const double aperture = static_cast<double>(aperture_raw) / 100.0;
  hud->aperture = aperture;
  const int32_t aperture_index = ApertureIndexOfHundredths(aperture_raw);
  if (aperture_index >= 0) {
    link->aperture_index = aperture_index;
    link->known_aperture_index = aperture_index;
  }

  hud->settings_value54 = GetU16(frame + 54);
  hud->settings_byte16 = frame[16];
  hud->video_format_a = frame[24];
  hud->video_format_b = frame[25];
  NoteVideoFormat(frame[24], frame[25], link);

  hud->settings_byte34 = frame[34];
  hud->settings_byte35 = frame[35];
  const int8_t ev = EvTenthsOfCode(frame[17]);
  StoreShared(&hud->exposure_compensation, ev);
  hud->settings_byte42 = frame[42];
  const int16_t code38 = Code38Value(GetU16(frame + 38));
  hud->settings_code38 = code38;
  hud->settings_byte31 = frame[31];
  hud->settings_byte21 = frame[21];
  StoreShared(&hud->settings_flag66, frame[66] & 0x01);
  hud->settings_byte43 = frame[43];

  const uint32_t shutter_code = GetU24(frame + 13);
  hud->shutter_code = shutter_code;
  const int32_t shutter_index = ShutterIndexOfCode(shutter_code);
  if (shutter_index >= 0) {
    link->shutter_index = shutter_index;
    link->known_shutter_index = shutter_index;
  }

  const uint32_t value51 = GetU24(frame + 51);
  hud->settings_value51 = value51;

  UpdateShotMode(frame, length, link);
  hud->shot_mode = link->shot_mode;
  hud->shot_submode = link->shot_submode;
  StoreShared(&hud->timelapse_interval, link->timelapse_interval);
  StoreShared(&hud->timelapse_duration, link->timelapse_duration);

  uint8_t record[kSettingsRecordSize] = {};
  record[0] = kMsgSettingsRecord;
  record[1] = frame[31];
  record[2] = frame[21];
  record[3] = static_cast<uint8_t>(code38);
  record[4] = frame[42];
  record[5] = static_cast<uint8_t>(ev);
  record[6] = frame[34];
  record[7] = frame[24];
  record[8] = frame[25];
  record[9] = frame[35];
  std::memcpy(record + 10, frame + 54, 2);
  PutU24(record + 12, shutter_code);
  record[15] = frame[67];
  record[16] = frame[16];
  std::memcpy(record + 17, frame + 49, 2);
  record[19] = frame[66] & 0x01;
  record[20] = frame[43];
  PutU24(record + 21, value51);
  record[24] = frame[23];
  record[25] = link->shot_mode;
  record[26] = link->shot_submode;
  PutU16(record + 27, link->timelapse_interval);
  PutU16(record + 29, link->timelapse_duration);
  SendClientMessage(record, kSettingsRecordSize, kKindData);

  SendShortMessage16(kMsgDigitalZoom, GetMotionIntent()->zoom_level, 0, 0);
}
