// The camera settings message (85 or 104 bytes): exposure, shutter, aperture,
// video format and shot mode, into HudState, the link state and the viewers'
// settings record.
#pragma once

#include <cstddef>
#include <cstdint>

void HandleSettingsMessage(const uint8_t* frame, size_t length);

// Settings bytes 38-39: 0xFF -> 2, 0x100 -> 3, 0x101 -> 1, else 0.
int16_t Code38Value(uint16_t code);
