// The handlers behind ParseCameraFrame, one per camera message, and the
// settings message's code of bytes 38-39. Each handler takes the whole frame
// and its length and returns at once when the length is not the message's own.
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

// Settings bytes 38-39: 0xFF -> 2, 0x100 -> 3, 0x101 -> 1, else 0.
int16_t Code38Value(uint16_t code);

