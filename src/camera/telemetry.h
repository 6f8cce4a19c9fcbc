// The camera's periodic telemetry, one handler per message, into HudState and
// to the viewers. Each handler takes the whole frame and its length and
// returns at once when the length is not the message's own.
#pragma once

#include <cstddef>
#include <cstdint>

void HandleCounterMessage(const uint8_t* frame, size_t length);       // 22
void HandleAttitudeMessage(const uint8_t* frame, size_t length);      // 25
void HandleCameraStatusMessage(const uint8_t* frame, size_t length);  // 49, 50
void HandleLensMessage(const uint8_t* frame, size_t length);          // 52
void HandleFocusMessage(const uint8_t* frame, size_t length);         // 53, 59
void HandlePlaybackMessage(const uint8_t* frame, size_t length);      // 54
void HandleDataBlockMessage(const uint8_t* frame, size_t length);     // 77
