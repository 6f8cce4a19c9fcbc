// Joystick report bytes -> the report check and HandleJoystickReport of both
// boards, through a scripted I2C device. Input layout: 4 bytes of settings
// (speed percentages, focus, EV), then reads: a length byte (0xFF: the read
// fails) followed by up to 10 report bytes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "inputs/joystick.h"
#include "platform/clock.h"
#include "platform/i2c.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/shared_config.h"
#include "records/usb_peer.h"
#include "swallowed_frames.h"
#include "writable_records.h"

namespace {

const uint8_t* g_data = nullptr;
size_t g_left = 0;

int ScriptSelect(int) { return 0; }

int ScriptRead(int, uint8_t* buffer, int size) {
  if (g_left == 0) return -1;
  const uint8_t length_byte = *g_data++;
  --g_left;
  if (length_byte == 0xFF) return -1;
  size_t n = length_byte % (kJoystickReportSize + 1);
  if (n > g_left) n = g_left;
  if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
  memcpy(buffer, g_data, n);
  g_data += n;
  g_left -= n;
  return static_cast<int>(n);
}

const I2cScript kScript{ScriptSelect, ScriptRead};

void SwallowFrames() {
  SwallowCameraFrames();
  WritableLinkState()->link_up = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    SkipSleepsForFuzzing(true);
    SwallowFrames();
    I2cInstallScript(&kScript);
    return true;
  }();
  (void)ready;
  if (size < 4) return 0;

  SharedConfig* config = WritableSharedConfig();
  HudState* hud = WritableHudState();
  const int32_t percents[4] = {100, 50, -300, 2147483647};
  config->i2c_input_speed_pan = percents[data[0] & 3];
  config->i2c_input_speed_tilt = percents[(data[0] >> 2) & 3];
  config->i2c_input_speed_dutch = percents[(data[0] >> 4) & 3];
  hud->focus_percent = static_cast<int8_t>(data[1]);
  hud->exposure_compensation = static_cast<int8_t>(data[2]);
  hud->camera_status_flags = data[3];
  WritableLinkState()->focus_range = data[3];
  ResetJoysticks();

  g_data = data + 4;
  g_left = size - 4;
  JoystickReportAccepted(g_data, static_cast<int>(g_left < kJoystickReportSize ? g_left : kJoystickReportSize));
  while (g_left > 0) PollJoysticksOnce();
  return 0;
}
