#include <gtest/gtest.h>

#include <cstring>

#include "camera/hud_state.h"
#include "clients/client_table.h"
#include "config/shared_config.h"
#include "platform/clock.h"
#include "startup/startup.h"
#include "viewer_end.h"

namespace {

TEST(StatusCycleTest, SendsThreeStatusMessagesToEveryViewer) {
  std::memset(GetSharedConfig(), 0, sizeof(SharedConfig));
  std::memset(GetHudState(), 0, sizeof(HudState));
  ClearClientTable();
  ViewerEnd viewer = AttachViewer(true);
  GetSharedConfig()->hdmi_enabled = 1;
  GetSharedConfig()->focus_assistant_enabled = 1;
  GetHudState()->client_count = 7;
  GetHudState()->rc_input_status = 3;
  GetHudState()->sibling_status[1] = 1;

  SkipSleepsForFuzzing(true);
  SendStatusCycle();
  SkipSleepsForFuzzing(false);

  const Datagram expected = {6, 0x85, 7, 0, 1, 3, 0};
  auto payloads = TakeViewerPayloads(viewer);
  ASSERT_EQ(payloads.size(), 3u);
  for (const auto& p : payloads) EXPECT_EQ(p, expected);
  DetachViewer(viewer);
}

}  // namespace
