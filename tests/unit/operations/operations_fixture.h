// Shared set-up for the camera operation tests: a fresh camera end on loopback
// and the process state these operations read, reset before every test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/camera_link.h"
#include "camera/hud_state.h"
#include "camera/motion.h"
#include "config/shared_config.h"
#include "loopback.h"
#include "platform/shell.h"

class OperationsTest : public testing::Test {
 protected:
  void SetUp() override {
    CameraLink* link = GetCameraLink();
    link->source_mode = 0;
    link->lock_call_count = 0;
    link->gimbal_stopped = 1;
    link->pan_speed_wanted = link->tilt_speed_wanted = link->dutch_speed_wanted = 0;
    link->zoom_speed = link->zoom_level = link->optical_zoom_direction = 0;
    link->rc_pan_speed = link->rc_tilt_speed = 0;
    link->client_pan_speed = link->client_tilt_speed = 0;
    link->client_speed_driver = 0;
    link->shot_mode = link->shot_submode = link->shot_active = 0;
    link->focus_range = 0;
    link->focus_byte42 = 0;
    link->last_gimbal_speed_ms = 0;
    SharedConfig* config = GetSharedConfig();
    config->rc_input_inverse_pan = config->rc_input_inverse_tilt = config->rc_input_inverse_dutch = 0;
    HudState* hud = GetHudState();
    hud->work_mode = 0;
    hud->focus_mode = 0;
    hud->focus_x = hud->focus_y = 0.0;
    hud->focus_point_x = hud->focus_point_y = 0.0;
    hud->af_unlimited = 0;
    g_digital_zoom_asked = -1;
    g_rc_attitude_enabled = 1;
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
  uint32_t FramesOut() const { return GetCameraLink()->sequence.load(); }

  CameraEnd end_;
};

// The same with the camera link down from the start.
class OperationsLinkDownTest : public OperationsTest {
 protected:
  bool LinkUpAtStart() const override { return false; }
};

using Lines = std::vector<std::string>;
