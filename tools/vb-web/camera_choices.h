// The values the page offers for ISO, shutter, aperture and EV, taken from the
// box's own tables, with the name each one is sent as.
#pragma once

#include <cstdint>
#include <string>

// The name the box's "shutter" command takes for a 24-bit shutter code:
// "3.2s" for 3.2 seconds, "100" for 1/100 s, "1.25" for 1/1.25 s.
std::string ShutterName(uint32_t code);

// {"iso":[...],"shutter":[{"name":..,"code":..}],"aperture":[...],"ev":[...]}
std::string CameraChoicesJson();
