// Shared set-up for the camera operation tests: a fresh camera end on loopback
// and the process state these operations read, reset before every test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loopback.h"
#include "operations/motion.h"
#include "platform/shell.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "writable_records.h"

class OperationsTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    WritableMotionIntent()->gimbal_stopped = 1;
    ShellTakeLog();
    end_ = AttachCameraEnd(LinkUpAtStart());
  }
  void TearDown() override { DetachCameraEnd(end_); }

  virtual bool LinkUpAtStart() const { return true; }

  // Frames the camera received since the last call, as "14 02>01 40 02:2A | 03".
  std::vector<std::string> Sent(int first_wait_ms = 300) {
    std::vector<std::string> out;
    for (const SentFrame& f : TakeFrames(end_, 100, first_wait_ms)) {
      EXPECT_TRUE(f.checksum_ok) << FrameText(f);
      out.push_back(FrameText(f));
    }
    return out;
  }

  // Frames handed to the socket so far: the sequence counter moves once per
  // frame that goes out, so "nothing sent" needs no waiting.
  uint32_t FramesOut() const { return GetLinkState()->sequence.load(); }

  CameraEnd end_;
};

// The same with the camera link down from the start.
class OperationsLinkDownTest : public OperationsTest {
 protected:
  bool LinkUpAtStart() const override { return false; }
};

using Lines = std::vector<std::string>;
