#include "operations/shot_type.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/number_text.h"
#include "common/shared_field.h"
#include "common/wire.h"
#include "records/hud_state.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

namespace {

constexpr size_t kPayload = kFrameHeaderSize;
constexpr size_t kShotTypePayloadSize = 6;
constexpr uint8_t kNoPanorama = 0;  // rows without the panorama kind frame

struct ShotTypeRow {
  const char* param;
  const char* value1;
  uint8_t payload[kShotTypePayloadSize];
  uint8_t panorama_kind;
};
constexpr ShotTypeRow kShotTypes[] = {
    {"single", "shot", {0x01, 0x01, 0x00, 0x01, 0x00, 0x00}, kNoPanorama},
    {"single", "10s", {0x06, 0x01, 0x00, 0x01, 0x0A, 0x00}, kNoPanorama},
    {"single", "hdr", {0x02, 0x01, 0x00, 0x01, 0x00, 0x00}, kNoPanorama},
    {"multiple", "3shots", {0x04, 0x03, 0x00, 0x03, 0x01, 0x00}, kNoPanorama},
    {"multiple", "5shots", {0x04, 0x05, 0x00, 0x05, 0x01, 0x00}, kNoPanorama},
    {"multiple", "7shots", {0x04, 0x07, 0x00, 0x07, 0x01, 0x00}, kNoPanorama},
    {"multiple", "aeb3", {0x05, 0x03, 0x00, 0x03, 0x01, 0x00}, kNoPanorama},
    {"multiple", "aeb5", {0x05, 0x05, 0x00, 0x05, 0x01, 0x00}, kNoPanorama},
    {"interval", "10s", {0x06, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, kNoPanorama},
    {"interval", "30s", {0x06, 0xFF, 0x00, 0xFF, 0x1E, 0x00}, kNoPanorama},
    {"pano", "180", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x05},
    {"pano", "360", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x01},
    {"pano", "180self", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x03},
    {"pano", "manual", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x04},
    {"pano", "grid", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x07},
};
constexpr uint8_t kTimelapseShotType[kShotTypePayloadSize] = {0x06, 0xFF, 0x02, 0xFF, 0x32, 0x00};

bool Same(const char* a, const char* b) { return a != nullptr && std::strcmp(a, b) == 0; }
const char* Text(const char* t) { return t != nullptr ? t : ""; }

bool SendShotTypeFrame(const uint8_t (&payload)[kShotTypePayloadSize]) {
  return SendPatched(kShotType, [&](uint8_t* frame) { std::memcpy(frame + kPayload, payload, kShotTypePayloadSize); });
}

// -1 stands for the value the camera last reported.
void SetTimelapse(const char* value1, const char* value2) {
  const HudState* hud = GetHudState();
  int32_t interval = ReadInt32(value1);
  int32_t duration = ReadInt32(value2);
  if (interval == -1) interval = LoadShared(&hud->timelapse_interval);
  if (duration == -1) duration = LoadShared(&hud->timelapse_duration);
  fprintf(stderr, "set timelapse interval %d duration %d\n", interval, duration);
  if (!SendShotTypeFrame(kTimelapseShotType)) return;
  SendPatched(kTimelapse, [&](uint8_t* frame) {
    // Interval in tenths of a second; both fields keep their low 16 bits.
    PutU16(frame + kPayload + 3, static_cast<uint16_t>(static_cast<uint32_t>(interval) * 10u));
    PutU16(frame + kPayload + 5, static_cast<uint16_t>(static_cast<uint32_t>(duration)));
  });
}

}  // namespace

const char* ShotTypeChoice(const char* kind, size_t index) {
  for (const ShotTypeRow& row : kShotTypes) {
    if (Same(kind, row.param) && index-- == 0) return row.value1;
  }
  return nullptr;
}

void SetShotType(const char* param, const char* value1, const char* value2) {
  fprintf(stderr, "set shot type %s %s\n", Text(param), Text(value1));
  for (const ShotTypeRow& row : kShotTypes) {
    if (!Same(param, row.param) || !Same(value1, row.value1)) continue;
    if (!SendShotTypeFrame(row.payload) || row.panorama_kind == kNoPanorama) continue;
    SendWithByte(kPanoramaKind, kPayload, row.panorama_kind);
  }
  if (Same(param, "timelapse")) SetTimelapse(value1, value2);
}
