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
void HandleGimbalControl(int32_t selector, int32_t a, int32_t b);
void SetGimbalPosition(int32_t position);
