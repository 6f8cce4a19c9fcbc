// The shot type setting: single, multiple, interval, panorama and timelapse.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "camera/hud_state.h"
#include "commands/command_numbers.h"
#include "commands/picture_settings.h"
#include "commands/stored_frame.h"
#include "common/wire.h"

namespace {

constexpr FrameTemplate<19> kShotType = {0x55, 0x13, 0x04, 0x03, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x6A,
    0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0, 0};
constexpr FrameTemplate<14> kPanoramaKind = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x6E, 0x01, 0, 0};
constexpr FrameTemplate<28> kTimelapse = {0x55, 0x1C, 0x04, 0x1B, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x6C,
    0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF9, 0xFF, 0x00, 0x00, 0x00, 0x00, 0, 0};
static_assert(FrameTemplateValid(kShotType));
static_assert(FrameTemplateValid(kPanoramaKind));
static_assert(FrameTemplateValid(kTimelapse));

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
  uint8_t frame[kShotType.size()];
  std::memcpy(frame, kShotType.data(), sizeof frame);
  std::memcpy(frame + kPayload, payload, kShotTypePayloadSize);
  return SendFrameIfLinkUp(frame, sizeof frame);
}

// -1 stands for the value the camera last reported.
void SetTimelapse(const char* value1, const char* value2) {
  const HudState* hud = GetHudState();
  int32_t interval = CommandInteger(value1);
  int32_t duration = CommandInteger(value2);
  if (interval == -1) interval = hud->timelapse_interval;
  if (duration == -1) duration = hud->timelapse_duration;
  fprintf(stderr, "set timelapse interval %d duration %d\n", interval, duration);
  if (!SendShotTypeFrame(kTimelapseShotType)) return;
  uint8_t frame[kTimelapse.size()];
  std::memcpy(frame, kTimelapse.data(), sizeof frame);
  // Interval in tenths of a second; both fields keep their low 16 bits.
  PutU16(frame + kPayload + 3, static_cast<uint16_t>(static_cast<uint32_t>(interval) * 10u));
  PutU16(frame + kPayload + 5, static_cast<uint16_t>(static_cast<uint32_t>(duration)));
  SendFrameIfLinkUp(frame, sizeof frame);
}

}  // namespace

void SetShotType(const char* param, const char* value1, const char* value2) {
  fprintf(stderr, "set shot type %s %s\n", Text(param), Text(value1));
  for (const ShotTypeRow& row : kShotTypes) {
    if (!Same(param, row.param) || !Same(value1, row.value1)) continue;
    if (!SendShotTypeFrame(row.payload) || row.panorama_kind == kNoPanorama) continue;
    uint8_t frame[kPanoramaKind.size()];
    std::memcpy(frame, kPanoramaKind.data(), sizeof frame);
    frame[kPayload] = row.panorama_kind;
    SendFrameIfLinkUp(frame, sizeof frame);
  }
  if (Same(param, "timelapse")) SetTimelapse(value1, value2);
}
