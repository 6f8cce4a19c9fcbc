// Shared by the command tests: the camera's end of the link, read up to a
// marker datagram so that every test sees exactly the frames its call sent.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <string>
#include <vector>

#include "loopback.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "writable_records.h"

namespace commands_test {

constexpr char kMarker[] = "end-of-call";

// Datagrams on one loopback socket arrive in order: everything before the
// marker is what the box sent up to now.
inline std::vector<SentFrame> FramesSoFar(const CameraEnd& end) {
  SendTo(end.box_fd, end.camera_port, kMarker, sizeof kMarker - 1);
  std::vector<SentFrame> frames;
  for (;;) {
    pollfd p{end.camera_fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) {
      ADD_FAILURE() << "marker datagram never arrived";
      break;
    }
    uint8_t buf[2048];
    ssize_t n = recv(end.camera_fd, buf, sizeof buf, 0);
    if (n < 0) break;
    Datagram d(buf, buf + n);
    if (d == Datagram(kMarker, kMarker + sizeof kMarker - 1)) break;
    frames.push_back(DecodeSentFrame(d));
  }
  return frames;
}

inline std::vector<std::string> Texts(const std::vector<SentFrame>& frames) {
  std::vector<std::string> out;
  for (const SentFrame& f : frames) {
    EXPECT_TRUE(f.checksum_ok) << FrameText(f);
    out.push_back(FrameText(f));
  }
  return out;
}

inline std::vector<std::string> TextsSoFar(const CameraEnd& end) { return Texts(FramesSoFar(end)); }

// Common fixture: link up to a fresh camera end, sleeps skipped, the shared
// state that commands read or write put back to its start values.
class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRecords();
    WritableMotionIntent()->gimbal_stopped = 1;
    end_ = AttachCameraEnd(true);
    SkipSleepsForFuzzing(true);
    ShellTakeLog();
  }
  void TearDown() override {
    SkipSleepsForFuzzing(false);
    DetachCameraEnd(end_);
  }

  // Runs call with standard error captured; returns what it printed.
  template <typename F>
  std::string Logged(F call) {
    testing::internal::CaptureStderr();
    call();
    return testing::internal::GetCapturedStderr();
  }

  CameraEnd end_;
};

}  // namespace commands_test
