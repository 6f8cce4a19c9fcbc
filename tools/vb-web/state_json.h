// The live state the page shows, as one JSON object: from a copy of HudState
// (nullptr when "/hud_mem" is not there), what vb-web's viewer heard and
// what vb-stream published about the live video.
#pragma once

#include <cstddef>
#include <string>

#include "box_viewer.h"
#include "records/hud_state.h"
#include "records/stream_status.h"

std::string FormatStateJson(const HudState* hud, const BoxStatus& box, size_t commands_waiting,
                            const StreamStatus& stream);
