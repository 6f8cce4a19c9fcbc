// RC mapping: the per-function values the rcin process writes into HudState
// become gimbal motion, zoom, focus, exposure, capture and display actions.
#pragma once

#include "inputs/rc_loop_state.h"
#include "records/hud_state.h"
#include "records/shared_config.h"

// One pass of the mapping; runs while RC input is enabled and the reader's
// status is 6.
void RcMappingPass(RcLoopState& st, const HudState* hud, const SharedConfig* config);
