// The incoming camera frame parser: link bookkeeping, answers to the camera's
// identity and keep-alive queries, and telemetry into HudState and to viewers.
#pragma once

#include <cstdint>

// One frame whose length byte matches its datagram.
void ParseCameraFrame(const uint8_t* frame);
