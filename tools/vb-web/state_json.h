// The live state the page shows, as one JSON object: from a copy of HudState
// (nullptr when "/hud_mem" is not there) and what vb-web's viewer heard.
#pragma once

#include <cstddef>
#include <string>

#include "box_viewer.h"
#include "records/hud_state.h"

std::string FormatStateJson(const HudState* hud, const BoxStatus& box, size_t commands_waiting);
