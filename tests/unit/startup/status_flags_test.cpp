#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "camera/hud_state.h"
#include "config/shared_config.h"
#include "platform/shell.h"
#include "startup/startup.h"

namespace {

class StatusFlagsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(GetSharedConfig(), 0, sizeof(SharedConfig));
    std::memset(GetHudState(), 0, sizeof(HudState));
    ShellTakeLog();
  }
};

TEST_F(StatusFlagsTest, EachSourceLandsInItsBit) {
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
    GetSharedConfig()->ap_running = c.ap_running;
    GetSharedConfig()->hdmi_enabled = c.hdmi;
    GetSharedConfig()->camera_connected = c.camera_connected;
    GetHudState()->sibling_status[0] = c.sibling0;
    GetHudState()->sibling_status[1] = c.sibling1;
    EXPECT_EQ(BuildStatusFlags(), c.expected);
  }
}

TEST_F(StatusFlagsTest, AccessPointCheckOnlyWithAnInterface) {
  GetSharedConfig()->ap_running = 1;
  CheckAccessPoint();
  EXPECT_EQ(GetSharedConfig()->ap_running, 0);
  EXPECT_TRUE(ShellTakeLog().empty());
  EXPECT_EQ(BuildStatusFlags() & 0x02, 0);

  std::strcpy(GetSharedConfig()->ap_iface, "wlan0");
  CheckAccessPoint();  // the recording shell reports success
  EXPECT_EQ(GetSharedConfig()->ap_running, 1);
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"pidof hostapd > /dev/null"});
}

}  // namespace
