#include "operations/camera_clock.h"

#include <cstdint>

#include "common/wire.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

void SetCameraDateTime(int hour, int minute, int second, int day, int month, int year) {
  SendPatched(kDateTime, [&](uint8_t* frame) {
    PutU16(frame + 11, static_cast<uint16_t>(year));
    frame[13] = static_cast<uint8_t>(month);
    frame[14] = static_cast<uint8_t>(day);
    frame[15] = static_cast<uint8_t>(hour);
    frame[16] = static_cast<uint8_t>(minute);
    frame[17] = static_cast<uint8_t>(second);
  });
}
