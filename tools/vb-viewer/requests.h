// What a viewer sends the box: the datagram framing and the payloads of the
// connect, disconnect, gimbal control, attitude and JSON messages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../common/viewer_datagram.h"

// "SEL,A,B" (selector 0-255, A and B signed 16-bit) into the 8-byte gimbal
// control payload; false when the text does not parse.
bool BuildGimbalPayload(const char* text, uint8_t out[8]);

// "Q1,Q2,Q3,Q4" (quaternion components, -1 ... 1) into the 11-byte attitude
// payload, each scaled by 32767 and kept inside signed 16 bits.
bool BuildAttitudePayload(const char* text, uint8_t out[11]);
