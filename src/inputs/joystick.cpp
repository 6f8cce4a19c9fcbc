// Joystick boards on I2C bus 1: axes of board 1 steer the gimbal, the encoders
// turn focus and EV, the buttons capture, open the shield, zoom and centre.
#include "inputs/joystick.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "actuators/shield.h"
#include "common/shared_field.h"
#include "operations/capture.h"
#include "operations/exposure_focus.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "platform/i2c.h"
#include "platform/log.h"
#include "records/camera_codes.h"
#include "records/hud_state.h"
#include "records/shared_config.h"

namespace {

constexpr int kBoardAddress[2] = {0x40, 0x41};
constexpr int kAxisCentre = 512;
constexpr int kDeadBand = 2;
constexpr int kEncoderFocusStep = 3;
// Polls in a row without an accepted report after which a board counts as
// gone (about half a second at one poll every 20 ms).
constexpr int kSilentPollsUntilGone = 25;

struct JoystickBoard {
  int32_t raw[3];
  int32_t centred[3];
  int32_t speed[3];
  int32_t last_speed[3];
  uint8_t encoder_seen[2];
  uint8_t encoder_position[2];
  uint8_t encoder_last[2];
  uint8_t buttons;
  uint8_t previous_buttons;
  int32_t silent_polls;
};

JoystickBoard g_boards[2];
uint8_t g_report[kJoystickReportSize];  // keeps bytes of earlier reports past a short read
int32_t g_encoder_focus = -1;           // -1: not yet taken from the camera
std::atomic<int> g_fd{-1};

int32_t AxisSpeed(int32_t centred) {
  if (centred >= -kDeadBand && centred <= kDeadBand) return 0;
  if (centred > 0) return 2000 * (centred - 3) / 128;
  return 2000 * (centred + 3) / 128;
}

// speed x percent / 100 truncated, computed wide: a configured percentage may
// be anything the file held.
int32_t Scaled(int32_t speed, int32_t percent) {
  int64_t v = static_cast<int64_t>(speed) * percent / 100;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void HandleAxes(JoystickBoard& board) {
  // A restored settings file may change the speeds while the joysticks run.
  const SharedConfig* config = GetSharedConfig();
  for (int k = 0; k < 3; ++k) {
    board.centred[k] = board.raw[k] - kAxisCentre;
    board.speed[k] = AxisSpeed(board.centred[k]);
    if (board.speed[k] == board.last_speed[k]) continue;
    board.last_speed[k] = board.speed[k];
    SetPanTiltSpeed(Scaled(board.speed[1], LoadShared(&config->i2c_input_speed_pan)),
                    Scaled(board.speed[2], LoadShared(&config->i2c_input_speed_tilt)));
    SetDutchSpeed(Scaled(board.speed[0], LoadShared(&config->i2c_input_speed_dutch)));
  }
}

// The axes no longer drive (the board stopped answering, or its first axis
// reads 0): a motion they set stops as if the stick were centred.
void CentreAxes(JoystickBoard& board) {
  if (board.last_speed[0] == 0 && board.last_speed[1] == 0 && board.last_speed[2] == 0) return;
  for (int k = 0; k < 3; ++k) board.speed[k] = board.last_speed[k] = 0;
  SetPanTiltSpeed(0, 0);
  SetDutchSpeed(0);
}

// Code of the camera's current EV, 0 if it is none of the steps.
int CurrentEvCode() { return EvCodeOfTenths(LoadShared(&GetHudState()->exposure_compensation)); }

void TurnFocus(int change) {
  if (g_encoder_focus == -1) g_encoder_focus = LoadShared(&GetHudState()->focus_percent);
  int value = g_encoder_focus + kEncoderFocusStep * change;
  if (value < 0) value = 0;
  if (value > 100) value = 100;
  g_encoder_focus = value;
  SetManualFocus(static_cast<double>(value));
  fprintf(stderr, "change encoder focus %d, set to %d%%\n", change, value);
}

void TurnEv(int change) {
  // Past either end the encoder stays on the last step.
  const int index = CurrentEvCode() + change - kFirstEvCode;
  const EvStep& step = kEvSteps[index < 0 ? 0 : (index >= kEvStepCount ? kEvStepCount - 1 : index)];
  fprintf(stderr, "change encoder EV %d to %d\n", change, step.tenths);
  SetExposureCompensation(EvOf(step));
}

void HandleEncoders(int board_number, JoystickBoard& board) {
  for (int e = 0; e < 2; ++e) {
    if (board.encoder_seen[e] == 0) {
      board.encoder_seen[e] = 1;
      board.encoder_last[e] = board.encoder_position[e];
      continue;
    }
    const int change = static_cast<int8_t>(static_cast<uint8_t>(board.encoder_position[e] - board.encoder_last[e]));
    board.encoder_last[e] = board.encoder_position[e];
    if (change == 0) continue;
    fprintf(stderr, "joystick %d encoder %d change %d\n", board_number, e, change);
    if (e == 0) {
      TurnFocus(change);
    } else {
      TurnEv(change);
    }
  }
}

bool CameraRecording() { return (LoadShared(&GetHudState()->camera_status_flags) & 0xC0) != 0; }

void PressButton(int button) {
  switch (button) {
    case 0:
      if (ShieldIsOpen()) {
        CloseShield();
      } else {
        OpenShield();
      }
      break;
    case 1:
      OpenShield();
      SleepMilliseconds(1000);
      ShutterRelease();
      break;
    case 2:
      if (CameraRecording()) {
        SetRecording(0);
      } else {
        OpenShield();
        SleepMilliseconds(1000);
        SetRecording(1);
      }
      break;
    case 3:
      SetOpticalZoom(-1);
      break;
    case 4:
      SetGimbalPosition(1);
      SleepMilliseconds(100);
      SetGimbalPosition(0);
      SetOrientationLockWanted(LoadShared(&GetHudState()->orientation_locked) == 0 ? 1 : 0);
      break;
    case 5:
      SetOpticalZoom(1);
      break;
    default:
      break;
  }
}

void HandleButtons(int board_number, JoystickBoard& board) {
  for (int b = 0; b < 8; ++b) {
    const int now = (board.buttons >> b) & 1;
    if (now == ((board.previous_buttons >> b) & 1)) continue;
    fprintf(stderr, "joystick %d button %d state %d\n", board_number, b, now);
    if (now == 1) PressButton(b);
  }
  board.previous_buttons = board.buttons;
}

void* RunJoystickPolling(void*) {
  pthread_setname_np(pthread_self(), "i2c-poll");
  for (;;) {
    PollJoysticksOnce();
    SleepMilliseconds(20);
  }
  return nullptr;
}

}  // namespace

int JoystickReportAccepted(const uint8_t* bytes, int n) {
  if (bytes == nullptr || n <= 0) return 0;
  if (n == 1) return bytes[0] == 0 ? 1 : 0;
  uint8_t x = 0;
  for (int i = 0; i < n - 1; ++i) x ^= bytes[i];
  return x == bytes[n - 1] ? 1 : 0;
}

void HandleJoystickReport(int board_number) {
  if (board_number != 0 && board_number != 1) return;
  JoystickBoard& board = g_boards[board_number];
  for (int k = 0; k < 3; ++k) board.raw[k] = g_report[2 * k] | (g_report[2 * k + 1] << 8);
  board.encoder_position[0] = g_report[6];
  board.encoder_position[1] = g_report[7];
  board.buttons = g_report[8];

  if (board_number == 1) {
    if (board.raw[0] != 0) {
      HandleAxes(board);
    } else {
      CentreAxes(board);
    }
  }
  HandleEncoders(board_number, board);
  HandleButtons(board_number, board);
}

void PollJoysticksOnce() {
  const int fd = g_fd.load();
  for (int board = 0; board < 2; ++board) {
    // A failed select would leave the read on the other board's address.
    // Read aside: a rejected report must not leave its bytes in the buffer.
    uint8_t fresh[kJoystickReportSize] = {};
    const bool selected = I2cSelectSlave(fd, kBoardAddress[board]) == 0;
    const int n = selected ? I2cRead(fd, fresh, kJoystickReportSize) : -1;
    if (!JoystickReportAccepted(fresh, n)) {
      JoystickBoard& silent = g_boards[board];
      if (silent.silent_polls < kSilentPollsUntilGone && ++silent.silent_polls == kSilentPollsUntilGone) {
        CentreAxes(silent);
      }
      continue;
    }
    g_boards[board].silent_polls = 0;
    memcpy(g_report, fresh, static_cast<size_t>(n));
    HandleJoystickReport(board);
  }
}

void ResetJoysticks() {
  memset(g_boards, 0, sizeof(g_boards));
  memset(g_report, 0, sizeof(g_report));
  g_encoder_focus = -1;
}

void StartI2cInput() {
  fprintf(stderr, "Init I2C input\n");
  const int fd = I2cOpen("/dev/i2c-1");
  if (fd < 0) LogError("I2C: Failed to access %d\n", errno);
  g_fd = fd;
  pthread_t thread;
  pthread_create(&thread, nullptr, RunJoystickPolling, nullptr);
}
