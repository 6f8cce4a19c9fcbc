// Gimbal and zoom motion: speeds, angles, carrier attitude, orientation lock,
// preset positions, digital and optical zoom. What the inputs want is kept in
// the motion intent (records/motion_intent.h): a moving speed, a zoom speed or
// an optical zoom direction goes on until set to 0, repeated by the RC loop's
// keep-alive. A viewer that starts one of these is its driver: when the viewer
// goes (ReleaseViewerMotion) the motion stops, unless another input has set it
// since; one nobody sees go (an unregistered sender, the mailbox) must repeat
// it (EndLapsedMotions).
#pragma once

#include <cstdint>

#include "records/motion_intent.h"

void SendGimbalSpeed(int32_t pan, int32_t tilt, int32_t dutch);
void SetGimbalAngle(int32_t pan, int32_t tilt, int32_t dutch);
void SetPanTiltSpeed(int32_t pan, int32_t tilt, MotionDriver driver = 0);
void SetDutchSpeed(int32_t dutch);
void SetOrientationLockWanted(uint8_t value);
void ApplyOrientationLock(int32_t wanted);
void SendCarrierAttitude(int32_t a, int32_t b);
void SendClientAttitude(float q1, float q2, float q3, float q4);
void SetDigitalZoom(int32_t level);
// The step the keep-alive adds to the digital zoom level every pass; 0 stops.
void SetDigitalZoomSpeed(int32_t speed, MotionDriver driver = 0);
// Keeps the optical zoom moving in a direction (> 0 in, < 0 out); 0 stops it.
void SetOpticalZoom(int32_t direction, MotionDriver driver = 0);
// The keep-alive's repeat of the direction in force; the intent stays as it is.
void SendOpticalZoom(int32_t direction);

// The gimbal control message of a viewer (driver: that viewer, 0 when none is
// known). Its pan and tilt speeds are the viewers' share, added to the RC's.
void HandleGimbalControl(int32_t selector, int32_t a, int32_t b, MotionDriver driver = 0);
// A viewer has gone (expired or said goodbye): each motion it drives stops as
// if it had asked for 0. Any other viewer's leaving changes nothing.
void ReleaseViewerMotion(const char* address, uint32_t port);
// Each motion a leased driver (an unregistered sender, the mailbox) has not
// set again within kLeasedMotionMs stops as if asked for 0 (the keep-alive
// calls it every pass, before it repeats the speeds).
void EndLapsedMotions(uint32_t now);
void SetGimbalPosition(int32_t position);
