// The datagrams every tool that plays a viewer sends the box (vb-viewer,
// vb-web, vb-stream): the header and the connect request.
#pragma once

#include <cstddef>
#include <cstdint>

// 'B', kind 0, two zero bytes, the viewer's own counter, four zero bytes, the
// payload. Returns the datagram length, 0 when it does not fit.
size_t BuildViewerDatagram(uint32_t sequence, const uint8_t* payload, size_t length, uint8_t* out, size_t capacity);

// Payload of a connect request: type 0, then 1 for data only, 0 for a full client.
size_t BuildConnectPayload(bool data_only, uint8_t* out);
