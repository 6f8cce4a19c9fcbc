#include "records/hud_state.h"

#include "platform/owned_shared_memory.h"

namespace {
alignas(8) HudState g_private_hud;  // stands in until "/hud_mem" is mapped
HudState* g_hud = &g_private_hud;
}  // namespace

void MapHudState() {
  // Without it the private record stands in: the daemon runs, the displays see nothing.
  if (void* p = MapOwnedSharedMemory("/hud_mem", sizeof(HudState))) g_hud = static_cast<HudState*>(p);
}

HudState* GetHudState() { return g_hud; }
