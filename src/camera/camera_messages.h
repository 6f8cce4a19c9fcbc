// The handlers behind ParseCameraFrame, one per camera message, and the code
// tables of the settings message. Each handler takes the whole frame and its
// length and returns at once when the length is not the message's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/saturating.h"

// Identity, probe and keep-alive queries (13, 14 and 15 bytes): the answers
// the camera expects from the unit it looks for, by work mode.
void AnswerCameraQuery(const uint8_t* frame, size_t length);

void HandleCounterMessage(const uint8_t* frame, size_t length);       // 22
void HandleAttitudeMessage(const uint8_t* frame, size_t length);      // 25
void HandleCameraStatusMessage(const uint8_t* frame, size_t length);  // 49, 50
void HandleLensMessage(const uint8_t* frame, size_t length);          // 52
void HandleFocusMessage(const uint8_t* frame, size_t length);         // 53, 59
void HandlePlaybackMessage(const uint8_t* frame, size_t length);      // 54
void HandleDataBlockMessage(const uint8_t* frame, size_t length);     // 77
void HandleSettingsMessage(const uint8_t* frame, size_t length);      // 85, 104

// Settings byte 17 to tenths of EV (-30 ... 30); 0 for unknown codes.
int8_t ExposureCompensationOfCode(uint8_t code);

// A 24-bit shutter code to its index 0 (30 s) ... 56 (1/8000 s); -1 if unknown.
int32_t ShutterIndexOfCode(uint32_t code);
constexpr int kShutterCodeCount = 57;
extern const uint32_t kShutterCodes[kShutterCodeCount];

// An f-number to its index 0 (1.7) ... 20 (16.0) by exact match; -1 if none.
int32_t ApertureIndexOf(double f_number);
constexpr int kApertureCount = 21;
extern const double kApertureTable[kApertureCount];

// Settings bytes 38-39: 0xFF -> 2, 0x100 -> 3, 0x101 -> 1, else 0.
int16_t Code38Value(uint16_t code);

