// The tests' own door to the shared records: a test sets up and inspects any
// field directly, where the daemon's code reads through the const views and
// writes through the setters of records/. Only tests include this.
#pragma once

#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/shared_config.h"

inline HudState* WritableHudState() { return const_cast<HudState*>(GetHudState()); }
inline SharedConfig* WritableSharedConfig() { return const_cast<SharedConfig*>(GetSharedConfig()); }
inline LinkState* WritableLinkState() { return const_cast<LinkState*>(GetLinkState()); }
inline MotionIntent* WritableMotionIntent() { return const_cast<MotionIntent*>(GetMotionIntent()); }
