// The keep-alive half of each RC loop pass: repeats what keeps a motion going
// (gimbal speed, digital zoom speed, optical zoom) whichever input set it, and
// sends the delayed focus point updates.
#pragma once

#include "inputs/rc_loop_state.h"
#include "records/hud_state.h"
#include "records/shared_config.h"

void RcKeepAlivePass(RcLoopState& st, const HudState* hud, const SharedConfig* config);
