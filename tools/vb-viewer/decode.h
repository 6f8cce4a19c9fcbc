// One-line texts of what the box sends a viewer: "status flags=0x11 clients=1
// rc=0 ...", "link data state=2", "attitude pan=12.30 tilt=-5.00 dutch=0.00",
// "json {...}". A message too short for its type prints as "short ...".
#pragma once

#include <cstddef>
#include <cstdint>

#include "../common/shutter_text.h"

// Formats one data message payload (type byte first).
void FormatClientMessage(const uint8_t* payload, size_t length, char* out, size_t size);
