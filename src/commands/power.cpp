#include "commands/power.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "camera/frame.h"
#include "common/wire.h"

namespace {

// Power states go to unit 0x09, command set 0x09.
constexpr FrameTemplate<14> kPowerSleep = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x09, 0x00,
                                           0x00, 0x40, 0x09, 0x51, 0x01, 0x00, 0x00};
constexpr FrameTemplate<14> kPowerWakeup = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x09, 0x00,
                                            0x00, 0x40, 0x09, 0x51, 0x02, 0x00, 0x00};
constexpr FrameTemplate<14> kPowerRestart = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x09, 0x00,
                                             0x00, 0x40, 0x09, 0x51, 0x03, 0x00, 0x00};
constexpr FrameTemplate<14> kPowerShutdown = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x09, 0x00,
                                              0x00, 0x40, 0x09, 0x51, 0x04, 0x00, 0x00};
static_assert(FrameTemplateValid(kPowerSleep) && FrameTemplateValid(kPowerWakeup) &&
              FrameTemplateValid(kPowerRestart) && FrameTemplateValid(kPowerShutdown));

constexpr FrameTemplate<20> kDateTime = {0x55, 0x14, 0x04, 0x6D, 0x02, 0x01, 0x00, 0x00, 0x40, 0x02,
                                         0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
static_assert(FrameTemplateValid(kDateTime));

constexpr FrameTemplate<14> kResetCamera = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                            0x00, 0x40, 0x02, 0x78, 0x00, 0x00, 0x00};
static_assert(FrameTemplateValid(kResetCamera));

struct PowerRow {
  const char* name;
  const FrameTemplate<14>* frame;
};
constexpr PowerRow kPowerTable[] = {
    {"sleep", &kPowerSleep}, {"wakeup", &kPowerWakeup}, {"restart", &kPowerRestart}, {"shutdown", &kPowerShutdown}};

}  // namespace

void SetCameraPower(const char* state) {
  if (state == nullptr) state = "";
  fprintf(stderr, "Power set %s\n", state);
  for (const PowerRow& row : kPowerTable) {
    if (std::strcmp(row.name, state) == 0) {
      SendTemplateIfLinkUp(*row.frame);
      return;
    }
  }
}

void SetCameraDateTime(int hour, int minute, int second, int day, int month, int year) {
  uint8_t frame[kDateTime.size()];
  std::memcpy(frame, kDateTime.data(), sizeof frame);
  PutU16(frame + 11, static_cast<uint16_t>(year));
  frame[13] = static_cast<uint8_t>(month);
  frame[14] = static_cast<uint8_t>(day);
  frame[15] = static_cast<uint8_t>(hour);
  frame[16] = static_cast<uint8_t>(minute);
  frame[17] = static_cast<uint8_t>(second);
  SendFrameIfLinkUp(frame, sizeof frame);
}

void ResetCamera() { SendTemplateIfLinkUp(kResetCamera); }
