// The motion intent: what the inputs want the gimbal and the zoom to do, and
// who wants it. It is the one hand-off between the inputs and the keep-alive:
// the inputs (a viewer's gimbal control on the viewer receive thread, commands
// on the command workers and the mailbox, the RC loop, the joysticks) write it;
// the keep-alive of the RC loop reads it every 20 ms and alone sends a moving
// speed. Every field is an atomic, read relaxed where a value one pass old does.
// Every thread reads it through the const view GetMotionIntent; writers change
// it only through the setters below, which set a motion and its driver together.
#pragma once

#include <atomic>
#include <cstdint>

// Who drives a continuous motion: a viewer (ViewerMotionDriver), a leased
// driver (below), or 0 when the box's own inputs do (the RC loop, the
// joysticks), which stop their motions themselves.
using MotionDriver = uint64_t;

// A viewer as a motion driver: its IPv4 address text and port; 0 when the
// text is no IPv4 address.
MotionDriver ViewerMotionDriver(const char* address, uint32_t port);

// Drivers nobody would see leave: a sender that holds no row of the client
// table, and the command mailbox (the web page). Their motion ends
// kLeasedMotionMs after it was last set unless it is set again; the web page
// repeats a held control about every half second.
constexpr MotionDriver kLeasedDriverBit = MotionDriver{1} << 62;
constexpr MotionDriver kMailboxMotionDriver = kLeasedDriverBit | 1;
constexpr uint32_t kLeasedMotionMs = 1500;
constexpr MotionDriver LeasedMotionDriver(MotionDriver driver) { return driver | kLeasedDriverBit; }

// The driver of one continuous motion and when it last set it.
struct MotionDriverSlot {
  std::atomic<MotionDriver> id{0};
  std::atomic<uint32_t> set_ms{0};
};

struct MotionIntent {
  // The gimbal speeds wanted and whether the gimbal is known to stand still.
  std::atomic<int32_t> pan_speed_wanted{0};
  std::atomic<int32_t> tilt_speed_wanted{0};
  std::atomic<int32_t> dutch_speed_wanted{0};
  std::atomic<uint8_t> gimbal_stopped{0};
  // The viewer whose command ("moverel") set the wanted pan and tilt speeds,
  // 0 when anything else set them last.
  MotionDriverSlot pan_tilt_driver;

  // Pan and tilt shares that add up: the RC loop's (written by it) and the
  // viewers' gimbal control (written on the viewer receive thread), with the
  // viewer that set the latter; the watchdog clears it when that viewer goes.
  std::atomic<int32_t> rc_pan_speed{0};
  std::atomic<int32_t> rc_tilt_speed{0};
  std::atomic<int32_t> client_pan_speed{0};
  std::atomic<int32_t> client_tilt_speed{0};
  MotionDriverSlot client_speed_driver;

  // Zoom: the digital zoom speed and the optical zoom direction go on until
  // set to 0, each with the viewer that set it; the level last sent and the
  // level last asked for (-1: none yet; a repeat is neither logged nor sent).
  std::atomic<int32_t> zoom_speed{0};
  MotionDriverSlot zoom_speed_driver;
  std::atomic<int32_t> optical_zoom_direction{0};
  MotionDriverSlot optical_zoom_driver;
  std::atomic<int32_t> zoom_level{0};
  std::atomic<int32_t> digital_zoom_asked{-1};

  // The orientation lock the user asked for; the camera receive thread steers
  // the gimbal to it on every tenth attitude report (counted here, by it and
  // the RC loop).
  std::atomic<uint8_t> orientation_lock_wanted{0};
  std::atomic<int32_t> lock_call_count{0};

  // When a gimbal speed last went out (any sender); the keep-alive clears it
  // once the focus point has followed the move.
  std::atomic<uint32_t> last_gimbal_speed_ms{0};

  // 1 at start; the first attitude from a viewer clears it for good, and the
  // RC loop sends its simulated carrier attitude only while it is set.
  std::atomic<uint8_t> rc_attitude_enabled{1};
};

// The process's one motion intent, in static storage, to read.
const MotionIntent* GetMotionIntent();

// Whether the gimbal is known to stand still.
void StoreGimbalStopped(uint8_t stopped);
// The wanted pan and tilt speeds and their driver (noted even when the speeds
// stay as they were: a repeat keeps a leased motion alive). True when the
// speeds changed.
bool StoreWantedPanTilt(int32_t pan, int32_t tilt, MotionDriver driver);
// True when the wanted roll speed changed.
bool StoreWantedDutch(int32_t dutch);
// The viewers' gimbal-control share and the viewer that set it.
void StoreClientSpeed(int32_t pan, int32_t tilt, MotionDriver driver);
// The RC loop's share.
void StoreRcSpeed(int32_t pan, int32_t tilt);
// The RC suspended: its share and the wanted pan and tilt speeds 0, without a
// command (the keep-alive just stops).
void StopRcMotion();
void StoreZoomSpeed(int32_t speed, MotionDriver driver);
void StoreOpticalZoom(int32_t direction, MotionDriver driver);
// The digital zoom level asked for; false when it is the level asked last.
bool StoreDigitalZoomAsked(int32_t level);
void StoreZoomLevel(int32_t level);
void StoreOrientationLockWanted(uint8_t wanted);
// Counts one orientation-lock call and returns the count before it (wrapping
// at a multiple of ten).
int32_t CountOrientationLockCall();
// When a gimbal speed last went out; 0 once the focus point has followed.
void StampGimbalSpeed(uint32_t ms);
// A viewer sent its own attitude: the RC loop's simulated one ends for good.
void EndRcAttitude();
// True when driver still drove the motion of that slot; it then no longer does.
bool TakeMotionDriver(MotionDriverSlot MotionIntent::*slot, MotionDriver driver);

// Back to the start values, for the tests' reset of every record.
void ResetMotionIntent();
