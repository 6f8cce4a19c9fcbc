// The values the page offers for ISO, shutter, aperture and EV, from the
// camera's code tables, each with the text the box's command takes.
#pragma once

#include <string>

// {"iso":[...],"shutter":[{"name":..,"code":..}],"aperture":[...],"ev":[...]}
std::string CameraChoicesJson();
