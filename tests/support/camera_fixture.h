// Shared set-up for the camera link tests: a clean link, HUD record and
// configuration, and camera frames built the way the camera sends them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "camera/usb_link.h"
#include "common/camera_frame.h"
#include "common/wire.h"
#include "loopback.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "platform/shell.h"
#include "records/client_table.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "viewer_end.h"
#include "writable_records.h"

// Every record as at process start, the gimbal known to stand still (so that no
// stop frame precedes what a test looks at), the pins and shell log cleared.
inline void ResetCameraState() {
  ResetRecords();
  WritableMotionIntent()->gimbal_stopped = 1;
  GpioSimReset();
  ShellTakeLog();
}
// A frame of the given total length from the camera (0x01) to the box (0x09),
// with bytes set at frame offsets and valid checksums.
inline std::vector<uint8_t> CameraMessage(size_t length, std::initializer_list<std::pair<size_t, uint8_t>> bytes = {},
                                          uint8_t set = 0x02, uint8_t id = 0x00) {
  std::vector<uint8_t> f(length);
  std::vector<uint8_t> payload(length - 13);
  BuildFrame(f.data(), f.size(), 0x01, 0x09, 0x00, set, id, 0, payload.data(), payload.size());
  for (auto [offset, value] : bytes) f[offset] = value;
  PutU16(f.data() + length - 2, CameraCrc16(f.data(), length - 2));
  return f;
}

// Feeds a frame as the camera sends it: tests patch fields after building, so
// the frame checksum is sealed here (the parser takes intact frames only).
inline void Feed(std::vector<uint8_t> frame) {
  if (frame.size() >= 13 && frame.size() <= 255) {
    PutU16(frame.data() + frame.size() - 2, CameraCrc16(frame.data(), frame.size() - 2));
  }
  ParseCameraDatagram(frame.data(), static_cast<uint16_t>(frame.size()));
}

// Fixture with a clean state, the camera end attached (link up) and one viewer.
class CameraLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetCameraState();
    camera_ = AttachCameraEnd(true);
    viewer_ = AttachViewer();
  }
  void TearDown() override {
    DetachViewer(viewer_);
    DetachCameraEnd(camera_);
  }
  // The viewer messages of one type, in order.
  std::vector<Datagram> ViewerMessages(uint8_t type) {
    std::vector<Datagram> out;
    for (auto& p : TakeViewerPayloads(viewer_)) {
      if (!p.empty() && p[0] == type) out.push_back(p);
    }
    return out;
  }
  CameraEnd camera_;
  ViewerEnd viewer_;
};

// The three 16-bit values of a 7-byte short message.
inline std::vector<int> Short16(const Datagram& m) {
  if (m.size() != 7) return {};
  return {GetI16(m.data() + 1), GetI16(m.data() + 3), GetI16(m.data() + 5)};
}
