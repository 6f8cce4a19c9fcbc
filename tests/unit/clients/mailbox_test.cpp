#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "clients/mailbox.h"
#include "clients/video_source.h"
#include "records/client_table.h"
#include "records/hud_state.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "records/viewer_protocol.h"
#include "viewer_end.h"
#include "writable_records.h"

namespace {

class MailboxTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    ResetMailboxAndRcRelay();
    SetVideoSendActive(false);
    viewer_ = AttachViewer(true);
  }
  void TearDown() override {
    DetachViewer(viewer_);
    ClearClientTable();
  }
  static bool MailboxEmpty() {
    const HudState* hud = GetHudState();
    for (char c : hud->command_mailbox)
      if (c != 0) return false;
    return true;
  }
  static void Post(const std::string& text) {
    std::memcpy(WritableHudState()->command_mailbox, text.data(), std::min(text.size(), size_t{kCommandMailboxSize}));
  }
  ViewerEnd viewer_;
};

TEST_F(MailboxTest, EachCommandRunsOnceAndEmptiesTheArea) {
  Post(R"({"cmd":"rc","name":"showchannels","value":"1"})");
  MailboxAndRcRelayPass(1000);
  EXPECT_TRUE(MailboxEmpty());
  EXPECT_EQ(GetHudState()->show_rc_channels, 1);

  WritableHudState()->show_rc_channels = 7;
  MailboxAndRcRelayPass(1100);  // nothing pending: nothing runs again
  EXPECT_EQ(GetHudState()->show_rc_channels, 7);

  Post(R"({"cmd":"rc","name":"showchannels","value":"0"})");
  MailboxAndRcRelayPass(1200);
  EXPECT_TRUE(MailboxEmpty());
  EXPECT_EQ(GetHudState()->show_rc_channels, 0);
  EXPECT_TRUE(TakeViewerPayloads(viewer_, 50, 200).empty());  // RC input is off
}

TEST_F(MailboxTest, AreaWithoutNulRunsItsFirst511Bytes) {
  std::string text = R"({"cmd":"rc","name":"showchannels","value":"1")";
  text += std::string(510 - text.size(), ' ') + "}X";
  ASSERT_EQ(text.size(), 512u);
  Post(text);
  MailboxAndRcRelayPass(1000);
  EXPECT_TRUE(MailboxEmpty());
  EXPECT_EQ(GetHudState()->show_rc_channels, 1);
}

TEST_F(MailboxTest, RcReportCarriesAllThirtyTwoChannels) {
  WritableSharedConfig()->rc_input_enabled = 1;
  HudState* hud = WritableHudState();
  hud->rc_input_status = 3;
  uint8_t* channels = reinterpret_cast<uint8_t*>(hud) + offsetof(HudState, rc_channel_values);
  channels[0] = 0xDC;  // channel 0 = 1500
  channels[1] = 0x05;
  channels[62] = 0x34;  // channel 31 = 0x1234
  channels[63] = 0x12;
  MailboxAndRcRelayPass(1000);
  auto got = TakeViewerPayloads(viewer_);
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].size(), 67u);
  EXPECT_EQ(got[0][0], kMsgRcChannels);
  EXPECT_EQ(got[0][1], 3);
  EXPECT_EQ(got[0][2], 32);
  EXPECT_EQ(got[0][3], 0xDC);
  EXPECT_EQ(got[0][4], 0x05);
  EXPECT_EQ(got[0][65], 0x34);
  EXPECT_EQ(got[0][66], 0x12);
  for (int i = 5; i < 65; ++i) EXPECT_EQ(got[0][i], 0) << i;
}

TEST_F(MailboxTest, RcReportsAreMoreThan300MsApart) {
  WritableSharedConfig()->rc_input_enabled = 1;
  const struct {
    uint32_t now;
    size_t reports;
  } passes[] = {{1000, 1}, {1100, 0}, {1300, 0}, {1301, 1}, {1401, 0}, {1602, 1}};
  for (const auto& p : passes) {
    MailboxAndRcRelayPass(p.now);
    EXPECT_EQ(TakeViewerPayloads(viewer_, 30, 150).size(), p.reports) << p.now;
  }
}

TEST_F(MailboxTest, ReportMeetingAVideoSendIsDropped) {
  WritableSharedConfig()->rc_input_enabled = 1;
  SetVideoSendActive(true);
  MailboxAndRcRelayPass(1000);
  SetVideoSendActive(false);
  EXPECT_TRUE(TakeViewerPayloads(viewer_, 50, 200).empty());
  MailboxAndRcRelayPass(1400);
  EXPECT_EQ(TakeViewerPayloads(viewer_).size(), 1u);
}

}  // namespace
