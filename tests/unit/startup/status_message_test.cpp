#include <gtest/gtest.h>

#include "platform/clock.h"
#include "records/hud_state.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "startup/status_message.h"
#include "viewer_end.h"
#include "writable_records.h"

namespace {

class StatusMessageTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRecords(); }
};

TEST_F(StatusMessageTest, EachSourceLandsInItsBit) {
  struct Case {
    uint8_t ap_running, hdmi, camera_connected, sibling0, sibling1;
    uint8_t expected;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0, 0x01},
      {1, 0, 0, 0, 0, 0x03},
      {0, 1, 0, 0, 0, 0x05},
      {0, 0, 1, 0, 0, 0x11},
      {0, 0, 0, 1, 0, 0x41},
      {0, 0, 0, 0, 1, 0x81},
      {0, 0, 0, 3, 1, 0xC1},  // only the lowest bit of the first sibling byte counts
      {0, 0, 0, 2, 0, 0x01},
      {1, 1, 1, 1, 1, 0xD7},
  };
  for (const Case& c : cases) {
    WritableSharedConfig()->ap_running = c.ap_running;
    WritableSharedConfig()->hdmi_enabled = c.hdmi;
    WritableSharedConfig()->camera_connected = c.camera_connected;
    WritableHudState()->sibling_status[0] = c.sibling0;
    WritableHudState()->sibling_status[1] = c.sibling1;
    EXPECT_EQ(BuildStatusFlags(), c.expected);
  }
}

TEST_F(StatusMessageTest, CycleSendsThreeStatusMessagesToEveryViewer) {
  ViewerEnd viewer = AttachViewer(true);
  WritableSharedConfig()->hdmi_enabled = 1;
  WritableSharedConfig()->focus_assistant_enabled = 1;
  WritableHudState()->client_count = 7;
  WritableHudState()->rc_input_status = 3;
  WritableHudState()->sibling_status[1] = 1;

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
