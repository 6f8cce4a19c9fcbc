// Gimbal and zoom motion: speeds, angles, carrier attitude, orientation lock,
// preset positions, digital and optical zoom.
#pragma once

#include <atomic>
#include <cstdint>

// 1 at start; the first client attitude message clears it for good, and the
// RC loop sends its simulated carrier attitude only while it is set.
extern std::atomic<uint8_t> g_rc_attitude_enabled;

// The digital zoom level last asked for (clamped to 0 ... 100), -1 at start;
// a repeated request is neither logged nor sent.
extern std::atomic<int32_t> g_digital_zoom_asked;

void SendGimbalSpeed(int32_t pan, int32_t tilt, int32_t dutch);
void SetGimbalAngle(int32_t pan, int32_t tilt, int32_t dutch);
void SetPanTiltSpeed(int32_t pan, int32_t tilt);
void SetDutchSpeed(int32_t dutch);
void SetOrientationLockWanted(uint8_t value);
void ApplyOrientationLock(int32_t wanted);
void SendCarrierAttitude(int32_t a, int32_t b);
void SendClientAttitude(float q1, float q2, float q3, float q4);
void SetDigitalZoom(int32_t level);
void SetOpticalZoom(int32_t direction);

// The gimbal control message of a viewer. driver (ViewerMotionDriver) names the
// viewer behind a client speed, so that its leaving stops what it started; 0
// when no viewer is known.
void HandleGimbalControl(int32_t selector, int32_t a, int32_t b, uint64_t driver = 0);
// A viewer as a motion driver: its IPv4 address text and port; 0 when the text
// is no IPv4 address.
uint64_t ViewerMotionDriver(const char* address, uint32_t port);
// A viewer has gone (expired or said goodbye): when it set the client speed,
// that share goes to 0 as if it had sent a zero speed. Any other viewer's
// leaving changes nothing.
void ReleaseViewerMotion(const char* address, uint32_t port);
void SetGimbalPosition(int32_t position);
