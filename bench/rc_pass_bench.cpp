// One RC loop pass with every control function driven and the link down (the
// frames are built and dropped): the cost the 20 ms period must carry.
#include <benchmark/benchmark.h>

#include "inputs/rc_loop.h"
#include "platform/clock.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/shared_config.h"
#include "writable_records.h"

namespace {

void BM_RcLoopPass(benchmark::State& state) {
  SkipSleepsForFuzzing(true);
  HudState* hud = WritableHudState();
  SharedConfig* config = WritableSharedConfig();
  WritableLinkState()->link_up = 0;
  config->rc_input_enabled = 1;
  config->rc_input_speed_pan = config->rc_input_speed_tilt = config->rc_input_speed_dutch = 100;
  hud->rc_input_status = 6;
  for (int f = 0; f < kRcFunctionCount; ++f) {
    // Switches and steppers stay centred so that nothing fires capture sequences.
    hud->rc_function_active[f] = 1;
    hud->rc_function_value[f] = 0.0;
    hud->rc_function_position[f] = 0.5;
  }
  hud->rc_function_value[0] = 0.4;  // pan moving
  double focus = 0;
  for (auto _ : state) {
    focus = focus > 1 ? 0 : focus + 0.01;
    hud->rc_function_position[7] = focus;
    RcLoopPass();
  }
}
BENCHMARK(BM_RcLoopPass);

}  // namespace

BENCHMARK_MAIN();
