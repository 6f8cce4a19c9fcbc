// What a viewer sends the box: the datagram framing and the payloads of the
// connect, disconnect, gimbal control, attitude and JSON messages.
#pragma once

#include <cstddef>
#include <cstdint>

// 'B', kind 0, two zero bytes, the viewer's own counter, four zero bytes, the
// payload. Returns the datagram length, 0 when it does not fit.
size_t BuildViewerDatagram(uint32_t sequence, const uint8_t* payload, size_t length, uint8_t* out, size_t capacity);

// Payload of a connect request: type 0, then 1 for data only, 0 for a full client.
size_t BuildConnectPayload(bool data_only, uint8_t* out);

// "SEL,A,B" (selector 0-255, A and B signed 16-bit) into the 8-byte gimbal
// control payload; false when the text does not parse.
bool BuildGimbalPayload(const char* text, uint8_t out[8]);

// "Q1,Q2,Q3,Q4" (quaternion components, -1 ... 1) into the 11-byte attitude
// payload, each scaled by 32767 and kept inside signed 16 bits.
bool BuildAttitudePayload(const char* text, uint8_t out[11]);
