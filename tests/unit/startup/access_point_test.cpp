#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/shell.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "startup/access_point.h"
#include "startup/status_message.h"
#include "writable_records.h"

namespace {

TEST(AccessPointTest, CheckedOnlyWithAnInterface) {
  ResetRecords();
  ShellTakeLog();
  WritableSharedConfig()->ap_running = 1;
  CheckAccessPoint();
  EXPECT_EQ(GetSharedConfig()->ap_running, 0);
  EXPECT_TRUE(ShellTakeLog().empty());
  EXPECT_EQ(BuildStatusFlags() & 0x02, 0);

  std::strcpy(WritableSharedConfig()->ap_iface, "wlan0");
  CheckAccessPoint();  // the recording shell reports success
  EXPECT_EQ(GetSharedConfig()->ap_running, 1);
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"pidof hostapd > /dev/null"});
}

}  // namespace
