#include <gtest/gtest.h>

#include "loopback.h"
#include "records/link_state.h"
#include "senders/camera_sender.h"
#include "writable_records.h"

namespace {

TEST(SendCameraFrame, NumbersAndChecksumsEachFrame) {
  CameraEnd end = AttachCameraEnd();
  WritableLinkState()->sequence = 0;
  constexpr FrameTemplate<14> kProbe = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x66, 0x00, 0, 0};
  static_assert(FrameTemplateValid(kProbe));
  EXPECT_TRUE(SendTemplateIfLinkUp(kProbe));
  EXPECT_TRUE(SendTemplateIfLinkUp(kProbe));
  auto frames = TakeFrames(end);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].sequence, 0);
  EXPECT_EQ(frames[1].sequence, 1);
  for (auto& f : frames) EXPECT_TRUE(f.checksum_ok);
  EXPECT_EQ(FrameText(frames[0]), "14 02>01 40 02:66 | 00");
  DetachCameraEnd(end);
}

TEST(SendCameraFrame, OnlyLowSixteenBitsOfTheCounterReachTheWire) {
  CameraEnd end = AttachCameraEnd();
  WritableLinkState()->sequence = 65536;
  uint8_t frame[13] = {0x55, 0x0D, 0x04, 0x33, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x72, 0, 0};
  SendCameraFrame(frame, sizeof frame);
  EXPECT_EQ(frame[6], 0);
  EXPECT_EQ(frame[7], 0);
  EXPECT_EQ(GetLinkState()->sequence.load(), 65537u);
  DetachCameraEnd(end);
}

TEST(SendCameraFrame, NothingLeavesWhileTheLinkIsDown) {
  CameraEnd end = AttachCameraEnd(false);
  constexpr FrameTemplate<13> kFormat = {0x55, 0x0D, 0x04, 0x33, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x72, 0, 0};
  EXPECT_FALSE(SendTemplateIfLinkUp(kFormat));
  EXPECT_TRUE(TakeFrames(end, 50, 100).empty());
  DetachCameraEnd(end);
}

TEST(SendCameraReply, KeepsTheCopiedSequence) {
  CameraEnd end = AttachCameraEnd();
  uint8_t frame[14] = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x01, 0x34, 0x12, 0x80, 0x09, 0x0E, 0x00, 0, 0};
  SendCameraReply(frame, sizeof frame);
  auto frames = TakeFrames(end);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].sequence, 0x1234);
  EXPECT_TRUE(frames[0].checksum_ok);
  DetachCameraEnd(end);
}

}  // namespace
